#include "decoder/geokey_writer.h"

#include <geotiff.h>
#include <geotiffio.h>
#include <tiffio.h>
#include <xtiffio.h>

void write_geotiff_tags(TIFF* tif, double x_origin, double y_origin, double x_scale,
                        double y_scale, const std::vector<GeoKeyValue>& keys) {
  const double tie[6] = {0, 0, 0, x_origin, y_origin, 0};
  const double scale[3] = {x_scale, y_scale, 0};
  TIFFSetField(tif, TIFFTAG_GEOTIEPOINTS, 6, tie);
  TIFFSetField(tif, TIFFTAG_GEOPIXELSCALE, 3, scale);
  GTIF* gtif = GTIFNew(tif);
  if (!gtif) return;
  for (const GeoKeyValue& k : keys) {
    const geokey_t key = static_cast<geokey_t>(k.id);
    switch (k.kind) {
      case GeoKeyValue::kShort:
        GTIFKeySet(gtif, key, TYPE_SHORT, 1, int(k.numbers.at(0)));
        break;
      case GeoKeyValue::kDouble:
        if (k.numbers.size() == 1) GTIFKeySet(gtif, key, TYPE_DOUBLE, 1, k.numbers[0]);
        else GTIFKeySet(gtif, key, TYPE_DOUBLE, int(k.numbers.size()), k.numbers.data());
        break;
      case GeoKeyValue::kAscii:
        GTIFKeySet(gtif, key, TYPE_ASCII, 0, k.text.c_str());
        break;
    }
  }
  GTIFWriteKeys(gtif);
  GTIFFree(gtif);
}

TIFF* open_tiff_with_geotiff_tags(const char* name) { return XTIFFOpen(name, "w"); }
void close_tiff_with_geotiff_tags(TIFF* tif) { XTIFFClose(tif); }
