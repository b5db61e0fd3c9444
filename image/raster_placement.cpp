#include "image/raster_placement.h"

#include <climits>
#include <cmath>
#include <cstdint>

#include "platform/error.h"

namespace {

// Keeps every later shift and size computation of a mosaic inside int.
constexpr double kLimit = 1.0e9;

int64_t rounded(double value) {
  const double r = std::trunc(value + 0.5);
  if (!(r > -kLimit && r < kLimit))
    throw Error("Error: georeferencing places the image outside the supported pixel range.");
  return static_cast<int64_t>(r);
}

}  // namespace

void place_support(int support[2][2], double column, double row_up, int width, int height) {
  const int64_t x0 = rounded(column);
  const int64_t y0 = -rounded(row_up);
  if (x0 + width - 1 >= kLimit || y0 + height - 1 >= kLimit)
    throw Error("Error: georeferencing places the image outside the supported pixel range.");
  support[0][0] = static_cast<int>(x0);
  support[0][1] = static_cast<int>(x0 + width - 1);
  support[1][0] = static_cast<int>(y0);
  support[1][1] = static_cast<int>(y0 + height - 1);
}
