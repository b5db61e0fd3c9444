// Where each subband of a decomposition lies: 3 x levels + 1 subbands, numbered from the
// coarsest low-pass subband, then per level from the coarsest the horizontally-high, the
// vertically-high and the diagonal subband.
#pragma once

#include "codec/level_geometry.h"

enum class Orientation { kLowLow, kHighLow, kLowHigh, kHighHigh };  // horizontal, vertical

struct SubbandRect {
  int level;  // 1 = finest
  Orientation orientation;
  int width, height;
};

SubbandRect subband_rect(int index, int levels, int width, int height);
