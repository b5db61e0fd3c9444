// The checks that tiles of one mosaic share: band count and pixel size. Each throws Error
// "File incompatibility: files A and B have ..." naming both files.
#pragma once

#include "encoder/image/image.h"

void check_same_band_count(ImageFile& mine, ImageFile& other);
void check_same_resolution(ImageFile& mine, ImageFile& other);

// Pixel sizes agree when they differ by at most 1e-9 of the larger: tiles cut by GIS tools
// carry sizes such as 32.8 and 32.8000000000002 for one grid.
bool same_pixel_size(double a, double b);
