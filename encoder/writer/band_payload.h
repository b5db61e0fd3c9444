// A block-and-band part as the output file holds it: table descriptor (0xFF 0xAA), big-endian
// step, record width and height, the big-endian offsets of its records, then each record's coded
// stream, one Huffman table over all the records. The record coder makes every part once, with
// the record offsets counted from the part's first byte, and keeps it in the subband's
// temporary file; the file writer copies it behind the others, adding the part's position.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "codec/level_geometry.h"

// Codes the w x h indices (row-major) with quantiser step `step` as one part. Throws Error.
std::vector<uint8_t> code_band_part(std::span<const int16_t> indices, int w, int h, float step);

// Adds `base` to the record offsets of a part of w x h indices (the caller has checked that
// every offset stays within 32 bits). Throws Error when the bytes are not such a part.
void relocate_band_part(std::span<uint8_t> part, int w, int h, uint32_t base);

struct BandPayload {
  float step = 0;
  std::vector<int16_t> indices;  // the part's rectangle, row-major
};

// Reads back the part of w x h indices that starts at `offset` (which must be the stream's
// position); the stream is left behind it. Throws Error with the failing step's message.
BandPayload read_band_payload(FILE* in, int64_t offset, int w, int h);
