#include "encoder/core/quantizer.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kInverseMaxIndex = 0.000030525032f;  // 1 / 32760 in single precision

}  // namespace

float quantizer_step(const float* x, size_t count, float step) {
  if (step == 0.0f || count == 0) return step;
  float largest = 0.0f, smallest = 0.0f;
  for (size_t i = 0; i < count; ++i) {
    largest = std::max(largest, x[i]);
    smallest = std::min(smallest, x[i]);
  }
  const float magnitude = std::max(largest, -smallest);
  const float top = (magnitude - step / 2.0f) / step + 1.0f;
  if (!(top > 1e9f) && std::trunc(top) <= 32760.0f) return step;
  const float enlarged = magnitude * kInverseMaxIndex;
  return enlarged > 0.0f ? enlarged : step;
}

void quantize_indices(const float* x, size_t count, float step, int16_t* indices) {
  if (step == 0.0f) {
    std::fill(indices, indices + count, int16_t(0));
    return;
  }
  const float d = step / 2.0f;
  for (size_t i = 0; i < count; ++i) {
    float q = 0.0f;
    if (x[i] >= d) {
      q = std::trunc((x[i] - d) / step) + 1.0f;
    } else if (x[i] <= -d) {
      q = std::trunc((x[i] + d) / step) - 1.0f;
    }
    // Rounding of the enlarged step can leave one index a hair above 32760; never wrap.
    indices[i] = int16_t(std::clamp(q, -32767.0f, 32767.0f));
  }
}
