// Reads the coefficients of a rectangle of one subband and band out of a .vxl file: only the
// blocks and 128 x 128 records that overlap the rectangle are decoded, then dequantised and,
// on band 0 of a dithered file, the dither is taken out again.
#pragma once

#include <cstdint>
#include <vector>

#include "encoder/format/huffman_table.h"

#include "decoder/vxl_file.h"
#include "platform/uninitialized_allocator.h"

struct CoefficientWindow {
  int x0, y0, x1, y1;  // inclusive, in the subband's coordinates
  int width() const { return x1 - x0 + 1; }
  int height() const { return y1 - y0 + 1; }
};

class RecordCache;

// Row-major floats of `window` (which must lie inside the subband); coefficients that no block
// holds are 0. With a cache, records are taken from it when there and kept in it when decoded.
platform::FloatBuffer read_coefficients(const VxlFile& file, int subband, int band,
                                     const CoefficientWindow& window, bool dithered,
                                     RecordCache* cache = nullptr);

// The header of one block-and-band part: table, step, record size and record offsets.
struct BandPart {
  HuffmanTableDescriptor desc;
  float step = 0;
  int record_width = 0, record_height = 0;
  int records_across = 0;
  std::vector<uint32_t> record_offsets;

  // Rectangle of record r inside `block`, in subband coordinates.
  CoefficientWindow record_rect(const VxlBlock& block, size_t r) const;
};

// Reads and checks the part at `offset`; Error naming the damage.
BandPart read_band_part(const VxlFile& file, const VxlBlock& block, uint32_t offset);
// Decodes record r into `indices` (sized to its rectangle); Error when it does not fill it.
void decode_record(const VxlFile& file, const BandPart& part, size_t r,
                   std::vector<int16_t>& indices);

// Counts for -info: records per subband and the steps of its blocks.
struct SubbandSummary {
  int blocks = 0;
  int records = 0;
  float min_step = 0, max_step = 0;
};
SubbandSummary summarize_subband(const VxlFile& file, int subband);
