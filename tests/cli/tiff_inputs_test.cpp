// The TIFF family end to end: encode real samples with vexal_encode, decode with vexal_decode,
// and compare with libtiff's reading of the source; the world file carries the georeferencing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include <tiffio.h>

#include "cli/tiff_psnr.h"
#include "image/reader_fixtures.h"
#include "support/run_program.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"
#include "support/tiff_samples.h"

using vexal_test::gdal_translate;
using vexal_test::psnr;
using vexal_test::run_program;

namespace {

struct Encoded {
  std::vector<uint8_t> bytes;  // empty when the encoding failed
  std::string err;
};

// The two records in which outputs of one picture from two files differ: when it was encoded
// and how large the input file was. Their values (after a 16-byte record head) are blanked.
void blank_run_records(std::vector<uint8_t>& bytes) {
  for (const auto& [key, length] : {std::pair<std::string, size_t>{"IMAGE::CREATION_DATE", 25},
                                    {"IMAGE::INPUT_FILE_SIZE", 8}}) {
    const auto at = std::search(bytes.begin(), bytes.end(), key.begin(), key.end());
    ASSERT_LT(size_t(bytes.end() - at), bytes.size()) << key << " not found";
    const size_t value = size_t(at - bytes.begin()) + key.size() + 1 + 16;
    ASSERT_LE(value + length, bytes.size());
    std::fill_n(bytes.begin() + std::ptrdiff_t(value), length, uint8_t{0});
  }
}

// Encodes in.tif of `dir` to out.vxl there (the input's name is recorded, so it is the same in
// every folder).
Encoded encode_in(const std::string& dir, const std::vector<std::string>& options) {
  std::vector<std::string> args = options;
  for (const char* a : {"-i", "in.tif", "-o", "out.vxl"}) args.push_back(a);
  const auto run = run_program(VEXAL_ENCODE_BIN, args, dir);
  if (run.status != 0) return {{}, run.err};
  Encoded e{vexal_test::read_bytes(dir + "/out.vxl"), run.err};
  blank_run_records(e.bytes);
  return e;
}

uint16_t planar_configuration(const std::string& path) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  uint16_t planar = 0;
  if (tif) TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  if (tif) TIFFClose(tif);
  return planar;
}

size_t count_of(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

}  // namespace

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

// GeoTIFFs that GDAL writes band-interleaved (INTERLEAVE=BAND: each band in its own plane of
// strips or tiles) encode to the very bytes of their pixel-interleaved twins: 8 and 16 bits,
// strips and tiles, compressed or not, three bands and one, through -tifg, -tif and -tifw.
TEST(TiffInputs, BandInterleavedFilesEncodeAsTheirTwins) {
  VEXAL_REQUIRE_GDAL();
  VEXAL_REQUIRE_SAMPLE(rgb, "geotiff/RGB.byte.tif");
  VEXAL_REQUIRE_SAMPLE(grey, "geotiff/utm.tif");
  const std::vector<std::string> to16 = {"-ot", "UInt16", "-scale", "0", "255", "0", "65535"};
  struct Case {
    const char* label;
    std::string source;
    std::vector<std::string> options;
    std::vector<std::string> flags;
  };
  const std::vector<Case> cases = {
      {"8-bit strips", rgb, {"-co", "BLOCKYSIZE=5"}, {"-tifg", "-tif"}},
      {"8-bit deflate tiles", rgb, {"-co", "TILED=YES", "-co", "COMPRESS=DEFLATE", "-co", "TFW=YES"},
       {"-tifg", "-tifw"}},
      {"16-bit lzw strips", rgb, {"-co", "COMPRESS=LZW"}, {"-tifg"}},
      {"16-bit tiles", rgb, {"-co", "TILED=YES", "-co", "BLOCKXSIZE=64", "-co", "BLOCKYSIZE=32"},
       {"-tifg"}},
      {"one band tiles", grey, {"-co", "TILED=YES", "-co", "BLOCKXSIZE=128", "-co", "BLOCKYSIZE=128"},
       {"-tifg"}},
  };
  vexal_test::ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<std::string> options = c.options;
    if (std::string(c.label).starts_with("16")) options.insert(options.end(), to16.begin(), to16.end());
    for (const char* layout : {"PIXEL", "BAND"}) {
      std::filesystem::create_directories(dir / layout);
      std::vector<std::string> args = options;
      for (const std::string& a : {std::string("-co"), "INTERLEAVE=" + std::string(layout),
                                   c.source, dir / layout + "/in.tif"})
        args.push_back(a);
      gdal_translate(args);
    }
    ASSERT_EQ(planar_configuration(dir / "BAND/in.tif"), PLANARCONFIG_SEPARATE);
    for (const std::string& flag : c.flags) {
      SCOPED_TRACE(flag);
      const Encoded twin = encode_in(dir / "PIXEL", {flag, "-c", "10"});
      const Encoded band = encode_in(dir / "BAND", {flag, "-c", "10"});
      ASSERT_FALSE(twin.bytes.empty()) << twin.err;
      EXPECT_TRUE(band.bytes == twin.bytes) << band.err;
    }
  }
}

// A declared nodata value that the encoding does not keep (8-bit pixels without -nodata) gets
// one note saying how to keep it, and changes nothing in the output; kept values get none.
TEST(TiffInputs, UnkeptNodataGetsOneNote) {
  VEXAL_REQUIRE_GDAL();
  VEXAL_REQUIRE_SAMPLE(rgb, "geotiff/RGB.byte.tif");
  vexal_test::ScratchDir dir;
  for (const char* name : {"declared", "none", "deep"})
    std::filesystem::create_directories(dir / name);
  gdal_translate({rgb.string(), dir / "declared/in.tif"});
  gdal_translate({"-a_nodata", "none", rgb.string(), dir / "none/in.tif"});
  gdal_translate({"-ot", "UInt16", rgb.string(), dir / "deep/in.tif"});
  const std::string note =
      "Note: in.tif declares nodata value 0, which is not kept; give -nodata to keep it "
      "transparent.\n";
  const Encoded declared = encode_in(dir / "declared", {"-tifg"});
  const Encoded none = encode_in(dir / "none", {"-tifg"});
  ASSERT_FALSE(declared.bytes.empty()) << declared.err;
  EXPECT_EQ(count_of(declared.err, note), 1u) << declared.err;
  EXPECT_EQ(count_of(declared.err, "Note:"), 1u) << declared.err;
  EXPECT_TRUE(declared.bytes == none.bytes);
  EXPECT_EQ(count_of(none.err, "nodata"), 0u) << none.err;
  for (const Encoded& kept : {encode_in(dir / "declared", {"-tifg", "-nodata"}),
                              encode_in(dir / "deep", {"-tifg"})}) {
    EXPECT_FALSE(kept.bytes.empty()) << kept.err;
    EXPECT_EQ(count_of(kept.err, "nodata"), 0u) << kept.err;
  }
}
