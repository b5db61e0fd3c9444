// Mosaics of the TIFF family: quarters of a real image cut by gdal, placed by the origins of
// the list (TIF), by world files (TFW) or by GeoTIFF tags (TFG), rebuild the uncut image.
#include <gtest/gtest.h>

#include "image/image_mosaic.h"
#include "reader_fixtures.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"

using namespace vexal_test;

namespace {

const int kQuarters[4][4] = {{80, 70, 77, 81}, {0, 0, 80, 70}, {0, 70, 80, 81}, {80, 0, 77, 70}};

void expect_tiff_quarters(const char* tile_word, const std::vector<std::string>& creation,
                          bool with_origin) {
  VEXAL_REQUIRE_GDAL();
  VEXAL_REQUIRE_SAMPLE(rgb, "tiff/rgb-3c-8b.tiff");
  ScratchDir dir;
  gdal_translate({"-a_srs", "EPSG:26918", "-a_ullr", "377000", "4082000", "377157", "4081849",
                  rgb.string(), dir / "geo.tif"});
  std::string list;
  for (int i = 0; i < 4; ++i) {
    const int* q = kQuarters[i];
    const std::string tile = dir / ("q" + std::to_string(i) + ".tif");
    std::vector<std::string> args = creation;
    for (const std::string& a : {std::string("-srcwin"), std::to_string(q[0]), std::to_string(q[1]),
                                 std::to_string(q[2]), std::to_string(q[3]), dir / "geo.tif", tile})
      args.push_back(a);
    gdal_translate(args);
    list += tile + (with_origin ? " " + std::to_string(q[0]) + " " + std::to_string(q[1]) : "") + "\n";
  }
  write_text(dir / "tiles.txt", list);
  ImageMosaic mosaic(dir / "tiles.txt", tile_word);
  ASSERT_EQ(mosaic.image_width, 157);
  ASSERT_EQ(mosaic.image_height, 151);
  EXPECT_EQ(whole(mosaic), gdal_planes(rgb.string(), dir / "ref.raw"));
}

TEST(TiffMosaic, TifQuartersPlacedByListOrigins) {
  expect_tiff_quarters("TIF", {"-of", "GTiff", "-co", "PROFILE=BASELINE"}, true);
}

TEST(TiffMosaic, TfwQuartersPlacedByWorldFiles) {
  expect_tiff_quarters("TFW", {"-of", "GTiff", "-co", "PROFILE=BASELINE", "-co", "TFW=YES"}, false);
}

TEST(TiffMosaic, TfgQuartersPlacedByGeoTiffTags) {
  expect_tiff_quarters("TFG", {"-of", "GTiff"}, false);
}

TEST(TiffMosaic, BandInterleavedTiledQuarters) {
  expect_tiff_quarters("TFG", {"-of", "GTiff", "-co", "INTERLEAVE=BAND", "-co", "TILED=YES",
                               "-co", "BLOCKXSIZE=16", "-co", "BLOCKYSIZE=16"}, false);
}

}  // namespace
