// Reads the coefficients of a rectangle of one subband and band out of a .vxl file: only the
// blocks and 128 x 128 records that overlap the rectangle are decoded, then dequantised and,
// on band 0 of a dithered file, the dither is taken out again.
#pragma once

#include <cstdint>
#include <vector>

#include "decoder/band_part.h"
#include "decoder/fetched_bytes.h"
#include "decoder/vxl_file.h"
#include "platform/uninitialized_allocator.h"

class RecordCache;

// A rectangle of one subband that a decode needs, in every band.
struct SubbandWindow {
  int subband;
  CoefficientWindow window;
};

// Reads, in one batch, the part headers not yet known and the coded records of `windows` that
// the cache does not hold, so that decoding them needs no further reads.
FetchedBytes fetch_records(const VxlFile& file, const std::vector<SubbandWindow>& windows,
                           RecordCache* cache);

// Coefficients of `window` that coded records hold (0: the window is all zeros).
int64_t coded_area(const VxlFile& file, int subband, int band, const CoefficientWindow& window);

// Row-major floats of `window` (which must lie inside the subband); coefficients that no block
// holds are 0. With a cache, records are taken from it when there and kept in it when decoded.
// Records are decoded from `records` where it holds them, else read from the file.
platform::FloatBuffer read_coefficients(const VxlFile& file, int subband, int band,
                                        const CoefficientWindow& window, bool dithered,
                                        RecordCache* cache = nullptr,
                                        const FetchedBytes* records = nullptr);

// Decodes record r into `indices` (sized to its rectangle); Error when it does not fill it.
void decode_record(const VxlFile& file, const BandPart& part, size_t r,
                   std::vector<int16_t>& indices, const FetchedBytes* records = nullptr);

// Counts for -info: records per subband and the steps of its blocks.
struct SubbandSummary {
  int blocks = 0;
  int records = 0;
  float min_step = 0, max_step = 0;
};
SubbandSummary summarize_subband(const VxlFile& file, int subband);
