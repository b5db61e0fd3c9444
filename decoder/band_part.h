// The header of one block-and-band part of a .vxl file: Huffman table, quantiser step, record
// size and the offsets of its coded records. Parsed once from bytes read ahead, then kept by the
// open file for every later window.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "codec/huffman_decoder.h"
#include "codec/huffman_table.h"

struct VxlBlock;
class VxlFile;

struct CoefficientWindow {
  int x0, y0, x1, y1;  // inclusive, in the subband's coordinates
  int width() const { return x1 - x0 + 1; }
  int height() const { return y1 - y0 + 1; }
};

struct BandPart {
  HuffmanTableDescriptor desc;
  // Built once from desc for every record of the part; null when desc is not a prefix code.
  std::shared_ptr<const HuffmanDecoder> decoder;
  float step = 0;
  int record_width = 0, record_height = 0;
  int records_across = 0;
  std::vector<uint32_t> record_offsets;

  // Rectangle of record r inside `block`, in subband coordinates.
  CoefficientWindow record_rect(const VxlBlock& block, size_t r) const;
};

// Bytes to read for the header of a part of `block`, enough for the largest table and the
// records the writers make (128 x 128); a longer header is read again in full.
uint64_t band_part_bytes_guess(const VxlBlock& block);

// Parses the part at `offset` from `bytes` (which start there). When they end too early, sets
// `wanted` to the bytes the header needs (as far as they tell) and returns nothing; Error naming
// the damage when the header is wrong.
std::optional<BandPart> parse_band_part(std::span<const uint8_t> bytes, const VxlFile& file,
                                        const VxlBlock& block, uint32_t offset, uint64_t& wanted);
