#include "decoder/band_part.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "codec/failure_lines.h"
#include "codec/ht_desc_io.h"
#include "codec/level_geometry.h"
#include "decoder/vxl_file.h"

namespace {

// Marker, BITS, at most 256 HUFFVAL bytes, step, record width and height.
constexpr uint64_t kMostFixedBytes = 2 + kMaxCodeLength + kMaxTableValues + 4 + 8;

uint32_t u32_at(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

}  // namespace

CoefficientWindow BandPart::record_rect(const VxlBlock& block, size_t r) const {
  const int x0 = block.x0 + int(r % size_t(records_across)) * record_width;
  const int y0 = block.y0 + int(r / size_t(records_across)) * record_height;
  return {x0, y0, std::min(x0 + record_width - 1, block.x1), std::min(y0 + record_height - 1, block.y1)};
}

uint64_t band_part_bytes_guess(const VxlBlock& block) {
  const uint64_t across = (uint64_t(block.x1 - block.x0) + kRecordSize) / kRecordSize;
  const uint64_t down = (uint64_t(block.y1 - block.y0) + kRecordSize) / kRecordSize;
  return kMostFixedBytes + 4 * across * down;
}

std::optional<BandPart> parse_band_part(std::span<const uint8_t> bytes, const VxlFile& f,
                                        const VxlBlock& block, uint32_t offset, uint64_t& wanted) {
  const std::string where = " at offset " + std::to_string(offset);
  wanted = kMostFixedBytes;
  if (bytes.size() < 2) return std::nullopt;
  if (bytes[0] != 0xFF || bytes[1] != 0xAA) f.damaged("no block header marker" + where);
  BandPart p;
  size_t at = 2, used = 0;
  if (bytes.size() < at + kMaxCodeLength) return std::nullopt;
  size_t values = 0;
  for (int k = 0; k < kMaxCodeLength; ++k) values += bytes[at + size_t(k)];
  // Symbols are bytes, so a real table never lists more than 256 of them: the table reader
  // refuses it below, without waiting for more bytes.
  if (values <= kMaxTableValues && bytes.size() < at + kMaxCodeLength + values) return std::nullopt;
  if (read_ht_desc_fields(bytes.subspan(at), p.desc, used) != 0)
    f.damaged("block header" + where + failure_line_suffix());
  at += used;
  if (auto decoder = std::make_shared<HuffmanDecoder>(); decoder->build(p.desc) == 0)
    p.decoder = std::move(decoder);
  if (bytes.size() < at + 12) return std::nullopt;
  p.step = std::bit_cast<float>(u32_at(&bytes[at]));
  // A non-finite step would turn every coefficient into NaN or infinity.
  if (!std::isfinite(p.step)) f.damaged("block header" + where);
  const uint32_t rw = u32_at(&bytes[at + 4]), rh = u32_at(&bytes[at + 8]);
  at += 12;
  // Writers use 128 x 128; the bound keeps a hostile header from sizing huge buffers.
  if (rw < 1 || rh < 1 || rw > 4096 || rh > 4096) f.damaged("record size" + where);
  p.record_width = int(rw);
  p.record_height = int(rh);
  const int64_t bw = int64_t(block.x1) - block.x0 + 1, bh = int64_t(block.y1) - block.y0 + 1;
  const int64_t across = (bw + rw - 1) / rw, down = (bh + rh - 1) / rh;
  // Each record takes 4 bytes of table: a count the file cannot hold is damage, found before
  // the table is sized from it.
  if (uint64_t(across) * uint64_t(down) * 4 > f.size()) f.damaged("record count" + where);
  wanted = at + uint64_t(across) * uint64_t(down) * 4;
  if (bytes.size() < wanted) return std::nullopt;
  p.records_across = int(across);
  p.record_offsets.resize(size_t(across) * size_t(down));
  // Writers put the records one after another behind the table, so offsets rise strictly; a
  // table naming one stream many times would make a small file decode without end.
  uint64_t previous = offset;
  for (uint32_t& o : p.record_offsets) {
    o = u32_at(&bytes[at]);
    at += 4;
    if (o >= f.size()) f.damaged("record offset outside the file");
    if (o <= previous) f.damaged("record offsets out of order" + where);
    previous = o;
  }
  return p;
}
