// Which stored records mean map georeferencing: the made-up origins of plain TIFFs and of raw
// rasters without map fields do not; a map reader's records or any other origin do.
#include <gtest/gtest.h>

#include "decoder/tiff_output.h"

TEST(Georeference, OnlyMapRecordsOrARealOriginGiveOne) {
  struct Case {
    const char* what;
    double x, y, xres, yres;
    bool geokey;
    bool mapped;
  };
  const Case cases[] = {
      {"plain TIFF at 72 dpi", 0, 50 / 72.0, 1 / 72.0, 1 / 72.0, false, false},
      {"the same with a GeoTIFF key", 0, 50 / 72.0, 1 / 72.0, 1 / 72.0, true, true},
      {"raw raster without map fields", 0, 0, 1, 1, false, false},
      {"world file", 1000, 5000, 2, 2, false, true},
      {"map origin on the zero meridian", 0, 4000000, 10, 10, false, true},
  };
  for (const Case& c : cases) {
    MetadataList list;
    metadata_init(&list);
    const double origin[2] = {c.x, c.y};
    metadata_add_doubles(&list, "IMAGE::XY_ORIGIN", origin, 2);
    metadata_add_double(&list, "IMAGE::X_RESOLUTION", c.xres);
    metadata_add_double(&list, "IMAGE::Y_RESOLUTION", c.yres);
    metadata_add_long(&list, "IMAGE::HEIGHT", 50);
    if (c.geokey) metadata_add_short(&list, "GEOTIFF_NUM::1024::GTModelTypeGeoKey", 1);
    Georeference g;
    EXPECT_EQ(georeference_for(list, 1, Window{0, 0, 9, 9}, g), c.mapped) << c.what;
    metadata_destroy(&list);
  }
}
