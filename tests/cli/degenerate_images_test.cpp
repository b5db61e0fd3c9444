// Flat, empty and extreme images through vexal_encode, vxl_check and vexal_decode: every mode
// must give a file its own readers open and decode to the source, or refuse the input.
#include <gtest/gtest.h>

#include <tiffio.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;
using vexal_test::run_program;

namespace {

constexpr ttag_t kGdalNodataTag = 42113;

void register_nodata_tag() {
  static const TIFFFieldInfo kField[] = {
      {kGdalNodataTag, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char*>("GDALNoData")}};
  static TIFFExtendProc parent = TIFFSetTagExtender([](TIFF* tif) {
    TIFFMergeFieldInfo(tif, kField, 1);
    if (parent) parent(tif);
  });
}

// A grey or RGB TIFF of 8-bit, 16-bit or float samples, every sample `value` except those
// `other` sets; with a GDAL_NODATA tag when `nodata` is not empty.
struct Flat {
  std::string name;
  int bands = 1, bits = 8;
  double value = 0;
  std::string nodata;
};

void write_flat(const std::string& path, const Flat& f, int size,
                double (*other)(int x, int y, double value) = nullptr) {
  register_nodata_tag();
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, size);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, size);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, f.bands);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, f.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, f.bits == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, f.bands == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1);
  if (!f.nodata.empty()) TIFFSetField(tif, kGdalNodataTag, f.nodata.c_str());
  std::vector<uint8_t> row(size_t(size) * f.bands * f.bits / 8);
  for (int y = 0; y < size; ++y) {
    for (int i = 0; i < size * f.bands; ++i) {
      const double v = other ? other(i / f.bands, y, f.value) : f.value;
      if (f.bits == 8) row[size_t(i)] = uint8_t(v);
      if (f.bits == 16) reinterpret_cast<uint16_t*>(row.data())[i] = uint16_t(v);
      if (f.bits == 32) reinterpret_cast<float*>(row.data())[i] = float(v);
    }
    TIFFWriteScanline(tif, row.data(), uint32_t(y), 0);
  }
  TIFFClose(tif);
}

// Every sample of a TIFF as double, in file order.
std::vector<double> samples_of(const std::string& path) {
  std::vector<double> out;
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return out;
  uint32_t w = 0, h = 0;
  uint16_t bits = 8, spp = 1;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
  std::vector<uint8_t> row(size_t(TIFFScanlineSize64(tif)));
  for (uint32_t y = 0; y < h; ++y) {
    if (TIFFReadScanline(tif, row.data(), y, 0) < 0) return {};
    for (size_t i = 0; i < size_t(w) * spp; ++i) {
      if (bits == 8) out.push_back(row[i]);
      if (bits == 16) out.push_back(reinterpret_cast<const uint16_t*>(row.data())[i]);
      if (bits == 32) out.push_back(reinterpret_cast<const float*>(row.data())[i]);
    }
  }
  TIFFClose(tif);
  return out;
}

// Encodes `input` with `options`, checks and decodes the file; the decoded samples.
std::vector<double> round_trip(const vexal_test::ScratchDir& dir, const std::string& input,
                               const std::vector<std::string>& options) {
  const std::string vxl = dir / "out.vxl", tif = dir / "out.tif";
  for (const char* name : {"out.vxl", "out.tif", "out.txt"}) fs::remove(dir / name);
  std::vector<std::string> args = {"-tif", "-i", input, "-o", vxl};
  args.insert(args.end(), options.begin(), options.end());
  const auto encoded = run_program(VEXAL_ENCODE_BIN, args);
  EXPECT_EQ(encoded.status, 0) << encoded.err;
  const auto check = run_program(VXL_CHECK_BIN, {vxl});
  EXPECT_EQ(check.status, 0) << check.out << check.err;
  const auto decoded = run_program(VEXAL_DECODE_BIN, {"-i", vxl, "-o", tif});
  EXPECT_EQ(decoded.status, 0) << decoded.err;
  return samples_of(tif);
}

// The largest difference between the source's samples and their round trip (nodata samples
// must come back exactly as well), or NaN when the sizes differ.
double round_trip_error(const vexal_test::ScratchDir& dir, const std::string& input,
                        const std::vector<std::string>& options) {
  const std::vector<double> a = samples_of(input), b = round_trip(dir, input, options);
  if (a.empty() || a.size() != b.size()) return std::nan("");
  double worst = 0;
  for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::fabs(a[i] - b[i]));
  return worst;
}

std::string options_text(const std::vector<std::string>& options) {
  std::string text;
  for (const std::string& o : options) text += " " + o;
  return text;
}

}  // namespace

// The rate-distortion mode used to leave the low-pass subband's blocks out where all their
// indices were zero (an all-zero image), and to zero a flat image under -psnr.
TEST(DegenerateImages, FlatAndEmptyImagesRoundTripInEveryMode) {
  vexal_test::ScratchDir dir;
  const Flat flats[] = {
      {"zero8", 1, 8, 0, ""},          {"grey8", 1, 8, 128, ""},
      {"rgb8", 3, 8, 200, ""},         {"nodata8", 1, 8, 7, "7"},
      {"zero16", 1, 16, 0, ""},        {"nodata16", 1, 16, 0, "0"},
      {"zerof", 1, 32, 0, ""},         {"flatf", 1, 32, 3.5, ""},
      {"nodataf", 1, 32, -3.4028234663852886e38, "-3.4028234663852886e+38"},
  };
  const std::vector<std::string> modes[] = {
      {}, {"-nodata"}, {"-rdo"}, {"-rdo", "-nodata"}, {"-rdo", "-psnr", "40"}};
  for (const Flat& f : flats) {
    const std::string input = dir / (f.name + ".tif");
    write_flat(input, f, 128);
    // Float coding is lossy even here (dither, and the error a 40 dB target allows); nodata
    // samples come back exactly.
    const double tolerance = f.bits == 32 && f.nodata.empty() ? 0.02 : 0.0;
    for (const auto& mode : modes)
      EXPECT_LE(round_trip_error(dir, input, mode), tolerance) << f.name << options_text(mode);
  }
}

TEST(DegenerateImages, EmptyRegionOfAnImageRoundTrips) {
  vexal_test::ScratchDir dir;
  const std::string input = dir / "corner.tif";
  write_flat(input, Flat{"corner", 1, 8, 0, ""}, 400, [](int x, int y, double) {
    return x < 200 && y < 200 ? 0.0 : double((x * 7 + y * 13) % 251);
  });
  for (const auto& mode : {std::vector<std::string>{}, {"-rdo"}, {"-rdo", "-psnr", "40"}}) {
    std::vector<std::string> options = {"-region", "0", "0", "149", "149"};
    options.insert(options.end(), mode.begin(), mode.end());
    EXPECT_EQ(round_trip(dir, input, options), std::vector<double>(150 * 150, 0.0))
        << options_text(mode);
  }
}

// Samples beyond what the transform carries used to decode to zero or far off, with exit 0.
TEST(DegenerateImages, FloatSamplesBeyondTheTransformAreRefused) {
  vexal_test::ScratchDir dir;
  const auto alternating = [](int x, int y, double v) { return (x + y) % 2 ? v : -v / 2; };
  const std::string within = dir / "within.tif", beyond = dir / "beyond.tif";
  write_flat(within, Flat{"within", 1, 32, 5e36, ""}, 128, alternating);
  write_flat(beyond, Flat{"beyond", 1, 32, 1e37, ""}, 128, alternating);
  for (const auto& mode : {std::vector<std::string>{}, {"-rdo"}}) {
    EXPECT_LE(round_trip_error(dir, within, mode), 5e36 * 0.01) << options_text(mode);
    std::vector<std::string> args = {"-tif", "-i", "beyond.tif"};
    args.insert(args.end(), mode.begin(), mode.end());
    const auto r = run_program(VEXAL_ENCODE_BIN, args, dir.path().string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error: beyond.tif has a sample of magnitude 1e+37; 4 levels of the "
                         "transform keep samples up to 5.08e+36 only.\n"),
              std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "beyond.vxl"));
    EXPECT_FALSE(fs::exists(dir / "beyond.txt"));
  }
}

// A GDAL_NODATA no sample can hold used to be taken without a word ("70000" recorded for a
// Byte image and written back) or dropped silently ("abc").
TEST(DegenerateImages, NodataNoSampleCanHoldIsSetAsideWithAWarning) {
  vexal_test::ScratchDir dir;
  struct Case {
    Flat flat;
    std::vector<std::string> options;
    std::string type;
  };
  const Case cases[] = {{{"abc", 1, 8, 7, "abc"}, {"-nodata"}, "8-bit"},
                        {{"big", 1, 8, 7, "70000"}, {"-nodata"}, "8-bit"},
                        {{"half", 1, 8, 7, "7.5"}, {"-nodata"}, "8-bit"},
                        {{"big16", 1, 16, 7, "70000"}, {}, "16-bit unsigned"}};
  for (const Case& c : cases) {
    const std::string input = dir / (c.flat.name + ".tif");
    write_flat(input, c.flat, 128);
    std::vector<std::string> args = {"-tif", "-i", input, "-o", dir / "out.vxl"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const auto r = run_program(VEXAL_ENCODE_BIN, args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Warning: " + input + " has a GDAL_NODATA of \"" + c.flat.nodata +
                         "\", which no " + c.type + " sample can hold; it is ignored and the "
                         "image has no nodata value.\n"),
              std::string::npos) << r.err;
    const auto info = run_program(VEXAL_DECODE_BIN, {"-info", dir / "out.vxl"});
    EXPECT_EQ(info.out.find("NODATA"), std::string::npos) << info.out;
    fs::remove(dir / "out.vxl"), fs::remove(dir / "out.txt");
  }
}
