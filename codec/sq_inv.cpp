#include "codec/sq_inv.h"

#include <algorithm>

namespace {

constexpr int kTableRange = 45;  // indices -45..45 cover almost every coefficient

float reconstruct(int index, float step) {
  const float d = step / 2.0f;
  if (index > 0) return d + step * (float(index) - 0.44f);
  if (index < 0) return step * (float(index) + 0.44f) - d;
  return 0.0f;
}

}  // namespace

void sq_inv(const int16_t* indices, size_t count, float step, float* values) {
  if (step == 0.0f) {
    std::fill(values, values + count, 0.0f);
    return;
  }
  float table[2 * kTableRange + 1];
  for (int k = -kTableRange; k <= kTableRange; ++k) table[k + kTableRange] = reconstruct(k, step);
  for (size_t i = 0; i < count; ++i) {
    const int k = indices[i];
    values[i] = (k >= -kTableRange && k <= kTableRange) ? table[k + kTableRange]
                                                        : reconstruct(k, step);
  }
}
