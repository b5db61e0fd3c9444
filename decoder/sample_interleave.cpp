#include "decoder/sample_interleave.h"

#include <algorithm>
#include <cstdint>

#include "platform/avx2_clones.h"

namespace {

// One row of `bands` planes into pixel-interleaved samples: pixel by pixel, so that each output
// sample is written once and in order (on vectors for the common band counts).
template <typename T, int kBands>
VEXAL_AVX2_CLONES void interleave_row(const T* __restrict planar, size_t plane, int w, int bands,
                                      T* __restrict row) {
  const size_t n = size_t(kBands > 0 ? kBands : bands);
  for (size_t i = 0; i < size_t(w); ++i)
    for (size_t b = 0; b < n; ++b) row[i * n + b] = planar[b * plane + i];
}

template <typename T>
void interleave_rows(const T* planar, int w, int h, int bands, T* target, size_t stride) {
  const size_t plane = size_t(w) * size_t(h);
  for (int y = 0; y < h; ++y) {
    const T* from = planar + size_t(y) * size_t(w);
    T* row = reinterpret_cast<T*>(reinterpret_cast<unsigned char*>(target) + size_t(y) * stride);
    if (bands == 3) interleave_row<T, 3>(from, plane, w, bands, row);
    else if (bands == 1) std::copy_n(from, w, row);
    else interleave_row<T, 0>(from, plane, w, bands, row);
  }
}

}  // namespace

void interleave(const unsigned char* planar, int w, int h, int bands, size_t sample,
                unsigned char* target, size_t stride, int x) {
  unsigned char* first = target + size_t(x) * size_t(bands) * sample;
  if (sample == 1)
    interleave_rows(planar, w, h, bands, first, stride);
  else if (sample == 2)
    interleave_rows(reinterpret_cast<const uint16_t*>(planar), w, h, bands,
                    reinterpret_cast<uint16_t*>(first), stride);
  else
    interleave_rows(reinterpret_cast<const uint32_t*>(planar), w, h, bands,
                    reinterpret_cast<uint32_t*>(first), stride);
}
