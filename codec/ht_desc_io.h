// Reading and writing the small fixed pieces around a coded stream: the table descriptor
// (marker, BITS, HUFFVAL) and the big-endian float step. Each returns 0 on success and 1 on
// failure after printing its line on standard error.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "codec/huffman_table.h"

constexpr uint8_t kMarkerPrefix = 0xFF;
constexpr uint8_t kTableDescriptorMarker = 0xA6;  // temporary files
constexpr uint8_t kBlockBandHeaderMarker = 0xAA;  // output file
constexpr uint8_t kCodedStreamMarker = 0xA3;

// Expects 0xFF 0xA6, then BITS and HUFFVAL. A table of more than 256 values is refused.
int ReadHTDesc(FILE* in, HuffmanTableDescriptor& desc);
// BITS and HUFFVAL alone, for callers that have read the marker themselves (0xFF 0xAA).
int read_ht_desc_fields(FILE* in, HuffmanTableDescriptor& desc);
// The same from bytes in memory; `used` is set to the bytes the fields took.
int read_ht_desc_fields(std::span<const uint8_t> in, HuffmanTableDescriptor& desc, size_t& used);
// Writes 0xFF, `marker_code`, BITS and HUFFVAL.
int write_ht_desc(FILE* out, uint8_t marker_code, const HuffmanTableDescriptor& desc);

// One IEEE single, most significant byte first.
int read_float(FILE* in, float& value);
int write_float(FILE* out, float value);
