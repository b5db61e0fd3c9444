#include "decoder/gdal_nodata_tag.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr ttag_t kGdalNodata = 42113;

}  // namespace

bool write_gdal_nodata(TIFF* tif, double value) {
  // libtiff knows the tag only once it is told about it, per open file.
  static const TIFFFieldInfo kInfo[] = {{kGdalNodata, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0,
                                         const_cast<char*>("GDALNoDataValue")}};
  if (!TIFFFindField(tif, kGdalNodata, TIFF_ANY) && TIFFMergeFieldInfo(tif, kInfo, 1) != 0)
    return false;
  char text[64];
  // The forms GDAL itself writes: "nan", whole numbers without a fraction, else all digits.
  if (std::isnan(value))
    std::snprintf(text, sizeof text, "nan");
  else if (value == std::round(value) && std::fabs(value) < 1e15)
    std::snprintf(text, sizeof text, "%.0f", value);
  else
    std::snprintf(text, sizeof text, "%.17g", value);
  return TIFFSetField(tif, kGdalNodata, text) != 0;
}
