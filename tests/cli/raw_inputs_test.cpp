// LAN, BIL/BIP/BSQ, DOQ and image-database inputs and their mosaics through the whole
// pipeline: vexal_encode, then vexal_decode, compared with the pixels gdal reads from the
// source. A mosaic of quarters must decode exactly like the uncut image.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "image/doq_fixture.h"
#include "image/reader_fixtures.h"
#include "support/run_program.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"

using namespace vexal_test;

namespace {

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0;
  double se = 0;
  for (size_t i = 0; i < a.size(); ++i) se += (a[i] - b[i]) * double(a[i] - b[i]);
  return se == 0 ? 200 : 10 * std::log10(255.0 * 255.0 / (se / double(a.size())));
}

// Encodes at ratio 4 with three levels and returns the decoded pixels (planar).
std::vector<uint8_t> round_trip(const std::vector<std::string>& input_args, const ScratchDir& dir,
                                const std::string& name) {
  std::vector<std::string> args = input_args;
  for (const char* a : {"-n", "3", "-c", "4", "-o"}) args.push_back(a);
  args.push_back(dir / (name + ".vxl"));
  ProgramResult enc = run_program(VEXAL_ENCODE_BIN, args);
  EXPECT_EQ(enc.status, 0) << enc.err;
  ProgramResult dec = run_program(VEXAL_DECODE_BIN, {"-i", dir / (name + ".vxl"), "-o", dir / (name + ".tif")});
  EXPECT_EQ(dec.status, 0) << dec.err;
  return gdal_planes(dir / (name + ".tif"), dir / (name + ".raw"));
}

TEST(RawInputs, LanAndBilMosaicsDecodeLikeTheUncutImage) {
  VEXAL_REQUIRE_GDAL();
  VEXAL_REQUIRE_SAMPLE(rgb, "tiff/rgb-3c-8b.tiff");
  ScratchDir dir;
  gdal_translate({"-a_ullr", "1000", "2000", "1157", "1849", rgb.string(), dir / "geo.tif"});
  const std::vector<uint8_t> source = gdal_planes(rgb.string(), dir / "source.raw");
  const int quarters[4][4] = {{0, 0, 80, 70}, {80, 0, 77, 70}, {0, 70, 80, 81}, {80, 70, 77, 81}};
  struct Kind {
    const char* flag;
    const char* format;
    const char* extension;
  };
  for (const Kind& k : {Kind{"-lan", "LAN", ".lan"}, Kind{"-bbb", "EHdr", ".bil"}}) {
    SCOPED_TRACE(k.flag);
    const std::string whole_file = dir / (std::string("whole") + k.extension);
    gdal_translate({"-of", k.format, dir / "geo.tif", whole_file});
    std::string list;
    for (int i = 0; i < 4; ++i) {
      const std::string tile = dir / ("q" + std::to_string(i) + k.extension);
      gdal_translate({"-of", k.format, "-srcwin", std::to_string(quarters[i][0]),
                      std::to_string(quarters[i][1]), std::to_string(quarters[i][2]),
                      std::to_string(quarters[i][3]), dir / "geo.tif", tile});
      list += tile + "\n";
    }
    write_text(dir / "tiles.txt", list);
    const std::vector<uint8_t> single = round_trip({k.flag, "-i", whole_file}, dir, "single");
    const std::vector<uint8_t> mosaic = round_trip({k.flag, "-mos", "-i", dir / "tiles.txt"}, dir, "mosaic");
    EXPECT_GT(psnr(source, single), 32.0);
    EXPECT_EQ(mosaic, single);
    EXPECT_TRUE(std::filesystem::exists(dir / "mosaic.vxw"));
  }
}

TEST(RawInputs, DoqWritesItsHeaderDescriptionAndKeepsTheQuadrangle) {
  VEXAL_REQUIRE_GDAL();
  ScratchDir dir;
  Doq d;
  write_keyword_doq(dir / "q.doq", d);
  const std::vector<uint8_t> decoded = round_trip({"-doq", "-i", dir / "q.doq"}, dir, "q");
  const std::vector<uint8_t> meta = read_bytes(dir / "q.meta");
  EXPECT_EQ(std::string(meta.begin(), meta.begin() + 11), "Begin file ");
  // Well inside the quadrangle the decoded image is the raster shifted by the crop (20, 15).
  const std::vector<uint8_t> source = raster(d);
  std::vector<uint8_t> inner_source, inner_decoded;
  for (int b = 0; b < 3; ++b)
    for (int y = 20; y < 380; ++y)
      for (int x = 20; x < 420; ++x) {
        inner_decoded.push_back(decoded[(static_cast<size_t>(b) * 500 + y) * 500 + x]);
        inner_source.push_back(source[((static_cast<size_t>(y) + 15) * 500 + x + 20) * 3 + b]);
      }
  EXPECT_GT(psnr(inner_source, inner_decoded), 30.0);
}

TEST(RawInputs, ImageDatabaseEncodes) {
  VEXAL_REQUIRE_GDAL();
  ScratchDir dir;
  for (int k = 0; k < 4; ++k) {
    const int x = (k % 2) * 32, y = (k / 2) * 32;
    std::filesystem::create_directories(dir / "db/000000");
    LanSpec layout;
    layout.width = layout.height = 32;
    layout.xmap = static_cast<float>(x);
    layout.ymap = static_cast<float>(1000 - y);
    write_lan(dir / ("db/000000/" + std::to_string(k) + ".lan"), layout,
              [&](int, int r, int c) { return 128 + 100 * std::sin((x + c) / 9.0) * std::cos((y + r) / 7.0); });
  }
  const std::vector<uint8_t> decoded = round_trip({"-idb", "-i", dir / "db"}, dir, "db");
  std::vector<uint8_t> expected;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x)
      expected.push_back(static_cast<uint8_t>(128 + 100 * std::sin(x / 9.0) * std::cos(y / 7.0)));
  EXPECT_GT(psnr(expected, decoded), 35.0);
}

TEST(RawInputs, RefusedSampleEndsWithItsMessageAndNoOutput) {
  VEXAL_REQUIRE_SAMPLE(landsat, "bbb/tm4628_96.bil");
  ScratchDir dir;
  ProgramResult r = run_program(VEXAL_ENCODE_BIN, {"-bbb", "-i", landsat.string(), "-o", dir / "x.vxl"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Error: this program can of process 1- or 3-band LAN files."), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
