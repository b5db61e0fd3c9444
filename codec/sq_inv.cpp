#include "codec/sq_inv.h"

#include <algorithm>
#include <bit>

#include "platform/avx2_clones.h"

// Every index through the same three rounded operations as the quantiser's rule, on vectors.
VEXAL_WIDE_CLONES void sq_inv(const int16_t* __restrict indices, size_t count, float step,
                              float* __restrict values) {
  if (step == 0.0f) {
    std::fill(values, values + count, 0.0f);
    return;
  }
  const float d = step / 2.0f;
  for (size_t i = 0; i < count; ++i) {
    const int k = indices[i];
    const float f = float(k);
    const float up = d + step * (f - 0.44f);
    const float down = step * (f + 0.44f) - d;
    // Chosen by masks rather than branches, which floating-point compares would keep.
    const uint32_t chosen = (std::bit_cast<uint32_t>(up) & -uint32_t(k > 0)) |
                            (std::bit_cast<uint32_t>(down) & -uint32_t(k < 0));
    values[i] = std::bit_cast<float>(chosen);
  }
}
