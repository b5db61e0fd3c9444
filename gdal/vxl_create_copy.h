// Writing a .vxl file from any GDAL dataset (gdal_translate -of VXL, rasterio, QGIS's "Save
// As") through the public encoding API: the source is read rectangle by rectangle in the
// encoder's order, its georeferencing and nodata value kept.
#pragma once

#include <gdal_priv.h>

// The creation options, as GDAL's DMD_CREATIONOPTIONLIST.
extern const char* const kVxlCreationOptions;

GDALDataset* VXLCreateCopy(const char* filename, GDALDataset* source, int strict, char** options,
                           GDALProgressFunc progress, void* progress_data);
