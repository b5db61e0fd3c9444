// Flat, empty and extreme images through vexal_encode, vxl_check and vexal_decode: every mode
// gives a file its own readers open and that decodes to the source, or the input is refused.
#include <gtest/gtest.h>

#include <tiffio.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;
using vexal_test::run_program;

namespace {

struct Flat {
  std::string name;
  int bands, bits;
  double value;
  std::string nodata;  // GDAL_NODATA text; empty: no tag
};

// A size x size TIFF of `f`'s kind, `value(x, y)` in every band.
void write_image(const std::string& path, const Flat& f, int size,
                 const std::function<double(int, int)>& value) {
  static const TIFFFieldInfo kNodata = {42113, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0,
                                        const_cast<char*>("GDALNoData")};
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  TIFFMergeFieldInfo(tif, &kNodata, 1);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, size);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, size);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, f.bands);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, f.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, f.bits == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, f.bands == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  if (!f.nodata.empty()) TIFFSetField(tif, 42113, f.nodata.c_str());
  std::vector<uint8_t> row(size_t(size) * f.bands * f.bits / 8);
  for (int y = 0; y < size; ++y) {
    for (int i = 0; i < size * f.bands; ++i) {
      const double v = value(i / f.bands, y);
      if (f.bits == 8) row[size_t(i)] = uint8_t(v);
      if (f.bits == 16) reinterpret_cast<uint16_t*>(row.data())[i] = uint16_t(v);
      if (f.bits == 32) reinterpret_cast<float*>(row.data())[i] = float(v);
    }
    TIFFWriteScanline(tif, row.data(), uint32_t(y), 0);
  }
  TIFFClose(tif);
}

// Every sample of a TIFF, in file order; empty when it does not open.
std::vector<double> samples_of(const std::string& path) {
  std::vector<double> out;
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return out;
  uint32_t h = 0;
  uint16_t bits = 8;
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  std::vector<uint8_t> row(size_t(TIFFScanlineSize64(tif)));
  for (uint32_t y = 0; y < h && TIFFReadScanline(tif, row.data(), y, 0) >= 0; ++y)
    for (size_t i = 0; i < row.size() * 8 / bits; ++i)
      out.push_back(bits == 8    ? row[i]
                    : bits == 16 ? reinterpret_cast<const uint16_t*>(row.data())[i]
                                 : reinterpret_cast<const float*>(row.data())[i]);
  TIFFClose(tif);
  return out;
}

// Encodes `input` with `options`, checks the file and decodes it; the decoded samples.
std::vector<double> round_trip(const vexal_test::ScratchDir& dir, const std::string& input,
                               std::vector<std::string> options, std::string* err = nullptr) {
  for (const char* name : {"out.vxl", "out.tif", "out.txt"}) fs::remove(dir / name);
  options.insert(options.begin(), {"-tif", "-i", input, "-o", dir / "out.vxl"});
  const auto encoded = run_program(VEXAL_ENCODE_BIN, options);
  EXPECT_EQ(encoded.status, 0) << encoded.err;
  if (err) *err = encoded.err;
  EXPECT_EQ(run_program(VXL_CHECK_BIN, {dir / "out.vxl"}).status, 0);
  EXPECT_EQ(run_program(VEXAL_DECODE_BIN, {"-i", dir / "out.vxl", "-o", dir / "out.tif"}).status, 0);
  return samples_of(dir / "out.tif");
}

const std::vector<std::string> kModes[] = {
    {}, {"-nodata"}, {"-rdo"}, {"-rdo", "-nodata"}, {"-rdo", "-psnr", "40"}};

double largest_difference(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.empty() || a.size() != b.size()) return HUGE_VAL;
  double worst = 0;
  for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::fabs(a[i] - b[i]));
  return worst;
}

}  // namespace

// -rdo used to leave out the low-pass blocks of an all-zero image (a file no reader opens),
// and -psnr to zero a flat one.
TEST(DegenerateImages, FlatEmptyAndNodataImagesRoundTripInEveryMode) {
  vexal_test::ScratchDir dir;
  const Flat flats[] = {{"zero8", 1, 8, 0, ""},    {"grey8", 1, 8, 128, ""},
                        {"rgb8", 3, 8, 200, ""},   {"nodata8", 1, 8, 7, "7"},
                        {"zero16", 1, 16, 0, ""},  {"nodata16", 1, 16, 0, "0"},
                        {"zerof", 1, 32, 0, ""},   {"flatf", 1, 32, 3.5, ""},
                        {"nodataf", 1, 32, -3.4028234663852886e38, "-3.4028234663852886e+38"}};
  for (const Flat& f : flats) {
    const std::string input = dir / (f.name + ".tif");
    write_image(input, f, 128, [&f](int, int) { return f.value; });
    // Float coding is lossy even here (dither, the error 40 dB allow); nodata comes back exact.
    const double tolerance = f.bits == 32 && f.nodata.empty() ? 0.02 : 0.0;
    for (const auto& mode : kModes)
      EXPECT_LE(largest_difference(samples_of(input), round_trip(dir, input, mode)), tolerance)
          << f.name << testing::PrintToString(mode);
  }
  // An empty corner of a busy image, alone.
  const std::string corner = dir / "corner.tif";
  write_image(corner, {"corner", 1, 8, 0, ""}, 400, [](int x, int y) {
    return x < 200 && y < 200 ? 0.0 : double((x * 7 + y * 13) % 251);
  });
  for (auto mode : kModes) {
    mode.insert(mode.end(), {"-region", "0", "0", "149", "149"});
    EXPECT_EQ(round_trip(dir, corner, mode), std::vector<double>(150 * 150, 0.0))
        << testing::PrintToString(mode);
  }
}

// Values the image cannot hold: float samples the transform cannot carry used to decode to zero
// or far off with exit 0; a GDAL_NODATA no sample can hold was recorded, or dropped silently.
TEST(DegenerateImages, ValuesTheImageCannotHoldAreRefusedOrSetAside) {
  vexal_test::ScratchDir dir;
  const auto alternating = [](double v) {
    return [v](int x, int y) { return (x + y) % 2 ? v : -v / 2; };
  };
  write_image(dir / "within.tif", {"within", 1, 32, 0, ""}, 128, alternating(5e36));
  write_image(dir / "beyond.tif", {"beyond", 1, 32, 0, ""}, 128, alternating(1e37));
  for (const char* mode : {"-nd", "-rdo"}) {  // the default mode, and -rdo
    EXPECT_LE(largest_difference(samples_of(dir / "within.tif"),
                                 round_trip(dir, dir / "within.tif", {mode})), 5e34) << mode;
    const auto r = run_program(VEXAL_ENCODE_BIN, {"-tif", "-i", "beyond.tif", mode}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error: beyond.tif has a sample of magnitude 1e+37; 4 levels of the "
                         "transform keep samples up to 5.08e+36 only.\n"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "beyond.vxl") || fs::exists(dir / "beyond.txt"));
  }
  const Flat tags[] = {{"8-bit", 1, 8, 7, "abc"}, {"8-bit", 1, 8, 7, "70000"},
                       {"8-bit", 1, 8, 7, "7.5"}, {"16-bit unsigned", 1, 16, 7, "70000"}};
  for (const Flat& f : tags) {
    const std::string input = dir / "tagged.tif";
    write_image(input, f, 128, [](int, int) { return 7.0; });
    std::string err;
    EXPECT_EQ(round_trip(dir, input, {"-nodata"}, &err), samples_of(input));
    EXPECT_NE(err.find("Warning: " + input + " has a GDAL_NODATA of \"" + f.nodata + "\", which no " +
                       f.name + " sample can hold; it is ignored and the image has no nodata value.\n"),
              std::string::npos) << err;
    const auto info = run_program(VEXAL_DECODE_BIN, {"-info", dir / "out.vxl"});
    EXPECT_EQ(info.out.find("NODATA"), std::string::npos) << info.out;
  }
}
