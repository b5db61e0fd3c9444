// GDAL's nodata tag (GDAL_NODATA, 42113): the nodata value as text, which GDAL and the tools
// built on it read as the nodata value of every band.
#pragma once

#include <tiffio.h>

// Writes `value` into the directory being built; false when libtiff refuses it.
bool write_gdal_nodata(TIFF* tif, double value);
