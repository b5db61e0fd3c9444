// Dead-zone uniform scalar quantiser of one record of one band. Indices are signed 16-bit; the
// step is enlarged where needed so that no index exceeds 32760 in magnitude.
#pragma once

#include <cstddef>
#include <cstdint>

// The step the quantiser really uses for these coefficients: `step` itself, or, when the largest
// magnitude would give an index above 32760, that magnitude / 32760. A step of 0 stays 0.
float quantizer_step(const float* coefficients, size_t count, float step);

// Index per coefficient: 0 inside (-step/2, step/2), else sign x (trunc((|x| - step/2) / step)
// + 1). `step` must come from quantizer_step; a step of 0 gives all zeros.
void quantize_indices(const float* coefficients, size_t count, float step, int16_t* indices);
