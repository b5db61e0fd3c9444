#include "decoder/coefficient_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "decoder/record_cache.h"
#include "decoder/subband_geometry.h"
#include "encoder/core/dither.h"
#include "encoder/core/sq_inv.h"
#include "encoder/format/block_coder.h"
#include "encoder/format/failure_lines.h"
#include "encoder/format/ht_desc_io.h"
#include "platform/interrupt.h"

namespace {

uint32_t read_u32(const VxlFile& f) {
  uint8_t b[4];
  if (std::fread(b, 1, 4, f.stream()) != 4) f.damaged("unexpected end of file");
  return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

}  // namespace

CoefficientWindow BandPart::record_rect(const VxlBlock& block, size_t r) const {
  const int x0 = block.x0 + int(r % size_t(records_across)) * record_width;
  const int y0 = block.y0 + int(r / size_t(records_across)) * record_height;
  return {x0, y0, std::min(x0 + record_width - 1, block.x1), std::min(y0 + record_height - 1, block.y1)};
}

BandPart read_band_part(const VxlFile& f, const VxlBlock& block, uint32_t offset) {
  f.seek(offset);
  uint8_t m[2];
  if (std::fread(m, 1, 2, f.stream()) != 2 || m[0] != 0xFF || m[1] != 0xAA)
    f.damaged("no block header marker at offset " + std::to_string(offset));
  BandPart p;
  // A non-finite step would turn every coefficient into NaN or infinity.
  if (read_ht_desc_fields(f.stream(), p.desc) != 0 || read_float(f.stream(), p.step) != 0 ||
      !std::isfinite(p.step))
    f.damaged("block header at offset " + std::to_string(offset) + failure_line_suffix());
  const uint32_t rw = read_u32(f), rh = read_u32(f);
  // Writers use 128 x 128; the bound keeps a hostile header from sizing huge buffers.
  if (rw < 1 || rh < 1 || rw > 4096 || rh > 4096)
    f.damaged("record size at offset " + std::to_string(offset));
  p.record_width = int(rw);
  p.record_height = int(rh);
  const int64_t bw = int64_t(block.x1) - block.x0 + 1, bh = int64_t(block.y1) - block.y0 + 1;
  const int64_t across = (bw + rw - 1) / rw, down = (bh + rh - 1) / rh;
  // Each record takes 4 bytes of table: a count the file cannot hold is damage, found before
  // the table is sized from it.
  if (uint64_t(across) * uint64_t(down) * 4 > f.size())
    f.damaged("record count at offset " + std::to_string(offset));
  p.records_across = int(across);
  p.record_offsets.resize(size_t(across) * size_t(down));
  // Writers put the records one after another behind the table, so offsets rise strictly; a
  // table naming one stream many times would make a small file decode without end.
  uint64_t previous = offset;
  for (uint32_t& o : p.record_offsets) {
    o = read_u32(f);
    if (o >= f.size()) f.damaged("record offset outside the file");
    if (o <= previous) f.damaged("record offsets out of order at offset " + std::to_string(offset));
    previous = o;
  }
  return p;
}

void decode_record(const VxlFile& f, const BandPart& p, size_t r, std::vector<int16_t>& indices) {
  const uint32_t start = p.record_offsets[r];
  // The record's stream ends before the next record of the part or the next structure.
  uint64_t end = f.end_of_structure(start);
  for (uint32_t o : p.record_offsets)
    if (o > start) end = std::min<uint64_t>(end, o);
  f.seek(start);
  size_t count = 0;
  if (expand_data(f.stream(), p.desc, indices, count, end - start) != 0 || count != indices.size())
    f.damaged("coded record at offset " + std::to_string(p.record_offsets[r]) +
              failure_line_suffix());
  // A record ends where the next one begins; running into it means the two overlap.
  if (r + 1 < p.record_offsets.size() && ftello(f.stream()) > off_t(p.record_offsets[r + 1]))
    f.damaged("coded record at offset " + std::to_string(p.record_offsets[r]) +
              " runs into the next");
}

platform::FloatBuffer read_coefficients(const VxlFile& file, int subband, int band,
                                        const CoefficientWindow& w, bool dithered,
                                        RecordCache* cache) {
  platform::FloatBuffer out(size_t(w.width()) * size_t(w.height()), 0.0f);
  const VxlSubband& s = file.subbands()[size_t(subband)];
  std::vector<int16_t> indices;
  for (size_t bi = 0; bi < s.blocks.size(); ++bi) {
    const VxlBlock& block = s.blocks[bi];
    const uint32_t offset = block.band_offsets[size_t(band)];
    if (offset == 0 || block.x1 < w.x0 || block.x0 > w.x1 || block.y1 < w.y0 || block.y0 > w.y1)
      continue;
    platform::throw_if_interrupted();
    std::shared_ptr<const BandPart> p = cache ? cache->find_part(subband, band, bi) : nullptr;
    if (!p) {
      p = std::make_shared<const BandPart>(read_band_part(file, block, offset));
      if (cache) cache->insert_part(subband, band, bi, p);
    }
    const DitherOffsets offsets{s.dither_x, s.dither_y};
    for (size_t r = 0; r < p->record_offsets.size(); ++r) {
      const CoefficientWindow rr = p->record_rect(block, r);
      const int rx0 = rr.x0, ry0 = rr.y0, rx1 = rr.x1, ry1 = rr.y1;
      if (rx1 < w.x0 || rx0 > w.x1 || ry1 < w.y0 || ry0 > w.y1) continue;
      const int rw = rx1 - rx0 + 1;
      RecordCache::Values values = cache ? cache->find(subband, band, bi, r) : nullptr;
      if (!values) {
        indices.assign(size_t(rw) * size_t(ry1 - ry0 + 1), 0);
        decode_record(file, *p, r, indices);
        auto decoded = std::make_shared<std::vector<float>>(indices.size());
        sq_inv(indices.data(), indices.size(), p->step, decoded->data());
        if (dithered && band == 0)
          remove_dither(decoded->data(), rx0, rx1, ry0, ry1, p->step, &offsets);
        values = std::move(decoded);
        if (cache) cache->insert(subband, band, bi, r, values);
      }
      for (int y = std::max(ry0, w.y0); y <= std::min(ry1, w.y1); ++y)
        for (int x = std::max(rx0, w.x0); x <= std::min(rx1, w.x1); ++x)
          out[size_t(y - w.y0) * size_t(w.width()) + size_t(x - w.x0)] =
              (*values)[size_t(y - ry0) * size_t(rw) + size_t(x - rx0)];
    }
  }
  return out;
}

SubbandSummary summarize_subband(const VxlFile& file, int subband) {
  SubbandSummary sum;
  bool first = true;
  for (const VxlBlock& block : file.subbands()[size_t(subband)].blocks) {
    ++sum.blocks;
    for (uint32_t offset : block.band_offsets) {
      if (offset == 0) continue;
      const BandPart p = read_band_part(file, block, offset);
      sum.records += int(p.record_offsets.size());
      sum.min_step = first ? p.step : std::min(sum.min_step, p.step);
      sum.max_step = first ? p.step : std::max(sum.max_step, p.step);
      first = false;
    }
  }
  return sum;
}
