#include "encoder/core/dither.h"

#include "encoder/core/dither_table.h"

namespace {

// Table rows and columns wrap from 127 to 0; offsets are added before the wrap.
template <int kSign>
void apply(float* samples, int x0, int x1, int y0, int y1, float step,
           const DitherOffsets* offsets) {
  if (offsets == nullptr) return;
  constexpr int kMask = kDitherTableSize - 1;
  for (int y = y0; y <= y1; ++y) {
    const float* row = ditherTable + ((y + offsets->oy) & kMask) * kDitherTableSize;
    for (int x = x0; x <= x1; ++x, ++samples) {
      double d = static_cast<double>(step) * row[(x + offsets->ox) & kMask];
      *samples = static_cast<float>(kSign > 0 ? *samples + d : *samples - d);
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

void add_dither(float* samples, int x0, int x1, int y0, int y1, float step,
                const DitherOffsets* offsets) {
  apply<1>(samples, x0, x1, y0, y1, step, offsets);
}

void remove_dither(float* samples, int x0, int x1, int y0, int y1, float step,
                   const DitherOffsets* offsets) {
  apply<-1>(samples, x0, x1, y0, y1, step, offsets);
}
