#include "decoder/coefficient_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "codec/block_coder.h"
#include "codec/dither.h"
#include "codec/failure_lines.h"
#include "codec/sq_inv.h"
#include "decoder/record_cache.h"
#include "decoder/subband_geometry.h"
#include "platform/interrupt.h"

namespace {

bool overlaps(const VxlBlock& b, const CoefficientWindow& w) {
  return !(b.x1 < w.x0 || b.x0 > w.x1 || b.y1 < w.y0 || b.y0 > w.y1);
}

bool overlaps(const CoefficientWindow& r, const CoefficientWindow& w) {
  return !(r.x1 < w.x0 || r.x0 > w.x1 || r.y1 < w.y0 || r.y0 > w.y1);
}

// The record's stream ends where the next record of its part begins (writers put them one
// after another, in order), the last where the next structure begins.
ByteRange record_range(const VxlFile& f, const BandPart& p, size_t r) {
  const uint64_t start = p.record_offsets[r];
  return {start, r + 1 < p.record_offsets.size() ? p.record_offsets[r + 1]
                                                 : f.end_of_structure(start)};
}

// Calls visit(block index, band part offset) for each coded part of `band` overlapping `w`.
template <typename F>
void for_each_part(const VxlSubband& s, int band, const CoefficientWindow& w, F&& visit) {
  for (size_t bi = 0; bi < s.blocks.size(); ++bi) {
    const uint32_t offset = s.blocks[bi].band_offsets[size_t(band)];
    if (offset != 0 && overlaps(s.blocks[bi], w)) visit(bi, offset);
  }
}

}  // namespace

FetchedBytes fetch_records(const VxlFile& file, const std::vector<SubbandWindow>& windows,
                           RecordCache* cache) {
  std::vector<std::pair<const VxlBlock*, uint32_t>> parts;
  for (const SubbandWindow& sw : windows)
    for (int band = 0; band < file.bands(); ++band) {
      const VxlSubband& s = file.subbands()[size_t(sw.subband)];
      for_each_part(s, band, sw.window,
                    [&](size_t bi, uint32_t offset) { parts.emplace_back(&s.blocks[bi], offset); });
    }
  FetchedBytes bytes;
  file.load_parts(parts, &bytes);
  std::vector<ByteRange> ranges;
  for (const SubbandWindow& sw : windows)
    for (int band = 0; band < file.bands(); ++band) {
      const VxlSubband& s = file.subbands()[size_t(sw.subband)];
      for_each_part(s, band, sw.window, [&](size_t bi, uint32_t offset) {
        const std::shared_ptr<const BandPart> p = file.part(s.blocks[bi], offset);
        for (size_t r = 0; r < p->record_offsets.size(); ++r)
          if (overlaps(p->record_rect(s.blocks[bi], r), sw.window) &&
              !(cache && cache->contains(sw.subband, band, bi, r))) {
            const ByteRange range = record_range(file, *p, r);
            if (bytes.find(range.offset, range.end - range.offset).empty()) ranges.push_back(range);
          }
      });
    }
  file.fetch(ranges, bytes);
  return bytes;
}

void decode_record(const VxlFile& f, const BandPart& p, size_t r, std::vector<int16_t>& indices,
                   const FetchedBytes* records) {
  const ByteRange range = record_range(f, p, r);
  std::span<const uint8_t> bytes =
      records ? records->find(range.offset, range.end - range.offset) : std::span<const uint8_t>{};
  std::vector<uint8_t> read;
  if (bytes.empty()) {
    read = f.read(range.offset, range.end);
    bytes = read;
  }
  size_t count = 0;
  if (!p.decoder || expand_data(bytes, *p.decoder, indices, count) != 0 ||
      count != indices.size())
    f.damaged("coded record at offset " + std::to_string(p.record_offsets[r]) +
              failure_line_suffix());
}

int64_t coded_area(const VxlFile& file, int subband, int band, const CoefficientWindow& w) {
  const VxlSubband& s = file.subbands()[size_t(subband)];
  int64_t area = 0;
  for_each_part(s, band, w, [&](size_t bi, uint32_t offset) {
    const VxlBlock& block = s.blocks[bi];
    const std::shared_ptr<const BandPart> p = file.part(block, offset);
    for (size_t r = 0; r < p->record_offsets.size(); ++r) {
      const CoefficientWindow rr = p->record_rect(block, r);
      if (overlaps(rr, w))
        area += int64_t(std::min(rr.x1, w.x1) - std::max(rr.x0, w.x0) + 1) *
                (std::min(rr.y1, w.y1) - std::max(rr.y0, w.y0) + 1);
    }
  });
  return area;
}

platform::FloatBuffer read_coefficients(const VxlFile& file, int subband, int band,
                                        const CoefficientWindow& w, bool dithered,
                                        RecordCache* cache, const FetchedBytes* records) {
  platform::FloatBuffer out(size_t(w.width()) * size_t(w.height()));
  // Records do not overlap: where they cover the window, every value is copied below.
  if (coded_area(file, subband, band, w) != int64_t(out.size())) std::fill(out.begin(), out.end(), 0.0f);
  const VxlSubband& s = file.subbands()[size_t(subband)];
  const DitherOffsets offsets{s.dither_x, s.dither_y};
  std::vector<int16_t> indices;
  for_each_part(s, band, w, [&](size_t bi, uint32_t offset) {
    platform::throw_if_interrupted();
    const VxlBlock& block = s.blocks[bi];
    const std::shared_ptr<const BandPart> p = file.part(block, offset);
    for (size_t r = 0; r < p->record_offsets.size(); ++r) {
      const CoefficientWindow rr = p->record_rect(block, r);
      if (!overlaps(rr, w)) continue;
      const int rw = rr.width();
      RecordCache::Values values = cache ? cache->find(subband, band, bi, r) : nullptr;
      if (!values) {
        // Every index is written, or the record is damaged: no zero fill.
        indices.resize(size_t(rw) * size_t(rr.height()));
        decode_record(file, *p, r, indices, records);
        auto decoded = std::make_shared<platform::FloatBuffer>(indices.size());
        sq_inv(indices.data(), indices.size(), p->step, decoded->data());
        if (dithered && band == 0)
          remove_dither(decoded->data(), rr.x0, rr.x1, rr.y0, rr.y1, p->step, &offsets);
        values = std::move(decoded);
        if (cache) cache->insert(subband, band, bi, r, values);
      }
      const int xa = std::max(rr.x0, w.x0), xe = std::min(rr.x1, w.x1);
      for (int y = std::max(rr.y0, w.y0); y <= std::min(rr.y1, w.y1); ++y)
        std::copy_n(values->data() + size_t(y - rr.y0) * size_t(rw) + size_t(xa - rr.x0),
                    xe - xa + 1, out.data() + size_t(y - w.y0) * size_t(w.width()) + size_t(xa - w.x0));
    }
  });
  return out;
}

SubbandSummary summarize_subband(const VxlFile& file, int subband) {
  SubbandSummary sum;
  bool first = true;
  for (const VxlBlock& block : file.subbands()[size_t(subband)].blocks) {
    ++sum.blocks;
    for (uint32_t offset : block.band_offsets) {
      if (offset == 0) continue;
      const std::shared_ptr<const BandPart> p = file.part(block, offset);
      sum.records += int(p->record_offsets.size());
      sum.min_step = first ? p->step : std::min(sum.min_step, p->step);
      sum.max_step = first ? p->step : std::max(sum.max_step, p->step);
      first = false;
    }
  }
  return sum;
}
