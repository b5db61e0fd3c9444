// Real clients with the plugin from the build folder: gdalinfo, gdal_translate (windows, reduced
// sizes, COG) and rasterio read .vxl files, local or from a loopback HTTP server, and agree with
// vexal_decode pixel for pixel.
#include <gdal.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "support/loopback_http.h"
#include "support/run_program.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"
#include "vexal/reader.h"

namespace {

class GdalClients : public testing::Test {
 protected:
  void SetUp() override {
#ifdef VEXAL_SANITIZED
    GTEST_SKIP() << "a sanitized plugin cannot load into GDAL's own programs";
#endif
    if (!std::filesystem::exists("/usr/bin/gdalinfo")) GTEST_SKIP() << "gdalinfo not found";
    source_ = vexal_test::sample("geotiff/utm.tif");
    if (source_.empty()) GTEST_SKIP() << "sample geotiff/utm.tif not found";
    setenv("GDAL_DRIVER_PATH", VEXAL_BUILD_DIR, 1);
    vxl_ = dir_ / "utm.vxl";
    const vexal_test::ProgramResult r = vexal_test::run_program(
        VEXAL_ENCODE_BIN, {"-tifg", "-i", source_.string(), "-o", vxl_, "-t", dir_.path().string()});
    ASSERT_EQ(r.status, 0) << r.err;
  }

  vexal_test::ProgramResult run(const std::string& program, const std::vector<std::string>& args) {
    vexal_test::ProgramResult r = vexal_test::run_program(program, args);
    EXPECT_EQ(r.status, 0) << program << ": " << r.err;
    return r;
  }

  // Every sample of a (small) raster file, read by GDAL's own drivers.
  static std::vector<unsigned char> pixels_of(const std::string& name) {
    GDALAllRegister();
    GDALDatasetH ds = GDALOpen(name.c_str(), GA_ReadOnly);
    EXPECT_NE(ds, nullptr) << name;
    if (!ds) return {};
    const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds), n = GDALGetRasterCount(ds);
    std::vector<unsigned char> out(size_t(w) * size_t(h) * size_t(n));
    EXPECT_EQ(GDALDatasetRasterIO(ds, GF_Read, 0, 0, w, h, out.data(), w, h, GDT_Byte, n, nullptr,
                                  0, 0, 0),
              CE_None);
    GDALClose(ds);
    return out;
  }

  std::filesystem::path source_;
  vexal_test::ScratchDir dir_;
  std::string vxl_;
};

// The line of a gdalinfo listing that starts with `prefix`, or "".
std::string line_of(const std::string& text, const std::string& prefix) {
  const size_t at = ("\n" + text).find("\n" + prefix);
  return at == std::string::npos ? "" : text.substr(at, text.find('\n', at) - at);
}

}  // namespace

TEST_F(GdalClients, GdalinfoShowsTheSourcesGeoreferencingAndTheLevels) {
  const std::string mine = run("/usr/bin/gdalinfo", {vxl_}).out;
  const std::string theirs = run("/usr/bin/gdalinfo", {source_.string()}).out;
  EXPECT_EQ(line_of(mine, "Driver:"), "Driver: VXL/Vexal multiresolution wavelet image");
  EXPECT_EQ(line_of(mine, "Size is"), "Size is 512, 512");
  for (const char* same : {"Origin =", "Pixel Size =", "Upper Left", "Lower Right"})
    EXPECT_EQ(line_of(mine, same), line_of(theirs, same)) << same;
  EXPECT_NE(mine.find("ID[\"EPSG\",26711]]"), std::string::npos) << mine;
  EXPECT_NE(mine.find("Overviews: 256x256, 128x128"), std::string::npos) << mine;
  const std::string records = run("/usr/bin/gdalinfo", {"-mdd", "VXL", vxl_}).out;
  EXPECT_NE(records.find("\n  IMAGE.DATA_TYPE=0\n"), std::string::npos) << records;
}

// gdal_translate -srcwin gives exactly the pixels of vexal_decode -win, -outsize at 1/4 exactly
// those of vexal_decode -l 2, and -of COG writes a cloud-optimised GeoTIFF from the file.
TEST_F(GdalClients, GdalTranslateEqualsVexalDecode) {
  run("/usr/bin/gdal_translate", {"-q", "-srcwin", "100", "37", "211", "150", vxl_, dir_ / "g.tif"});
  run(VEXAL_DECODE_BIN, {"-i", vxl_, "-o", dir_ / "d.tif", "-win", "100", "37", "310", "186"});
  const std::vector<unsigned char> g = pixels_of(dir_ / "g.tif");
  EXPECT_EQ(g.size(), 211u * 150u);
  EXPECT_TRUE(g == pixels_of(dir_ / "d.tif"));
  run("/usr/bin/gdal_translate", {"-q", "-outsize", "128", "128", vxl_, dir_ / "g2.tif"});
  run(VEXAL_DECODE_BIN, {"-i", vxl_, "-o", dir_ / "d2.tif", "-l", "2"});
  EXPECT_TRUE(pixels_of(dir_ / "g2.tif") == pixels_of(dir_ / "d2.tif"));
  run("/usr/bin/gdal_translate", {"-q", "-of", "COG", vxl_, dir_ / "cog.tif"});
  EXPECT_TRUE(pixels_of(dir_ / "cog.tif") == pixels_of(vxl_));
}

TEST_F(GdalClients, RasterioReadsAWindow) {
  if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "python3 not found";
  const char* script =
      "import sys, rasterio\n"
      "from rasterio.windows import Window\n"
      "with rasterio.open(sys.argv[1]) as r:\n"
      "    a = r.read(1, window=Window(40, 30, 100, 60))\n"
      "    print(r.driver, r.count, r.crs.to_epsg(), a.shape[1], a.shape[0], int(a.sum()))\n";
  const std::string out = run("/usr/bin/python3", {"-c", script, vxl_}).out;
  vexal::Reader reader(vxl_);
  std::vector<unsigned char> window(100 * 60);
  reader.read(0, 40, 30, 139, 89, window.data());
  long sum = 0;
  for (unsigned char v : window) sum += v;
  EXPECT_EQ(out, "VXL 1 26711 100 60 " + std::to_string(sum) + "\n");
}

// rasterio keeps every record of the metadata domain under its own key, value intact.
TEST_F(GdalClients, RasterioTagsHoldEveryRecord) {
  if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "python3 not found";
  const char* script =
      "import sys, rasterio\n"
      "with rasterio.open(sys.argv[1]) as r:\n"
      "    for k, v in sorted(r.tags(ns='VXL').items()): print(k + '=' + v)\n";
  const std::string out = run("/usr/bin/python3", {"-c", script, vxl_}).out;
  vexal::Reader reader(vxl_);
  std::vector<std::pair<std::string, std::string>> want;
  for (const vexal::MetadataRecord& r : reader.metadata()) {
    std::string key = r.key;
    for (size_t at; (at = key.find("::")) != std::string::npos;) key.replace(at, 2, ".");
    want.emplace_back(key, r.value);
  }
  std::sort(want.begin(), want.end());
  std::string expected;
  for (const auto& [key, value] : want) expected += key + "=" + value + "\n";
  EXPECT_GT(want.size(), 20u);
  EXPECT_EQ(out, expected);
}

// Over HTTP with range requests (/vsicurl/ and rasterio with a plain URL): the same pixels as the
// local file.
TEST_F(GdalClients, RemoteFileOverHttpGivesTheLocalPixels) {
  vexal_test::LoopbackHttp server(dir_.path());
  if (!server.ok()) GTEST_SKIP() << "no loopback HTTP server (Debian nginx-light) available";
  setenv("GDAL_DISABLE_READDIR_ON_OPEN", "EMPTY_DIR", 1);
  const std::string remote = "/vsicurl/" + server.url("utm.vxl");
  EXPECT_EQ(line_of(run("/usr/bin/gdalinfo", {remote}).out, "Driver:"),
            "Driver: VXL/Vexal multiresolution wavelet image");
  const int info_requests = server.requests_for("utm.vxl");
  run("/usr/bin/gdal_translate", {"-q", "-srcwin", "100", "37", "211", "150", remote, dir_ / "r.tif"});
  run("/usr/bin/gdal_translate", {"-q", "-srcwin", "100", "37", "211", "150", vxl_, dir_ / "l.tif"});
  EXPECT_TRUE(pixels_of(dir_ / "r.tif") == pixels_of(dir_ / "l.tif"));
  RecordProperty("requests_gdalinfo", info_requests);
  RecordProperty("requests_window", server.requests_for("utm.vxl") - info_requests);
  if (!std::filesystem::exists("/usr/bin/python3")) return;
  const char* script =
      "import sys, rasterio\n"
      "from rasterio.windows import Window\n"
      "with rasterio.open(sys.argv[1]) as r:\n"
      "    print(r.driver, int(r.read(1, window=Window(100, 37, 211, 150)).sum()))\n";
  const std::vector<unsigned char> local = pixels_of(dir_ / "l.tif");
  long sum = 0;
  for (unsigned char v : local) sum += v;
  EXPECT_EQ(run("/usr/bin/python3", {"-c", script, server.url("utm.vxl")}).out,
            "VXL " + std::to_string(sum) + "\n");
}
