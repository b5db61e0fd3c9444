// The sizes of the levels of a decomposition: every level halves the one above it, the low
// band taking the odd sample; and the records a subband's parts are cut into. Encoder, decoder
// and reading library share these rules.
#pragma once

// Edge of the square records a part is cut into (the last row and column of records may be
// smaller).
inline constexpr int kRecordSize = 128;

// Width or height of an image halved `levels` times, rounding up at each step.
int reduced_size(int size, int levels);

// Subbands of a decomposition of `levels` levels: three per level and the coarsest low-pass.
int subband_count(int levels);

// Samples along one axis at `level` (1 = finest) in the low (rounded up) or high (rounded
// down) band.
int band_length(int full_length, int level, bool high);
