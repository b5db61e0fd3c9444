// Planar samples (band after band, row after row) into pixel-interleaved rows, as TIFF and
// image viewers keep them.
#pragma once

#include <cstddef>

// Copies the rows of a planar w x h rectangle of `bands` samples of `sample` bytes into
// pixel-interleaved rows `stride` bytes apart, starting at column `x` of the target.
void interleave(const unsigned char* planar, int w, int h, int bands, size_t sample,
                unsigned char* target, size_t stride, int x);
