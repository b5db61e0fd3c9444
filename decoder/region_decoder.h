// Reconstructs a rectangle of one band at a chosen resolution level (0 = full size, k = 1/2^k)
// from a .vxl file, decoding only the coefficients that the rectangle and the synthesis filters
// reach at each level.
#pragma once

#include <functional>
#include <vector>

#include "decoder/coefficient_reader.h"
#include "decoder/vxl_file.h"
#include "platform/uninitialized_allocator.h"

struct Window {
  int x0, y0, x1, y1;  // inclusive, in the pixel coordinates of the chosen level
  int width() const { return x1 - x0 + 1; }
  int height() const { return y1 - y0 + 1; }
};

// Threads that the synthesis of later decodes may use (1, the default: the calling thread only).
// The samples are the same for every count.
void set_region_decoder_threads(int threads);

// The threads set above (0 when decoding stays on the calling thread).
int decoder_threads();

// Runs body(i) for i = 0 .. count - 1 (the bands of a window, or pieces of it): on the decoder's
// threads, one each, when there are several (the file, its part headers and the cache may be
// shared between them); the passes inside stay on that thread.
void on_threads(int count, const std::function<void(int)>& body);

// Runs body(begin, end) over pieces of 0 .. n - 1 (end exclusive): on the decoder's threads
// when there are several and the pass touches enough `samples` to pay for handing it over.
// Callers' pieces must be independent, so that the result is the same for any split.
void in_pieces(int n, int64_t samples, const std::function<void(int, int)>& body);

class RecordCache;

// Samples of `band` over `window` at `level`, row-major, in the source's sample scale (before
// any colour transform is undone). The cache, when given, keeps decoded records for later calls.
// Records are decoded from `records` where it holds them (fetch_records over subband_windows).
platform::FloatBuffer decode_band_region(const VxlFile& file, int band, int level,
                                         const Window& window, bool dithered,
                                         RecordCache* cache = nullptr,
                                         const FetchedBytes* records = nullptr);

// The rectangles of the subbands that decoding `window` at `level` reads.
std::vector<SubbandWindow> subband_windows(const VxlFile& file, int level, const Window& window);
