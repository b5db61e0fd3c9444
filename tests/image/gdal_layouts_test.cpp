// One real image laid out by GDAL as interleaved-by-pixel, by-line and band-sequential raw
// files, and as float samples made into an RFI file: every reader path must see the same pixels.
#include <gtest/gtest.h>

#include <fstream>

#include "image/rfi_image.h"
#include "raw_test_image.h"
#include "support/run_program.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"

namespace {

constexpr int W = 157, H = 151;  // tiff/rgb-3c-8b.tiff

bool gdal_raw(const std::string& in, const std::string& out, const char* type, const char* interleave) {
  const vexal_test::ProgramResult r = vexal_test::run_program(
      "/usr/bin/gdal_translate", {"-q", "-of", "ENVI", "-ot", type, "-co",
                                  std::string("INTERLEAVE=") + interleave, in, out});
  return r.status == 0;
}

}  // namespace

TEST(GdalLayouts, PixelLineAndBandOrderAndRfiAgree) {
  VEXAL_REQUIRE_SAMPLE(tiff, "tiff/rgb-3c-8b.tiff");
  if (!std::filesystem::exists("/usr/bin/gdal_translate")) GTEST_SKIP() << "no gdal_translate";
  vexal_test::ScratchDir dir;
  ASSERT_TRUE(gdal_raw(tiff.string(), dir / "bip", "Byte", "BIP"));
  ASSERT_TRUE(gdal_raw(tiff.string(), dir / "bil", "Byte", "BIL"));
  ASSERT_TRUE(gdal_raw(tiff.string(), dir / "bsq", "Byte", "BSQ"));
  ASSERT_TRUE(gdal_raw(tiff.string(), dir / "float", "Float32", "BSQ"));
  {
    const int32_t header[3] = {W, H, 3};  // little-endian host
    std::ofstream rfi(dir / "x.rfi", std::ios::binary);
    rfi.write(reinterpret_cast<const char*>(header), sizeof header);
    std::ifstream body(dir / "float", std::ios::binary);
    rfi << body.rdbuf();
  }
  int s[2][2] = {{-5, W + 5}, {20, 40}};  // beyond both sides
  const size_t n = static_cast<size_t>(W + 11) * 21 * 3;
  std::vector<std::vector<uint8_t>> seen;
  for (const char* word : {"RGB", "RGB_BIL", "RGB_BSQ"}) {
    const std::string file = dir / (word == std::string("RGB") ? "bip" : word == std::string("RGB_BIL") ? "bil" : "bsq");
    vexal_test::RawTestImage image(file, {word, W, H, 3, 1, 0, 0}, 0, 0);
    std::vector<uint8_t> out(n, 0);
    image.extract(s, out.data());
    seen.push_back(out);
  }
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(seen[0], seen[2]);

  RFIImage rfi(Quorvale::FileSpecification(dir / "x.rfi"), 0, 0);
  std::unique_ptr<PixelData> block = rfi.extract(s);
  std::vector<uint8_t> from_floats(n);
  for (size_t i = 0; i < n; ++i) from_floats[i] = static_cast<uint8_t>(block->float_data()[i]);
  EXPECT_EQ(from_floats, seen[0]);
  EXPECT_NE(std::count(seen[0].begin(), seen[0].end(), 0), static_cast<long>(n));  // not blank
}
