// The dither pattern of the compressed format: 128 x 128 single-precision values, row-major
// (index = row * 128 + column), fixed six-decimal values spread uniformly over -0.25 .. 0.25.
// The quantiser adds it and the reduced-resolution rebuild removes it, so a decoder must use
// exactly this table. Generated once by tools/gen_dither_table.py; never edit by hand.
#pragma once

inline constexpr int kDitherTableSize = 128;
extern const float ditherTable[kDitherTableSize * kDitherTableSize];
