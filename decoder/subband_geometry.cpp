#include "decoder/subband_geometry.h"

SubbandRect subband_rect(int index, int levels, int width, int height) {
  if (index == 0)
    return {levels, Orientation::kLowLow, reduced_size(width, levels),
            reduced_size(height, levels)};
  const int level = levels - (index - 1) / 3;
  static const Orientation kOrder[] = {Orientation::kHighLow, Orientation::kLowHigh,
                                       Orientation::kHighHigh};
  const Orientation o = kOrder[(index - 1) % 3];
  const bool high_x = o != Orientation::kLowHigh;
  const bool high_y = o != Orientation::kHighLow;
  return {level, o, band_length(width, level, high_x), band_length(height, level, high_y)};
}
