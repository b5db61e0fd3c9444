// A slow, plain reference of the whole-image 9/7 decomposition: double precision, one piece,
// whole-sample symmetric extension at the image edges. The blockwise, single-precision
// encoder must reproduce it up to float rounding.
#pragma once

#include <vector>

namespace vexal_test {

struct ReferenceSubband {
  int width = 0, height = 0;
  std::vector<double> values;  // row-major
};

// Subbands of one plane in the encoder's numbering: 0 the coarsest LL, then per level from the
// coarsest the horizontally-high/vertically-low, horizontally-low/vertically-high and high/high.
std::vector<ReferenceSubband> reference_dwt97(const std::vector<double>& plane, int width,
                                              int height, int nlev);

}  // namespace vexal_test
