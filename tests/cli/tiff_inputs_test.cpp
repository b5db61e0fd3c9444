// The TIFF family end to end: encode real samples with vexal_encode, decode with vexal_decode,
// and compare with libtiff's reading of the source; the world file carries the georeferencing.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include <tiffio.h>

#include "cli/tiff_psnr.h"
#include "support/run_program.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"
#include "support/tiff_samples.h"

using vexal_test::psnr;
using vexal_test::run_program;

TEST(TiffInputs, SamplesRoundTripThroughEncoderAndDecoder) {
  struct Case {
    const char* flag;
    const char* sample;
    double min_psnr;
  };
  for (const Case& c : {Case{"-tifg", "geotiff/utm.tif", 35}, Case{"-tif", "tiff/rgb-3c-8b.tiff", 40},
                        Case{"-tif", "tiff/quad-tile.jpg.tiff", 35},
                        Case{"-tifg", "geotiff/erdas_spnad83.tif", 33}}) {
    SCOPED_TRACE(c.sample);
    VEXAL_REQUIRE_SAMPLE(path, c.sample);
    vexal_test::ScratchDir dir;
    auto enc = run_program(VEXAL_ENCODE_BIN,
                           {c.flag, "-i", path.string(), "-o", dir / "x.vxl", "-c", "2"});
    ASSERT_EQ(enc.status, 0) << enc.err;
    auto dec = run_program(VEXAL_DECODE_BIN, {"-i", dir / "x.vxl", "-o", dir / "x.tif"});
    ASSERT_EQ(dec.status, 0) << dec.err;
    EXPECT_GE(psnr(path.string(), dir / "x.tif"), c.min_psnr);
  }
}

// utm.tif: tie point 440720, 3751320 at the corner (PixelIsArea), 60 m pixels; the world file
// names the centre of the upper-left pixel.
TEST(TiffInputs, GeoTiffWorldFile) {
  VEXAL_REQUIRE_SAMPLE(path, "geotiff/utm.tif");
  vexal_test::ScratchDir dir;
  auto enc = run_program(VEXAL_ENCODE_BIN, {"-tifg", "-i", path.string(), "-o", dir / "u.vxl"});
  ASSERT_EQ(enc.status, 0) << enc.err;
  std::ifstream world(dir / "u.vxw");
  std::vector<double> v(6);
  for (double& x : v) world >> x;
  EXPECT_EQ(v, (std::vector<double>{60, 0, 0, -60, 440750, 3751290}));
}

// A CMYK TIFF comes back as its own four inks, and a TIFF whose only related tags are its
// resolutions comes back without map georeferencing (no GeoTIFF tags, no world file).
TEST(TiffInputs, CmykReturnsAsInksAndPlainTiffsStayUnreferenced) {
  VEXAL_REQUIRE_SAMPLE(path, "tiff/rgbsmall_cmyk.tif");
  vexal_test::ScratchDir dir;
  auto enc = run_program(VEXAL_ENCODE_BIN, {"-tif", "-i", path.string(), "-o", dir / "c.vxl",
                                            "-n", "1", "-c", "2"});
  ASSERT_EQ(enc.status, 0) << enc.err;
  auto dec = run_program(VEXAL_DECODE_BIN, {"-i", dir / "c.vxl", "-o", dir / "c.tif", "-wf"});
  ASSERT_EQ(dec.status, 0) << dec.err;
  const vexal_test::TiffSamples source = vexal_test::read_tiff_samples(path.string());
  const vexal_test::TiffSamples result = vexal_test::read_tiff_samples(dir / "c.tif");
  const std::vector<uint8_t>& inks = source.samples;
  const std::vector<uint8_t>& decoded = result.samples;
  ASSERT_EQ(source.photometric, PHOTOMETRIC_SEPARATED);
  EXPECT_EQ(result.photometric, PHOTOMETRIC_SEPARATED);
  ASSERT_EQ(decoded.size(), inks.size());
  double se = 0;
  for (size_t i = 0; i < inks.size(); ++i) se += std::pow(double(inks[i]) - decoded[i], 2);
  EXPECT_GT(10 * std::log10(255.0 * 255.0 * double(inks.size()) / se), 30.0);

  EXPECT_FALSE(std::ifstream(dir / "c.tfw").good());
  auto info = run_program("/usr/bin/gdalinfo", {dir / "c.tif"});
  if (info.status == 0) {
    EXPECT_EQ(info.out.find("Origin"), std::string::npos) << info.out;
  }
}
