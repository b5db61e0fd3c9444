// vexal_decode's creation options on a real image: compressed, tiled and BigTIFF outputs hold
// exactly the pixels of the plain output, and an unknown option fails before any file is made.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <filesystem>
#include <vector>

#include "support/run_program.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"

namespace {

struct TiffFacts {
  std::vector<uint32_t> rgba;
  bool big = false, tiled = false;
  uint16_t compression = 0;
};

TiffFacts facts_of(const std::string& name) {
  TiffFacts f;
  TIFF* tif = TIFFOpen(name.c_str(), "r");
  EXPECT_NE(tif, nullptr) << name;
  if (!tif) return f;
  uint32_t w = 0, h = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetField(tif, TIFFTAG_COMPRESSION, &f.compression);
  f.big = TIFFIsBigTIFF(tif);
  f.tiled = TIFFIsTiled(tif);
  f.rgba.resize(size_t(w) * h);
  EXPECT_EQ(TIFFReadRGBAImage(tif, w, h, f.rgba.data(), 0), 1);
  TIFFClose(tif);
  return f;
}

}  // namespace

TEST(VexalDecodeStreaming, CreationOptionsKeepEveryPixel) {
  VEXAL_REQUIRE_SAMPLE(source, "geotiff/RGB.byte.tif");
  vexal_test::ScratchDir dir;
  const std::string vxl = dir / "rgb.vxl";
  auto r = vexal_test::run_program(VEXAL_ENCODE_BIN, {"-tifg", "-i", source.string(), "-o", vxl,
                                                      "-t", dir.path().string()});
  ASSERT_EQ(r.status, 0) << r.err;
  r = vexal_test::run_program(VEXAL_DECODE_BIN, {"-i", vxl, "-o", dir / "plain.tif"});
  ASSERT_EQ(r.status, 0) << r.err;
  const TiffFacts plain = facts_of(dir / "plain.tif");
  EXPECT_FALSE(plain.big || plain.tiled);
  EXPECT_EQ(plain.compression, COMPRESSION_NONE);

  r = vexal_test::run_program(VEXAL_DECODE_BIN,
                              {"-i", vxl, "-o", dir / "deflate.tif", "-co", "COMPRESS=DEFLATE"});
  ASSERT_EQ(r.status, 0) << r.err;
  const TiffFacts deflate = facts_of(dir / "deflate.tif");
  EXPECT_EQ(deflate.compression, COMPRESSION_ADOBE_DEFLATE);
  EXPECT_TRUE(deflate.rgba == plain.rgba);
  EXPECT_LT(std::filesystem::file_size(dir / "deflate.tif"),
            std::filesystem::file_size(dir / "plain.tif") * 3 / 4);

  r = vexal_test::run_program(VEXAL_DECODE_BIN, {"-i", vxl, "-o", dir / "big.tif", "-co",
                                                 "bigtiff=yes", "-co", "COMPRESS=LZW"});
  ASSERT_EQ(r.status, 0) << r.err;
  const TiffFacts big = facts_of(dir / "big.tif");
  EXPECT_TRUE(big.big && big.tiled);
  EXPECT_TRUE(big.rgba == plain.rgba);

  r = vexal_test::run_program(VEXAL_DECODE_BIN,
                              {"-i", vxl, "-o", dir / "bad.tif", "-co", "COMPRESS=JPEG2000"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("unknown creation option -co COMPRESS=JPEG2000"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "bad.tif"));
}
