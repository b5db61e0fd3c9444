// Nodata areas filled before the wavelet transform. A constant fill (the nodata value, often far
// outside the data's range) puts a cliff at every edge of a nodata area, and lossy coding
// rings along it into the valid pixels beside it. Here each band's nodata samples are replaced
// by a smooth continuation of the valid ones (a push-pull pyramid: averages of the valid
// samples at coarser and coarser scales, interpolated back down), so the edges cost few bits.
#pragma once

#include <cstdint>
#include <vector>

// `planes`: `bands` planar float planes of width x height. Returns, per pixel, 1 where every
// band holds `nodata` (or is not a number), and replaces those samples, and any other sample
// that is not finite, by the fill. A band without a single valid sample is filled with 0.
std::vector<uint8_t> fill_nodata(float* planes, int width, int height, int bands, double nodata);
