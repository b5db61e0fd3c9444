// Reconstruction matching the dead-zone quantiser: index 0 gives 0, index k gives
// sign(k) x (step/2 + step x (|k| - 0.44)), in single precision. Dither is not removed here.
#pragma once

#include <cstddef>
#include <cstdint>

void sq_inv(const int16_t* indices, size_t count, float step, float* values);
