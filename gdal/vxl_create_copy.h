// Writing a .vxl file from any GDAL dataset (gdal_translate -of VXL, rasterio, QGIS's "Save
// As") through the public encoding API: the source is read rectangle by rectangle in the
// encoder's order, its georeferencing and nodata value kept.
#pragma once

#include <gdal_priv.h>

// The creation options, as GDAL's DMD_CREATIONOPTIONLIST.
extern const char* const kVxlCreationOptions;

// Encodes `source` into the .vxl file `filename` with the creation options; `name` stands for
// the source in messages and in the file's metadata. False after one CPLError; nothing is then
// left at `filename`.
bool VXLEncode(GDALDataset& source, const char* name, const char* filename, char** options,
               GDALProgressFunc progress, void* progress_data);

// Throw vexal::Error when `filename` cannot be written or an option is malformed, or when .vxl
// files cannot hold samples of `type` or the geotransform `t`: the checks VXLEncode makes, for
// refusing early.
void VXLCheckTarget(const char* filename, char** options);
void VXLCheckSampleType(GDALDataType type, const char* name);
void VXLCheckGeoTransform(const double* t, const char* name);
// Throws vexal::Error when the encoder would refuse `source` (as VXLEncode would encode it)
// before reading a pixel: an image too small for its levels, an output beyond what one file
// holds, a missing output folder. Writes nothing.
void VXLCheckEncodable(GDALDataset& source, const char* name, const char* filename,
                       char** options);

GDALDataset* VXLCreateCopy(const char* filename, GDALDataset* source, int strict, char** options,
                           GDALProgressFunc progress, void* progress_data);
