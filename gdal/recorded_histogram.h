// GDAL's histogram of an 8-bit band from the file's exact counts of each value, without a pixel
// read: the answer GDAL would compute from the source's samples.
#pragma once

#include <cpl_port.h>

#include "vexal/reader.h"

// Fills `out` (`buckets` entries) with the histogram of the samples that `counts` counts over
// min..max cut into `buckets` equal buckets, each value binned as GDAL bins a sample (a value
// below min, or at or above max, counted only with `include_out_of_range`, then in the first or
// last bucket). False, leaving `out` as it was, when an inner bucket boundary lies on a value
// 0..255 or within rounding of one: which side that value falls is then up to the arithmetic.
bool recorded_histogram(const vexal::Histogram& counts, double min, double max, int buckets,
                        bool include_out_of_range, GUIntBig* out);
