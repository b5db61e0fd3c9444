#include "codec/ht_desc_io.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "codec/counted_io.h"
#include "codec/failure_lines.h"

namespace {

// A descriptor read short is reported once, as a read error of the table.
bool read_exact(FILE* in, uint8_t* bytes, size_t count) {
  return fread(bytes, 1, count, in) == count;
}

}  // namespace

int read_ht_desc_fields(FILE* in, HuffmanTableDescriptor& desc) {
  desc = {};
  if (!read_exact(in, desc.bits.data() + 1, kMaxCodeLength)) {
    report_failure_line("Read error.\n");
    return 1;
  }
  const int values = desc.value_count();
  // Symbols are bytes, so a real table never lists more than 256 of them.
  if (values > kMaxTableValues) {
    report_failure_line("Invalid Huffman table in ReadHtDesc.\n");
    return 1;
  }
  if (!read_exact(in, desc.huffval.data(), size_t(values))) {
    report_failure_line("Read error.\n");
    return 1;
  }
  return 0;
}

int read_ht_desc_fields(std::span<const uint8_t> in, HuffmanTableDescriptor& desc, size_t& used) {
  desc = {};
  used = kMaxCodeLength;
  if (in.size() < used) {
    report_failure_line("Read error.\n");
    return 1;
  }
  std::copy_n(in.data(), kMaxCodeLength, desc.bits.data() + 1);
  const int values = desc.value_count();
  if (values > kMaxTableValues) {
    report_failure_line("Invalid Huffman table in ReadHtDesc.\n");
    return 1;
  }
  if (in.size() < used + size_t(values)) {
    report_failure_line("Read error.\n");
    return 1;
  }
  std::copy_n(in.data() + used, values, desc.huffval.data());
  used += size_t(values);
  return 0;
}

int ReadHTDesc(FILE* in, HuffmanTableDescriptor& desc) {
  uint8_t marker[2];
  if (!read_exact(in, marker, 2)) {
    report_failure_line("Read error.\n");
    return 1;
  }
  if (marker[0] != kMarkerPrefix || marker[1] != kTableDescriptorMarker) {
    report_failure_line("Marker byte problem in ReadHtDesc.\n");
    return 1;
  }
  return read_ht_desc_fields(in, desc);
}

int write_ht_desc(FILE* out, uint8_t marker_code, const HuffmanTableDescriptor& desc) {
  const int values = desc.value_count();
  if (values > kMaxTableValues) return 1;
  const uint8_t marker[2] = {kMarkerPrefix, marker_code};
  if (fwrite2(marker, 1, 2, out) || fwrite2(desc.bits.data() + 1, 1, kMaxCodeLength, out)) {
    return 1;
  }
  return values > 0 ? fwrite2(desc.huffval.data(), 1, size_t(values), out) : 0;
}

int read_float(FILE* in, float& value) {
  uint8_t bytes[4];
  if (fread2(bytes, 1, 4, in)) return 1;
  const uint32_t word = uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 |
                        uint32_t(bytes[2]) << 8 | uint32_t(bytes[3]);
  value = std::bit_cast<float>(word);
  return 0;
}

int write_float(FILE* out, float value) {
  const uint32_t word = std::bit_cast<uint32_t>(value);
  const uint8_t bytes[4] = {uint8_t(word >> 24), uint8_t(word >> 16), uint8_t(word >> 8),
                            uint8_t(word)};
  return fwrite2(bytes, 1, 4, out);
}
