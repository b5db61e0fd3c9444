#include "encoder/core/sample_range.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "platform/error.h"

namespace {

// Per number of levels, the largest factor between the samples' magnitude and a stored value:
// the one-dimensional worst case (sum of absolute weights of an output on the samples) of the
// low-pass chain after all levels times that of the unscaled lifting steps of the last level,
// for the second direction of the last level. Computed with the lifting constants on a line
// long enough that no end is reached; the synthesis passes through the same values.
constexpr double kWorstGain[9] = {8.15, 18.27, 33.93, 66.31, 131.9, 263.2, 526.1, 1052.0, 2104.0};
// Room for the reconstruction offset and the rounding of the quantiser's steps.
constexpr double kMargin = 1.01;

}  // namespace

double largest_codable_sample(int nlev) {
  const int levels = std::clamp(nlev, 1, 9);
  return double(FLT_MAX) / (kWorstGain[levels - 1] * kMargin);
}

void SampleLimit::check(const float* data, size_t count) const {
  if (std::isinf(magnitude)) return;
  float largest = 0.0f;
  for (size_t i = 0; i < count; ++i) largest = std::max(largest, std::fabs(data[i]));
  if (!(double(largest) > magnitude)) return;
  throw Error(format_message("Error: %s has a sample of magnitude %.3g; %d levels of the "
                             "transform keep samples up to %.3g only.",
                             source.c_str(), double(largest), nlev, magnitude));
}
