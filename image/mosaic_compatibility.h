// The checks that tiles of one mosaic share: band count and pixel size. Each throws Error
// "File incompatibility: files A and B have ..." naming both files.
#pragma once

#include "image/image.h"

void check_same_band_count(ImageFile& mine, ImageFile& other);
void check_same_resolution(ImageFile& mine, ImageFile& other);

// Pixel sizes agree within same_measure, like the georeferencing records they come from.
inline bool same_pixel_size(double a, double b) { return same_measure(a, b); }
