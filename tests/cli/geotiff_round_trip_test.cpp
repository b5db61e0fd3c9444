// Georeferencing travels: a GeoTIFF encoded and decoded again (whole, and a window at a coarser
// level) shows in gdalinfo the source's projection and the origin and pixel size that the
// window and level imply.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <regex>

#include "support/run_program.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"

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
    EXPECT_NEAR(p.x, src.x + 3 * 2 * src.dx, 1e-6 * std::fabs(src.dx)) << name;
    EXPECT_NEAR(p.y, src.y + 5 * 2 * src.dy, 1e-6 * std::fabs(src.dy)) << name;
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
