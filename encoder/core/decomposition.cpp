#include "encoder/core/decomposition.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/avx2_clones.h"
#include "platform/error.h"
#include "platform/uninitialized_allocator.h"

namespace {

// Columns transformed together in the vertical pass: enough for wide vector work, few enough
// that a strip of a block stays in cache through the four lifting steps.
constexpr int kColumnStrip = 64;

// The symmetric extension reaches 5 samples beyond a line end and needs them inside the line.
int check_line(int count, LineEnd near, LineEnd far) {
  if (far == LineEnd::kSymmetric && count < 6) {
    std::fputs("Error 1 in subroutine conv_ds.\n", stderr);
    return 1;
  }
  if (near == LineEnd::kSymmetric && count < 5) {
    std::fputs("Error 2 in subroutine conv_ds.\n", stderr);
    return 1;
  }
  return 0;
}

LineEnd near_end(const AxisRange& r) { return r.near_edge ? LineEnd::kSymmetric : LineEnd::kZero; }
LineEnd far_end(const AxisRange& r) { return r.far_edge ? LineEnd::kSymmetric : LineEnd::kZero; }

// Positions of the parent's level through which the transform of a node runs: every position
// that one of its children's extended ranges maps back to. Beyond the node's own extended range
// these hold zeros, so the partial coefficients near the block edges come out complete.
struct Span {
  int start, end;
  int size() const { return end - start + 1; }
};

Span work_span(const AxisRange& low, const AxisRange& high) {
  return Span{2 * std::min(low.ext0, high.ext0), std::max(2 * low.ext1, 2 * high.ext1 + 1)};
}

// The work grid of one tree depth, per thread: reused from block to block, so the transform
// neither faults in fresh pages nor clears memory that it overwrites.
float* work_grid(int depth, size_t count) {
  thread_local std::vector<platform::FloatBuffer> grids;
  if (grids.size() <= size_t(depth)) grids.resize(size_t(depth) + 1);
  platform::FloatBuffer& grid = grids[size_t(depth)];
  if (grid.size() < count) grid.resize(count);
  return grid.data();
}

// After the passes a row of the work grid holds the horizontal low band, then the high band;
// rows of either parity alternate. Child (h, v) starts here, one of its rows every two rows.
float* child_origin(float* work, Span sx, Span sy, const SubbandNode& child, int h,
                          int v) {
  const int low_count = (sx.size() + 1) / 2;
  const int column = (h == 0 ? 0 : low_count) + (child.x.ext0 - sx.start / 2);
  return work + static_cast<std::ptrdiff_t>(2 * child.y.ext0 + v - sy.start) * sx.size() + column;
}

void take_child(const float* from, std::ptrdiff_t pitch, SubbandNode& child) {
  const size_t w = size_t(child.x.ext_size());
  child.samples.resize(w * size_t(child.y.ext_size()));
  float* to = child.samples.data();
  for (int gy = child.y.ext0; gy <= child.y.ext1; ++gy, from += pitch, to += w)
    std::memcpy(to, from, sizeof(float) * w);
}

// Samples 0, 2, 4, ... of `in` to `first`, 1, 3, ... to `second`; none of them overlap.
VEXAL_AVX2_CLONES void deal(const float* __restrict in, int n, float* __restrict first,
                            float* __restrict second) {
  for (int i = 0; 2 * i < n; ++i) first[i] = in[2 * i];
  for (int i = 0; 2 * i + 1 < n; ++i) second[i] = in[2 * i + 1];
}

// Splits `node`, whose samples over its extended range are given at `src` with `pitch`; with
// `below`, its split children are split in turn straight from the work grid, and with
// `in_place` its leaves stay there as views.
int split_from(SubbandNode& node, const float* src, std::ptrdiff_t pitch, bool below,
               bool in_place) {
  Span sx = work_span(node.children[0]->x, node.children[2]->x);
  Span sy = work_span(node.children[0]->y, node.children[1]->y);
  bool empty_child = false;
  for (const auto& child : node.children) {
    empty_child = empty_child || child->x.ext_size() < 1 || child->y.ext_size() < 1;
  }
  if (empty_child || node.x.ext_size() < 1 || node.y.ext_size() < 1 || sx.start > node.x.ext0 ||
      sx.end < node.x.ext1 || sy.start > node.y.ext0 || sy.end < node.y.ext1) {
    std::fputs("Error 1 in subroutine split_node.\n", stderr);
    return 1;
  }
  if (check_line(sx.size(), near_end(node.x), far_end(node.x)) ||
      check_line(sy.size(), near_end(node.y), far_end(node.y))) {
    return 1;
  }
  // sx.start is even, so a row's low band starts at its first sample.
  const int width = sx.size();
  const int low_count = (width + 1) / 2;
  float* work = work_grid(node.depth, size_t(width) * size_t(sy.size()));
  // Positions of the work span outside the node's extended range count as zero.
  for (int gy = sy.start; gy <= sy.end; ++gy) {
    if (gy >= node.y.ext0 && gy <= node.y.ext1) continue;
    std::fill_n(work + static_cast<std::ptrdiff_t>(gy - sy.start) * width, width, 0.0f);
  }
  const int p0 = node.x.ext0 - sx.start, n = node.x.ext_size();
  for (int gy = node.y.ext0; gy <= node.y.ext1; ++gy) {
    float* low = work + static_cast<std::ptrdiff_t>(gy - sy.start) * width;
    float* high = low + low_count;
    const float* in = src + (gy - node.y.ext0) * pitch;
    // Even positions are the low half's, odd ones the high half's. Written as ranges, not as
    // a conditional pointer indexed in place: GCC 12's -fsanitize=undefined miscompiles that
    // form (the index is evaluated in one arm only).
    const int q = p0 + n, h0 = p0 >> 1;
    std::fill(low, low + (p0 + 1) / 2, 0.0f);
    std::fill(high, high + p0 / 2, 0.0f);
    std::fill(low + (q + 1) / 2, low + low_count, 0.0f);
    std::fill(high + q / 2, high + width / 2, 0.0f);
    float* first = (p0 & 1) ? high + h0 : low + h0;
    float* second = (p0 & 1) ? low + h0 + 1 : high + h0;
    deal(in, n, first, second);
    lift97_forward_split(low, high, sx.start, width, near_end(node.x), far_end(node.x));
  }
  for (int c0 = 0; c0 < width; c0 += kColumnStrip) {
    lift97_forward_lanes(work + c0, sy.start, sy.size(), width, std::min(kColumnStrip, width - c0),
                         near_end(node.y), far_end(node.y));
  }
  platform::FloatBuffer().swap(node.samples);
  for (int c = 0; c < 4; ++c) {
    SubbandNode& child = *node.children[c];
    float* from = child_origin(work, sx, sy, child, c / 2, c % 2);
    if (below && child.is_split) {
      if (split_from(child, from, 2 * std::ptrdiff_t(width), true, in_place)) return 1;
    } else if (in_place) {
      child.view = from;
      child.view_pitch = 2 * std::ptrdiff_t(width);
    } else {
      take_child(from, 2 * std::ptrdiff_t(width), child);
    }
  }
  return 0;
}

// Sums of one row: two interleaved accumulators per sum, each started at zero.
struct RowSums {
  double s0 = 0, s1 = 0, q0 = 0, q1 = 0;
};

using Float2 = float __attribute__((vector_size(8)));
using Double4 = double __attribute__((vector_size(32)));

// The sums of two rows side by side, lanes (first row's s0, s1, second row's s0, s1): each lane
// adds the same values in the same order as the scalar sums, four at a time.
struct RowPairSums {
  Double4 s{}, q{};

  VEXAL_INLINE void add(const float* a, const float* b, int i) {
    Float2 x, y;
    std::memcpy(&x, a + i, sizeof x);
    std::memcpy(&y, b + i, sizeof y);
    const Double4 v = __builtin_convertvector(__builtin_shufflevector(x, y, 0, 1, 2, 3), Double4);
    s += v;
    q += v * v;
  }
  RowSums first() const { return RowSums{s[0], s[1], q[0], q[1]}; }
  RowSums second() const { return RowSums{s[2], s[3], q[2], q[3]}; }
};

// The odd sample left at the end of a row goes to its first accumulators.
VEXAL_INLINE void add_last(RowSums& r, const float* row, int n) {
  if (n & 1) r.s0 += row[n - 1], r.q0 += double(row[n - 1]) * row[n - 1];
}

// Four rows at a time, in two independent pairs so that more adds are in flight; the rows'
// sums are added to the statistics in row order, as row by row.
VEXAL_AVX2_CLONES void gather_leaf(SubbandNode& leaf) {
  int x1 = leaf.x.own1 - leaf.right_overlap;
  int y1 = leaf.y.own1 - leaf.lower_overlap;
  const int n = x1 - leaf.x.own0 + 1;
  if (n <= 0) return;
  auto add = [&leaf, n](const RowSums& r) {
    leaf.stats.count += n;
    leaf.stats.sum += r.s0 + r.s1;
    leaf.stats.sum_squares += r.q0 + r.q1;
  };
  const int even = n & ~1;
  int gy = leaf.y.own0;
  for (; gy + 3 <= y1; gy += 4) {
    const float* r[4];
    for (int k = 0; k < 4; ++k) r[k] = leaf.sample(leaf.x.own0, gy + k);
    RowPairSums p, u;
    for (int i = 0; i < even; i += 2) {
      p.add(r[0], r[1], i);
      u.add(r[2], r[3], i);
    }
    RowSums sums[4] = {p.first(), p.second(), u.first(), u.second()};
    for (int k = 0; k < 4; ++k) {
      add_last(sums[k], r[k], n);
      add(sums[k]);
    }
  }
  for (; gy + 1 <= y1; gy += 2) {
    const float* row = leaf.sample(leaf.x.own0, gy);
    const float* next = leaf.sample(leaf.x.own0, gy + 1);
    RowPairSums p;
    for (int i = 0; i < even; i += 2) p.add(row, next, i);
    RowSums a = p.first(), b = p.second();
    add_last(a, row, n);
    add_last(b, next, n);
    add(a);
    add(b);
  }
  if (gy <= y1) {
    const float* row = leaf.sample(leaf.x.own0, gy);
    RowSums r;
    for (int i = 0; i < even; i += 2) {
      const double a = row[i], b = row[i + 1];
      r.s0 += a, r.s1 += b;
      r.q0 += a * a, r.q1 += b * b;
    }
    add_last(r, row, n);
    add(r);
  }
}

}  // namespace

int conv_ds(float* line, int start, int count, LineEnd near, LineEnd far) {
  if (check_line(count, near, far)) return 1;
  lift97_forward(line, start, count, near, far);
  return 0;
}

int split_node(SubbandNode& node) {
  if (!node.is_split) return 0;
  if (node.samples.size() != static_cast<size_t>(node.x.ext_size()) * node.y.ext_size()) {
    std::fputs("Error 2 in subroutine split_node.\n", stderr);
    return 1;
  }
  return split_from(node, node.samples.data(), node.pitch(), false, false);
}

int split(SubbandNode& root, const float* plane, std::ptrdiff_t pitch, bool in_place) {
  try {
    if (root.is_split) {
      if (split_from(root, plane, pitch, true, in_place)) return 1;
    } else {
      root.samples.resize(static_cast<size_t>(root.x.ext_size()) * root.y.ext_size());
      for (int r = 0; r < root.y.ext_size(); ++r) {
        std::memcpy(root.sample(root.x.ext0, root.y.ext0 + r), plane + r * pitch,
                    sizeof(float) * root.x.ext_size());
      }
    }
  } catch (const std::bad_alloc&) {
    throw Quorvale::Exception("Memory allocation error.");
  }
  gather_statistics(root);
  return 0;
}

void gather_statistics(SubbandNode& root) {
  for (SubbandNode* leaf : subbands_in_order(root)) gather_leaf(*leaf);
}
