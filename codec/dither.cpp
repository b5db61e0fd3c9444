#include "codec/dither.h"

#include <algorithm>

#include "codec/dither_table.h"
#include "platform/avx2_clones.h"

namespace {

// Table rows and columns wrap from 127 to 0; offsets are added before the wrap.
template <int kSign>
VEXAL_INLINE void apply(float* samples, int x0, int x1, int y0, int y1, float step,
           const DitherOffsets* offsets) {
  if (offsets == nullptr) return;
  constexpr int kMask = kDitherTableSize - 1;
  for (int y = y0; y <= y1; ++y) {
    const float* row = ditherTable + ((y + offsets->oy) & kMask) * kDitherTableSize;
    // In runs that do not wrap, so that the loop runs on vectors.
    for (int x = x0; x <= x1;) {
      const int t = (x + offsets->ox) & kMask;
      const int n = std::min(kDitherTableSize - t, x1 - x + 1);
      const float* table = row + t;
      for (int i = 0; i < n; ++i) {
        const double d = static_cast<double>(step) * table[i];
        samples[i] = static_cast<float>(kSign > 0 ? samples[i] + d : samples[i] - d);
      }
      samples += n;
      x += n;
    }
  }
}

}  // namespace

std::vector<DitherOffsets> dither_offsets(int count) {
  DitherRandom random(0);
  std::vector<DitherOffsets> offsets(count > 0 ? count : 0);
  for (DitherOffsets& o : offsets) {
    o.ox = static_cast<uint8_t>(random.next() >> 8);
    o.oy = static_cast<uint8_t>(random.next() >> 8);
  }
  return offsets;
}

VEXAL_WIDE_CLONES void add_dither(float* samples, int x0, int x1, int y0, int y1, float step,
                const DitherOffsets* offsets) {
  apply<1>(samples, x0, x1, y0, y1, step, offsets);
}

VEXAL_WIDE_CLONES void remove_dither(float* samples, int x0, int x1, int y0, int y1, float step,
                   const DitherOffsets* offsets) {
  apply<-1>(samples, x0, x1, y0, y1, step, offsets);
}
