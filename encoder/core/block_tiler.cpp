#include "encoder/core/block_tiler.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "encoder/core/decomposition.h"
#include "encoder/core/dump_schedule.h"
#include "platform/error.h"
#include "platform/thread_pool.h"

namespace {

// Range of the leaf of subband `subband` along one axis, for a block whose root range is `root`.
AxisRange leaf_axis(const AxisRange& root, int nlev, int subband, bool horizontal) {
  const int child = subband_child_index(subband);
  const int last_band = horizontal ? child / 2 : child % 2;
  AxisRange r = root;
  for (int level = 1; level < subband_depth(subband, nlev); ++level) r = child_axis_range(r, 0);
  return child_axis_range(r, last_band);
}

[[noreturn]] void fail(const char* routine, int code) {
  std::fprintf(stderr, "Error %d in subroutine %s.\n", code, routine);
  throw Error(format_message("Error encountered in subroutine %s.", routine));
}

}  // namespace

BlockTiler::BlockTiler(const BlockGrid& grid, int nlev, int bands)
    : grid_(grid), nlev_(nlev), bands_(bands), subbands_(subband_count(nlev)) {
  totals_.resize(size_t(subbands_) * bands_);
}

void BlockTiler::transform_block(int64_t index, const float* planes) {
  TransformedBlock block = transform(index, planes);
  add_block(block);
}

TransformedBlock BlockTiler::transform(int64_t index, const float* planes) const {
  int column, row;
  BlockGrid::morton_cell(index, column, row);
  if (!grid_.in_image(column, row)) fail("split", 1);
  const BlockRect rect = grid_.rect(column, row);
  const size_t plane_size = size_t(rect.x1 - rect.x0 + 1) * (rect.y1 - rect.y0 + 1);
  TransformedBlock block;
  block.index = index;
  try {
    block.regions.resize(size_t(subbands_));
    block.stats.assign(size_t(subbands_) * bands_, CoefficientStatistics{});
    for (int b = 0; b < bands_; ++b) {
      std::unique_ptr<SubbandNode> root = tree_gen(1, nlev_);
      transform_band(index, planes + b * plane_size, *root);
      cut_band(b, *root, block);
    }
  } catch (const std::bad_alloc&) {
    throw Error("Memory allocation error.");
  }
  return block;
}

void BlockTiler::add_block(TransformedBlock& block) {
  const int64_t index = block.index;
  BlockState& state = blocks_[index];
  if (state.transformed || block.regions.size() != size_t(subbands_)) fail("split", 2);
  try {
    state.transformed = true;
    state.leaves = std::move(block.regions);
    state.stats = std::move(block.stats);
    for (size_t i = 0; i < totals_.size(); ++i) totals_[i].add(state.stats[i]);
    for (Piece& piece : block.pieces) send_piece(index, piece);
    std::vector<Piece>().swap(block.pieces);
    for (const Piece& piece : state.pending) add_piece(state, piece, false);
    std::vector<Piece>().swap(state.pending);
  } catch (const std::bad_alloc&) {
    throw Error("Memory allocation error.");
  }
}

void BlockTiler::transform_band(int64_t index, const float* plane, SubbandNode& root) const {
  int column, row;
  BlockGrid::morton_cell(index, column, row);
  const BlockRect rect = grid_.rect(column, row);
  const ImageEdges edges{column == 0, column == grid_.columns() - 1, row == 0,
                         row == grid_.rows() - 1};
  set_ranges(root, rect.x0, rect.x1, rect.y0, rect.y1, edges);
  const std::vector<SubbandNode*> leaves = subbands_in_order(root);
  // The overlap widths: own positions to which the right and lower neighbours still add.
  const bool right = !edges.right, lower = !edges.lower;
  const BlockRect rr = right ? grid_.rect(column + 1, row) : rect;
  const BlockRect lr = lower ? grid_.rect(column, row + 1) : rect;
  const AxisRange right_root{rr.x0, rr.x1, rr.x0, rr.x1, false, column + 2 == grid_.columns()};
  const AxisRange lower_root{lr.y0, lr.y1, lr.y0, lr.y1, false, row + 2 == grid_.rows()};
  for (int k = 0; k < subbands_; ++k) {
    SubbandNode& leaf = *leaves[size_t(k)];
    leaf.right_overlap = right ? leaf.x.own1 - leaf_axis(right_root, nlev_, k, true).ext0 + 1 : 0;
    leaf.lower_overlap = lower ? leaf.y.own1 - leaf_axis(lower_root, nlev_, k, false).ext0 + 1 : 0;
  }
  if (split(root, plane, rect.x1 - rect.x0 + 1, true) != 0) {
    throw Error("Error encountered in subroutine split.");
  }
}

void BlockTiler::cut_band(int band, SubbandNode& root, TransformedBlock& block) const {
  const std::vector<SubbandNode*> leaves = subbands_in_order(root);
  for (int k = 0; k < subbands_; ++k) {
    SubbandNode& leaf = *leaves[size_t(k)];
    if (band == 0) set_regions(block.index, k, leaf, block);
    for (Region& region : block.regions[size_t(k)]) {
      platform::FloatBuffer& out = region.data[size_t(band)];
      out.resize(size_t(region.area()));
      float* dst = out.data();
      for (int y = region.y0; region.area() && y <= region.y1; ++y) {
        const float* src = leaf.sample(region.x0, y);
        dst = std::copy(src, src + (region.x1 - region.x0 + 1), dst);
      }
    }
    block.stats[size_t(k) * bands_ + band] = leaf.stats;
    cut_borders(block.index, k, band, leaf, block);
    platform::FloatBuffer().swap(leaf.samples);
  }
}

void BlockTiler::set_regions(int64_t index, int subband, const SubbandNode& leaf,
                             TransformedBlock& block) const {
  int column, row;
  BlockGrid::morton_cell(index, column, row);
  const int cx = leaf.x.own1 - leaf.right_overlap, cy = leaf.y.own1 - leaf.lower_overlap;
  if (cx < leaf.x.own0 - 1 || cy < leaf.y.own0 - 1) fail("split", 3);
  auto finalizer = [&](int dc, int dr) {
    return grid_.in_image(column + dc, row + dr) ? BlockGrid::morton_index(column + dc, row + dr)
                                                 : index;
  };
  std::array<Region, 4>& r = block.regions[size_t(subband)];
  r[kMain] = {leaf.x.own0, cx, leaf.y.own0, cy, index, false, {}};
  r[kRight] = {cx + 1, leaf.x.own1, leaf.y.own0, cy, finalizer(1, 0), false, {}};
  r[kLower] = {leaf.x.own0, cx, cy + 1, leaf.y.own1, finalizer(0, 1), false, {}};
  r[kCorner] = {cx + 1, leaf.x.own1, cy + 1, leaf.y.own1, finalizer(1, 1), false, {}};
  for (Region& region : r) region.data.resize(size_t(bands_));
}

// The leaf's coefficients outside its own rectangle belong to the eight neighbours.
void BlockTiler::cut_borders(int64_t index, int subband, int band, SubbandNode& leaf,
                             TransformedBlock& block) const {
  int column, row;
  BlockGrid::morton_cell(index, column, row);
  const int xs[3][2] = {{leaf.x.ext0, leaf.x.own0 - 1}, {leaf.x.own0, leaf.x.own1},
                        {leaf.x.own1 + 1, leaf.x.ext1}};
  const int ys[3][2] = {{leaf.y.ext0, leaf.y.own0 - 1}, {leaf.y.own0, leaf.y.own1},
                        {leaf.y.own1 + 1, leaf.y.ext1}};
  for (int dr = -1; dr <= 1; ++dr) {
    for (int dc = -1; dc <= 1; ++dc) {
      const int* x = xs[dc + 1];
      const int* y = ys[dr + 1];
      if ((dc == 0 && dr == 0) || x[1] < x[0] || y[1] < y[0]) continue;
      if (!grid_.in_image(column + dc, row + dr)) fail("correct", 1);
      Piece piece{subband, band, x[0], x[1], y[0], y[1],
                  BlockGrid::morton_index(column + dc, row + dr), {}};
      piece.data.reserve(size_t(x[1] - x[0] + 1) * (y[1] - y[0] + 1));
      for (int gy = y[0]; gy <= y[1]; ++gy) {
        const float* src = leaf.sample(x[0], gy);
        piece.data.insert(piece.data.end(), src, src + (x[1] - x[0] + 1));
      }
      block.pieces.push_back(std::move(piece));
    }
  }
}

// Adds a piece at once to a neighbour already transformed, else keeps it for the neighbour.
void BlockTiler::send_piece(int64_t index, Piece& piece) {
  auto it = blocks_.find(piece.target);
  if (it != blocks_.end() && it->second.transformed) {
    add_piece(it->second, piece, true);
  } else if (piece.target < index) {
    fail("correct", 2);  // an earlier block already gave up that rectangle
  } else {
    blocks_[piece.target].pending.push_back(std::move(piece));
  }
}

// Adds a contribution into the regions it covers. Into a block already corrected, only its
// pending strips may still receive anything.
void BlockTiler::add_piece(BlockState& target, const Piece& piece, bool pending_only) {
  int64_t covered = 0;
  const int pw = piece.x1 - piece.x0 + 1;
  for (int kind = kMain; kind <= kCorner; ++kind) {
    Region& region = target.leaves[size_t(piece.subband)][size_t(kind)];
    const int x0 = std::max(region.x0, piece.x0), x1 = std::min(region.x1, piece.x1);
    const int y0 = std::max(region.y0, piece.y0), y1 = std::min(region.y1, piece.y1);
    if (x1 < x0 || y1 < y0) continue;
    if (region.written || (pending_only && kind == kMain)) fail("correct", 3);
    float* data = region.data[size_t(piece.band)].data();
    const int rw = region.x1 - region.x0 + 1;
    for (int y = y0; y <= y1; ++y) {
      float* dst = data + size_t(y - region.y0) * rw + (x0 - region.x0);
      const float* src = piece.data.data() + size_t(y - piece.y0) * pw + (x0 - piece.x0);
      for (int i = 0; i <= x1 - x0; ++i) dst[i] += src[i];
    }
    covered += int64_t(x1 - x0 + 1) * (y1 - y0 + 1);
  }
  if (covered != int64_t(pw) * (piece.y1 - piece.y0 + 1)) fail("correct", 4);
}

void BlockTiler::dump(int64_t index, RecordSink& sink, const std::function<void()>& poll) {
  for (int k : set_dump_list(nlev_, index)) {
    if (poll) poll();
    dump_subband(index, k, sink);
  }
  release_finished();
}

void BlockTiler::dump_subband(int64_t index, int k, RecordSink& sink) {
  struct Part {
    BlockState* block;
    Region* region;
    bool strip;
  };
  std::vector<Part> parts;
  SubbandRecordData record;
  record.subband = k;
  int64_t area = 0;
  for (auto& [block_index, state] : blocks_) {
    if (!state.transformed) continue;
    for (int kind = kMain; kind <= kCorner; ++kind) {
      Region& r = state.leaves[size_t(k)][size_t(kind)];
      if (r.empty() || r.written || (index >= 0 && r.finalizer > index)) continue;
      if (parts.empty()) {
        record.x0 = r.x0, record.x1 = r.x1, record.y0 = r.y0, record.y1 = r.y1;
      }
      record.x0 = std::min(record.x0, r.x0), record.x1 = std::max(record.x1, r.x1);
      record.y0 = std::min(record.y0, r.y0), record.y1 = std::max(record.y1, r.y1);
      parts.push_back({&state, &r, kind != kMain});
      area += r.area();
    }
  }
  if (parts.empty()) return;
  // The regions are disjoint pieces of the subband, so equal areas mean they tile the box.
  if (area != int64_t(record.width()) * record.height()) fail("assemble", 1);
  try {
    record.statistics.assign(size_t(subbands_) * bands_, CoefficientStatistics{});
    record.parts.reserve(parts.size());
  } catch (const std::bad_alloc&) {
    throw Error("Memory allocation error.");
  }
  for (Part& part : parts) {
    Region& r = *part.region;
    // Strips are counted once final: they were left out when their leaf was transformed.
    for (int b = 0; part.strip && b < bands_; ++b) {
      CoefficientStatistics& stats = part.block->stats[size_t(k) * bands_ + b];
      CoefficientStatistics& total = totals_[size_t(k) * bands_ + b];
      for (float v : r.data[size_t(b)]) stats.add(v), total.add(v);
    }
    record.parts.push_back({r.x0, r.x1, r.y0, r.y1, std::move(r.data)});
    r.data.clear();
    r.written = true;
  }
  std::vector<BlockState*> contributors;
  for (const Part& part : parts) contributors.push_back(part.block);
  std::sort(contributors.begin(), contributors.end());
  contributors.erase(std::unique(contributors.begin(), contributors.end()), contributors.end());
  for (const BlockState* block : contributors)
    for (size_t i = 0; i < record.statistics.size(); ++i) record.statistics[i].add(block->stats[i]);
  if (!sink.takes_parts()) record.assemble();
  sink.write_record(record);
}

void SubbandRecordData::assemble() {
  if (parts.empty()) return;
  const size_t w = size_t(width());
  const Part& first = parts.front();
  if (parts.size() == 1 && first.x0 == x0 && first.x1 == x1 && first.y0 == y0 && first.y1 == y1) {
    bands = std::move(parts.front().bands);  // one piece: already in place
    parts.clear();
    return;
  }
  try {
    bands.resize(parts.front().bands.size());
    for (platform::FloatBuffer& plane : bands) plane.resize(w * size_t(height()));
  } catch (const std::bad_alloc&) {
    throw Error("Memory allocation error.");
  }
  for (const Part& part : parts) {
    const size_t pw = size_t(part.x1 - part.x0 + 1);
    for (size_t b = 0; b < bands.size(); ++b) {
      const float* src = part.bands[b].data();
      float* dst = bands[b].data() + size_t(part.y0 - y0) * w + size_t(part.x0 - x0);
      for (int y = part.y0; y <= part.y1; ++y, src += pw, dst += w) std::copy(src, src + pw, dst);
    }
  }
  parts.clear();
}

void BlockTiler::release_finished() {
  for (auto it = blocks_.begin(); it != blocks_.end();) {
    bool done = it->second.transformed && it->second.pending.empty();
    for (const auto& regions : it->second.leaves)
      for (const Region& r : regions) done = done && (r.empty() || r.written);
    it = done ? blocks_.erase(it) : std::next(it);
  }
}

size_t BlockTiler::held_coefficients() const {
  size_t n = 0;
  for (const auto& [index, state] : blocks_) {
    for (const Piece& piece : state.pending) n += piece.data.size();
    for (const auto& regions : state.leaves)
      for (const Region& r : regions)
        for (const auto& plane : r.data) n += plane.size();
  }
  return n;
}

void decompose_blocks(const BlockGrid& grid, int bands, const BlockSource& source,
                      RecordSink& sink, BlockTiler& tiler, const StepCheck& check,
                      const std::function<void(float)>& progress, float progress_start,
                      float progress_end, platform::ThreadPool* pool) {
  const int64_t total = grid.blocks_in_image();
  auto read_and_transform = [&grid, &source, &tiler, bands](int64_t i) {
    int column, row;
    BlockGrid::morton_cell(i, column, row);
    const BlockRect rect = grid.rect(column, row);
    platform::FloatBuffer planes(size_t(bands) * (rect.x1 - rect.x0 + 1) * (rect.y1 - rect.y0 + 1));
    source(rect, planes);
    return tiler.transform(i, planes.data());
  };
  // Blocks of the image in Morton order, and how many of them have been handed out.
  std::vector<int64_t> order;
  order.reserve(size_t(total));
  for (int64_t i = 0; i < grid.node_count(); ++i) {
    int column, row;
    BlockGrid::morton_cell(i, column, row);
    if (grid.in_image(column, row)) order.push_back(i);
  }
  const bool parallel = pool && pool->workers() > 0;
  platform::OrderedResults<TransformedBlock> ahead(parallel ? size_t(pool->workers()) : 1);
  size_t started = 0;
  int64_t done = 0;
  for (int64_t i = 0; i < grid.node_count(); ++i) {
    int column, row;
    BlockGrid::morton_cell(i, column, row);
    if (grid.in_image(column, row)) {
      if (progress)
        progress(progress_start + float(done) / float(total) * (progress_end - progress_start));
      if (check) check();
      TransformedBlock block;
      if (parallel) {
        auto start_next = [&] {
          const int64_t next = order[started++];
          ahead.add(pool->submit([&read_and_transform, next] { return read_and_transform(next); }));
        };
        while (started < order.size() && !ahead.full()) start_next();
        block = ahead.take();
        // The freed place is taken at once, so that no worker waits while this block is filed.
        if (started < order.size()) start_next();
      } else {
        block = read_and_transform(i);
      }
      if (check) check();
      tiler.add_block(block);
      ++done;
    }
    tiler.dump(i, sink, check);
  }
  tiler.dump(-1, sink, check);
}
