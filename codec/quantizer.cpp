#include "codec/quantizer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/avx2_clones.h"

namespace {

constexpr float kInverseMaxIndex = 0.000030525032f;  // 1 / 32760 in single precision

}  // namespace

VEXAL_AVX2_CLONES
float quantizer_step(const float* x, size_t count, float step) {
  if (step == 0.0f || count == 0) return step;
  // The largest magnitude, from the bits: for finite and infinite values their order as
  // unsigned integers is that of the magnitudes, and an integer maximum runs on vectors where
  // a floating-point one would not (it is kept in order). Not-a-number, whose bits are above
  // infinity's, is left out, on the rare plane that has one, by a second pass.
  constexpr uint32_t kInfinity = 0x7f800000u;
  const auto magnitude_bits = [x](size_t i) {
    uint32_t bits;
    std::memcpy(&bits, &x[i], sizeof bits);
    return bits & 0x7fffffffu;
  };
  uint32_t largest = 0;
  for (size_t i = 0; i < count; ++i) largest = std::max(largest, magnitude_bits(i));
  if (largest > kInfinity) {
    largest = 0;
    for (size_t i = 0; i < count; ++i)
      if (magnitude_bits(i) <= kInfinity) largest = std::max(largest, magnitude_bits(i));
  }
  float magnitude;
  std::memcpy(&magnitude, &largest, sizeof magnitude);
  const float top = (magnitude - step / 2.0f) / step + 1.0f;
  if (!(top > 1e9f) && std::trunc(top) <= 32760.0f) return step;
  const float enlarged = magnitude * kInverseMaxIndex;
  return enlarged > 0.0f ? enlarged : step;
}

VEXAL_AVX2_CLONES
void quantize_indices(const float* x, size_t count, float step, int16_t* indices) {
  if (step == 0.0f) {
    std::fill(indices, indices + count, int16_t(0));
    return;
  }
  const float d = step / 2.0f;
  // Without branches, so that the loop runs on vectors: both candidates are formed and the
  // sign picks one. Quotients are clamped before the conversion, which truncates like trunc();
  // indices beyond 32767 come out as 32767 either way. Not-a-number gives 0, as before.
  for (size_t i = 0; i < count; ++i) {
    const float v = x[i];
    // The bound first: std::max and std::min return their first argument when the other is
    // not a number, so a NaN quotient becomes 0 here instead of an undefined conversion.
    const int32_t up = int32_t(std::min(std::max(0.0f, (v - d) / step), 40000.0f)) + 1;
    const int32_t down = int32_t(std::max(std::min(0.0f, (v + d) / step), -40000.0f)) - 1;
    const int32_t q = v >= d ? up : (v <= -d ? down : 0);
    indices[i] = int16_t(std::clamp(q, int32_t(-32767), int32_t(32767)));
  }
}
