// Georeferencing travels: a GeoTIFF encoded and decoded again (whole, and a window at a coarser
// level) shows in gdalinfo the source's projection and the origin and pixel size that the
// window and level imply, and bright marks show at their map positions at every level.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <vector>

#include "support/run_program.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"
#include "support/tiff_samples.h"

using vexal_test::run_program;

namespace {

struct GdalGeo {
  double x = 0, y = 0, dx = 0, dy = 0;
  std::string epsg;  // the last EPSG code of the CRS (the CRS itself)
};

bool gdalinfo_present() { return std::system("gdalinfo --version > /dev/null 2>&1") == 0; }

GdalGeo gdal_geo(const std::string& file) {
  auto r = run_program("/usr/bin/gdalinfo", {file});
  GdalGeo g;
  std::smatch m;
  const std::regex origin(R"(Origin = \(([-0-9.]+),([-0-9.]+)\))");
  const std::regex size(R"(Pixel Size = \(([-0-9.]+),([-0-9.]+)\))");
  if (std::regex_search(r.out, m, origin)) g.x = std::stod(m[1]), g.y = std::stod(m[2]);
  if (std::regex_search(r.out, m, size)) g.dx = std::stod(m[1]), g.dy = std::stod(m[2]);
  const std::regex code(R"(ID\["EPSG",([0-9]+)\]\]\s*$)");
  if (std::regex_search(r.out, m, code)) g.epsg = m[1];
  return g;
}

}  // namespace

TEST(GeoTiffRoundTrip, GdalSeesTheSameGeoreferencing) {
  if (!gdalinfo_present()) GTEST_SKIP() << "gdalinfo (gdal-bin) is not installed";
  for (const char* name : {"geotiff/utm.tif", "geotiff/byte_point.tif", "geotiff/SP27GTIF.TIF",
                           "geotiff/pci_latlong.tif"}) {
    const auto source = vexal_test::sample(name);
    if (source.empty()) GTEST_SKIP() << "sample " << name << " not found";
    vexal_test::ScratchDir dir;
    const std::string vxl = dir / "g.vxl";
    auto enc = run_program(VEXAL_ENCODE_BIN, {"-tifg", "-i", source.string(), "-o", vxl, "-n", "1", "-c", "4"});
    ASSERT_EQ(enc.status, 0) << name << enc.err;
    const GdalGeo src = gdal_geo(source.string());
    ASSERT_NE(src.dx, 0) << name;

    auto whole = run_program(VEXAL_DECODE_BIN, {"-i", vxl, "-o", dir / "whole.tif"});
    ASSERT_EQ(whole.status, 0) << whole.err;
    const GdalGeo w = gdal_geo(dir / "whole.tif");
    EXPECT_EQ(w.epsg, src.epsg) << name;
    EXPECT_NEAR(w.x, src.x, 1e-6 * std::fabs(src.dx)) << name;
    EXPECT_NEAR(w.y, src.y, 1e-6 * std::fabs(src.dy)) << name;
    EXPECT_DOUBLE_EQ(w.dx, src.dx) << name;
    EXPECT_DOUBLE_EQ(w.dy, src.dy) << name;

    auto part = run_program(VEXAL_DECODE_BIN, {"-i", vxl, "-o", dir / "part.tif", "-l", "1",
                                               "-win", "3", "5", "8", "9", "-wf"});
    ASSERT_EQ(part.status, 0) << part.err;
    const GdalGeo p = gdal_geo(dir / "part.tif");
    EXPECT_EQ(p.epsg, src.epsg) << name;
    EXPECT_NEAR(p.dx, 2 * src.dx, 1e-9 * std::fabs(src.dx)) << name;
    // Level-1 pixel i is centred on full-size pixel 2i: its square starts half a full pixel
    // before that pixel's corner.
    EXPECT_NEAR(p.x, src.x + (3 * 2 - 0.5) * src.dx, 1e-6 * std::fabs(src.dx)) << name;
    EXPECT_NEAR(p.y, src.y + (5 * 2 - 0.5) * src.dy, 1e-6 * std::fabs(src.dy)) << name;
    // The world file names the centre of the window's first pixel.
    FILE* tfw = std::fopen((dir / "part.tfw").c_str(), "r");
    ASSERT_NE(tfw, nullptr);
    double v[6] = {};
    for (double& x : v) ASSERT_EQ(std::fscanf(tfw, "%lf", &x), 1);
    std::fclose(tfw);
    EXPECT_NEAR(v[4], p.x + p.dx / 2, 1e-6 * std::fabs(src.dx));
    EXPECT_NEAR(v[5], p.y + p.dy / 2, 1e-6 * std::fabs(src.dy));
  }
}

namespace {

// 256 x 192 grey GeoTIFF (UTM 11N, 10 m pixels, corner 500000, 4000000) written by GDAL: level
// 30 with 3 x 3 marks of 250 centred on the pixels kMarks names.
constexpr int kMarks[][2] = {{40, 56}, {128, 64}, {200, 152}, {88, 136}};
constexpr const char* kMarkScript = R"(
import sys
from osgeo import gdal, osr
w, h = 256, 192
pixels = bytearray([30]) * (w * h)
for mx, my in [(40, 56), (128, 64), (200, 152), (88, 136)]:
    for y in range(my - 1, my + 2):
        for x in range(mx - 1, mx + 2):
            pixels[y * w + x] = 250
ds = gdal.GetDriverByName('GTiff').Create(sys.argv[1], w, h, 1, gdal.GDT_Byte)
ds.SetGeoTransform([500000, 10, 0, 4000000, 0, -10])
srs = osr.SpatialReference()
srs.ImportFromEPSG(32611)
ds.SetProjection(srs.ExportToWkt())
ds.GetRasterBand(1).WriteRaster(0, 0, w, h, bytes(pixels))
ds = None
)";

}  // namespace

// A level-k sample is the low-pass centred on full-size pixel 2^k i; placed by the box rule
// instead, the marks would sit (2^k - 1) / 2 full pixels off: 5, 15 and 35 m at levels 1 to 3.
TEST(GeoTiffRoundTrip, MarksKeepTheirMapPositionsAtEveryLevelAndWindow) {
  if (!gdalinfo_present()) GTEST_SKIP() << "gdalinfo (gdal-bin) is not installed";
  vexal_test::ScratchDir dir;
  auto made = run_program("/usr/bin/python3", {"-c", kMarkScript, dir / "marks.tif"});
  if (made.status != 0) GTEST_SKIP() << "Python GDAL cannot write the fixture: " << made.err;
  auto enc = run_program(VEXAL_ENCODE_BIN, {"-tifg", "-i", dir / "marks.tif", "-o", dir / "m.vxl",
                                            "-n", "3", "-c", "4"});
  ASSERT_EQ(enc.status, 0) << enc.err;
  for (int level = 0; level <= 3; ++level) {
    const int w = 256 >> level, h = 192 >> level;
    for (const std::vector<std::string>& window :
         {std::vector<std::string>{}, {"-win", "3", "5", std::to_string(w - 3), std::to_string(h - 3)}}) {
      SCOPED_TRACE("level " + std::to_string(level) + (window.empty() ? " whole" : " window"));
      std::vector<std::string> args = {"-i", dir / "m.vxl", "-o", dir / "l.tif", "-wf", "-l",
                                       std::to_string(level)};
      args.insert(args.end(), window.begin(), window.end());
      auto dec = run_program(VEXAL_DECODE_BIN, args);
      ASSERT_EQ(dec.status, 0) << dec.err;
      const GdalGeo g = gdal_geo(dir / "l.tif");
      ASSERT_DOUBLE_EQ(g.dx, 10.0 * (1 << level));
      const vexal_test::TiffSamples decoded = vexal_test::read_tiff_samples(dir / "l.tif");
      const std::vector<uint8_t>& p = decoded.samples;
      const int dw = decoded.width, dh = decoded.height;
      ASSERT_FALSE(p.empty());
      for (const auto& mark : kMarks) {
        const double mx = 500000 + (mark[0] + 0.5) * 10, my = 4000000 - (mark[1] + 0.5) * 10;
        // The decoded pixel the map position falls in, then the marks's centroid around it.
        const int u = int(std::floor((mx - g.x) / g.dx)), v = int(std::floor((my - g.y) / g.dy));
        double sum = 0, su = 0, sv = 0;
        for (int y = std::max(0, v - 2); y <= std::min(dh - 1, v + 2); ++y)
          for (int x = std::max(0, u - 2); x <= std::min(dw - 1, u + 2); ++x) {
            const double weight = std::max(0.0, p[size_t(y) * size_t(dw) + size_t(x)] - 30.0);
            sum += weight, su += weight * x, sv += weight * y;
          }
        ASSERT_GT(sum, 0) << "no mark near " << mark[0] << ", " << mark[1];
        EXPECT_NEAR(g.x + (su / sum + 0.5) * g.dx, mx, 1.5) << "mark " << mark[0] << ", " << mark[1];
        EXPECT_NEAR(g.y + (sv / sum + 0.5) * g.dy, my, 1.5) << "mark " << mark[0] << ", " << mark[1];
      }
      std::ifstream world(dir / "l.tfw");
      double v[6] = {};
      for (double& x : v) world >> x;
      EXPECT_NEAR(v[4], g.x + g.dx / 2, 1e-6);
      EXPECT_NEAR(v[5], g.y + g.dy / 2, 1e-6);
    }
  }
}
