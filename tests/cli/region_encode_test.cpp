// -region: a rectangle of an input or mosaic encoded on its own lies where it lies in the whole
// (world file and metadata), reads only the tiles it touches, and bad rectangles or outputs too
// large for one file are refused before any pixel is read.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cli/tiff_psnr.h"
#include "image/reader_fixtures.h"
#include "support/run_program.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"

using vexal_test::gdal_translate;
using vexal_test::psnr;
using vexal_test::run_program;

namespace {

std::vector<double> world_file(const std::string& path) {
  std::ifstream in(path);
  std::vector<double> v(6);
  for (double& x : v) in >> x;
  return in ? v : std::vector<double>{};
}

std::vector<std::string> files_in(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

// utm.tif (512 x 512, 60 m, upper-left pixel centre 440750, 3751290) cut by gdal into four
// GeoTIFF tiles and listed as a mosaic; the region straddles the tiles' seams.
TEST(RegionEncode, MosaicRegionLiesWhereItLiesAndMatchesTheSource) {
  VEXAL_REQUIRE_SAMPLE(utm, "geotiff/utm.tif");
  VEXAL_REQUIRE_GDAL();
  vexal_test::ScratchDir dir;
  std::ofstream list(dir / "tiles.txt");
  for (int y : {0, 256})
    for (int x : {0, 256}) {
      const std::string name = "t" + std::to_string(x) + "_" + std::to_string(y) + ".tif";
      gdal_translate({"-srcwin", std::to_string(x), std::to_string(y), "256", "256",
                      utm.string(), dir / name});
      list << name << "\n";
    }
  list.close();
  auto enc = run_program(VEXAL_ENCODE_BIN, {"-tifg", "-mos", "-i", "tiles.txt", "-o", "r.vxl",
                                            "-c", "2", "-region", "100", "50", "355", "305"},
                         dir.path().string());
  ASSERT_EQ(enc.status, 0) << enc.err;
  EXPECT_EQ(world_file(dir / "r.vxw"),
            (std::vector<double>{60, 0, 0, -60, 440750 + 100 * 60, 3751290 - 50 * 60}));
  auto info = run_program(VEXAL_DECODE_BIN, {"-info", dir / "r.vxl"});
  EXPECT_NE(info.out.find("256 x 256 pixels"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("IMAGE::XY_ORIGIN = 446750, 3748290"), std::string::npos) << info.out;

  auto dec = run_program(VEXAL_DECODE_BIN, {"-i", dir / "r.vxl", "-o", dir / "r.tif"});
  ASSERT_EQ(dec.status, 0) << dec.err;
  gdal_translate({"-srcwin", "100", "50", "256", "256", utm.string(), dir / "window.tif"});
  EXPECT_GE(psnr(dir / "window.tif", dir / "r.tif"), 35);

  // A tile whose pixels cannot be read stops the whole encoding but not a region beside it.
  std::filesystem::resize_file(dir / "t256_256.tif", 2000);
  auto apart = run_program(VEXAL_ENCODE_BIN, {"-tifg", "-mos", "-i", "tiles.txt", "-o", "a.vxl",
                                              "-region", "0", "0", "255", "511"},
                           dir.path().string());
  EXPECT_EQ(apart.status, 0) << apart.err;
  auto whole = run_program(VEXAL_ENCODE_BIN, {"-tifg", "-mos", "-i", "tiles.txt", "-o", "w.vxl"},
                           dir.path().string());
  EXPECT_EQ(whole.status, 1);
  // ... and leaves no world file behind.
  EXPECT_FALSE(std::filesystem::exists(dir / "w.vxw"));
  EXPECT_FALSE(std::filesystem::exists(dir / "w.vxl"));
}

TEST(RegionEncode, BadRegionsAndOversizedOutputsAreRefusedUpFront) {
  VEXAL_REQUIRE_SAMPLE(utm, "geotiff/utm.tif");
  vexal_test::ScratchDir dir;
  struct Case {
    std::vector<std::string> region;
    const char* message;
  };
  for (const Case& c : {
           Case{{"0", "0", "512", "100"}, "reaches outside the image, whose pixels run from 0 0 to 511 511"},
           Case{{"-1", "0", "200", "200"}, "reaches outside the image"},
           Case{{"300", "0", "200", "200"}, "is empty"},
           Case{{"0", "0", "119", "300"}, "is 120 x 301 pixels; the levels asked for need at least 121"},
           Case{{"0", "0", "200"}, "-region needs four whole numbers"},
           Case{{"0", "0", "200", "2x"}, "-region needs four whole numbers"},
       }) {
    std::vector<std::string> args = {"-tifg", "-i", utm.string(), "-o", dir / "x.vxl", "-region"};
    args.insert(args.end(), c.region.begin(), c.region.end());
    auto r = run_program(VEXAL_ENCODE_BIN, args);
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }

  // 60000 x 60000 grey at -c 0.5 would be some 7 GiB: refused from the header alone (the
  // sparse file holds no pixels at all).
  if (!vexal_test::find_on_path("gdal_create").empty()) {
    auto made = run_program(vexal_test::find_on_path("gdal_create"),
                            {"-q", "-outsize", "60000", "60000", "-ot", "Byte", "-co", "TILED=YES",
                             "-co", "SPARSE_OK=YES", "-co", "BIGTIFF=YES", dir / "big.tif"});
    ASSERT_EQ(made.status, 0) << made.err;
    auto r = run_program(VEXAL_ENCODE_BIN,
                         {"-tif", "-i", dir / "big.tif", "-o", dir / "big.vxl", "-c", "0.5"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the output is estimated at 7.38 GiB, far beyond the 4 GiB"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("-c 2 or more"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("python3 -m vexal_grid"), std::string::npos) << r.err;
    // -info describes a region and its expected output without encoding anything.
    auto info = run_program(VEXAL_ENCODE_BIN, {"-tif", "-i", dir / "big.tif", "-c", "1", "-info",
                                               "-region", "0", "0", "29999", "59999"});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("Input: 30000 x 60000 pixels, 1 coded band(s)\n"
                            "Estimated output: 1981048576 bytes"),
              std::string::npos)
        << info.out;
    std::filesystem::remove(dir / "big.tif");
  }
  EXPECT_TRUE(files_in(dir.path()).empty());
}
