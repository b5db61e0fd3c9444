// The checks that tiles of one mosaic share: band count and pixel size. Each throws Error
// "File incompatibility: files A and B have ..." naming both files.
#pragma once

#include "encoder/image/image.h"

void check_same_band_count(ImageFile& mine, ImageFile& other);
void check_same_resolution(ImageFile& mine, ImageFile& other);
