// GDAL's Create for .vxl files (rasterio's "w" mode, QGIS's "Save As"): the dataset it returns
// takes pixels, georeferencing, nodata values and band colours in any order and encodes them
// when it is closed. A .vxl file is coded whole, so until then the pixels wait in a private
// tiled GeoTIFF on disk: memory stays at GDAL's block cache whatever the size.
#pragma once

#include <gdal_priv.h>

GDALDataset* VXLCreate(const char* filename, int width, int height, int bands, GDALDataType type,
                       char** options);
