// The public encoding API end to end: a caller's pixel function encoded and read back through
// vexal::Reader, against vexal_encode on the same pixels, and every refusal leaving nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <vector>

#include "image/tiff_fixture.h"
#include "support/run_program.h"
#include "support/scratch_dir.h"
#include "vexal/reader.h"
#include "vexal/writer.h"

namespace {

// Planar samples of a whole image, handed out by rectangle as the encoder asks.
template <typename T>
struct PlanarImage {
  int width, height, bands;
  std::vector<T> samples;  // band after band, row after row
  int calls = 0;
  bool outside = false;

  vexal::PixelSource source(vexal::SampleType type) {
    vexal::PixelSource s;
    s.width = width;
    s.height = height;
    s.bands = bands;
    s.sample_type = type;
    s.read = [this](int x0, int y0, int x1, int y1, void* buffer) {
      ++calls;
      outside = outside || x0 < 0 || y0 < 0 || x1 >= width || y1 >= height;
      T* out = static_cast<T*>(buffer);
      for (int b = 0; b < bands; ++b)
        for (int y = y0; y <= y1; ++y)
          for (int x = x0; x <= x1; ++x)
            *out++ = samples[(size_t(b) * height + y) * width + x];
      return true;
    };
    return s;
  }
};

template <typename T>
std::vector<T> decode_all(vexal::Reader& r) {
  std::vector<T> out(size_t(r.width()) * r.height() * r.bands());
  r.read(0, 0, 0, r.width() - 1, r.height() - 1, out.data());
  return out;
}

// PSNR against the value range of the data samples (those not equal to `skip`).
template <typename T>
double psnr(const std::vector<T>& a, const std::vector<T>& b, double skip) {
  double lo = 1e300, hi = -1e300, sum = 0;
  size_t n = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    if (double(a[i]) == skip) continue;
    lo = std::min(lo, double(a[i]));
    hi = std::max(hi, double(a[i]));
    sum += (double(a[i]) - double(b[i])) * (double(a[i]) - double(b[i]));
    ++n;
  }
  return 10 * std::log10((hi - lo) * (hi - lo) / std::max(sum / double(n), 1e-12));
}

template <typename T>
PlanarImage<T> smooth_image(int width, int height, int bands, double scale, double offset) {
  PlanarImage<T> image{width, height, bands, {}};
  image.samples.resize(size_t(width) * height * bands);
  for (int b = 0; b < bands; ++b)
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        image.samples[(size_t(b) * height + y) * width + x] = T(
            offset + scale * (0.5 + 0.25 * std::sin(x / 17.0 + b) + 0.25 * std::cos(y / 23.0 - b)));
  return image;
}

bool folder_is_empty(const vexal_test::ScratchDir& dir) {
  return std::filesystem::is_empty(dir.path());
}

}  // namespace

TEST(EncodeApi, GivesTheSamePixelsAsVexalEncodeOfTheSameTiff) {
  vexal_test::ScratchDir dir;
  vexal_test::TiffSpec layout;
  layout.width = 300;
  layout.height = 200;
  layout.samples = 3;
  layout.photometric = PHOTOMETRIC_RGB;
  const std::vector<uint8_t> interleaved = vexal_test::pattern(layout);
  vexal_test::write_tiff(dir / "in.tif", layout, interleaved);
  const auto run = vexal_test::run_program(
      VEXAL_ENCODE_BIN, {"-tif", "-i", dir / "in.tif", "-o", dir / "program.vxl", "-c", "8"});
  ASSERT_EQ(run.status, 0) << run.err;

  PlanarImage<uint8_t> image{300, 200, 3, std::vector<uint8_t>(interleaved.size())};
  for (size_t i = 0; i < interleaved.size(); ++i)
    image.samples[(i % 3) * 300 * 200 + i / 3] = interleaved[i];
  vexal::EncodeSettings settings;
  settings.ratio = 8;
  settings.threads = 3;
  std::vector<double> fractions;
  settings.progress = [&](double f) { return fractions.push_back(f), true; };
  vexal::encode(image.source(vexal::SampleType::kUInt8), dir / "api.vxl", settings);
  EXPECT_GT(image.calls, 0);
  EXPECT_FALSE(image.outside);
  ASSERT_FALSE(fractions.empty());
  EXPECT_EQ(fractions.back(), 1.0);

  vexal::Reader program(dir / "program.vxl"), api(dir / "api.vxl");
  EXPECT_EQ(api.color_scheme(), vexal::ColorScheme::kRGB);
  EXPECT_EQ(decode_all<uint8_t>(api), decode_all<uint8_t>(program));
  EXPECT_TRUE(std::filesystem::exists(dir / "api.vxl"));
  EXPECT_FALSE(std::filesystem::exists(dir / "api.vxw"));  // georeferencing is in the file
}

TEST(EncodeApi, SampleTypesBandsGeoreferencingAndNodataRoundTrip) {
  vexal_test::ScratchDir dir;
  vexal::EncodeSettings settings;
  settings.ratio = 2;
  settings.temp_dir = dir.path().string();

  // Int16 elevations with a nodata hole, placed in UTM 33N by its EPSG code alone.
  PlanarImage<int16_t> dem = smooth_image<int16_t>(260, 190, 1, 3000, -1000);
  for (int y = 40; y < 90; ++y)
    for (int x = 100; x < 170; ++x) dem.samples[size_t(y) * 260 + x] = -9999;
  vexal::PixelSource s = dem.source(vexal::SampleType::kInt16);
  s.nodata = -9999;
  s.georeferencing = vexal::Georeferencing{500000, 4650000, 30, 30, {}, 32633};
  vexal::encode(s, dir / "dem.vxl", settings);
  vexal::Reader r(dir / "dem.vxl");
  EXPECT_EQ(r.sample_type(), vexal::SampleType::kInt16);
  EXPECT_EQ(r.nodata(), -9999.0);
  const std::vector<int16_t> back = decode_all<int16_t>(r);
  for (size_t i = 0; i < back.size(); ++i)
    ASSERT_EQ(back[i] == -9999, dem.samples[i] == -9999) << "sample " << i;
  EXPECT_GE(psnr(dem.samples, back, -9999), 40.0);
  ASSERT_TRUE(r.georeferencing());
  EXPECT_EQ(r.georeferencing()->origin_x, 500000);
  EXPECT_EQ(r.georeferencing()->origin_y, 4650000);
  EXPECT_EQ(r.georeferencing()->pixel_width, 30);
  EXPECT_EQ(r.georeferencing()->epsg, 32633);

  // Float32 grey with alpha, coded band by band with their names.
  PlanarImage<float> pair = smooth_image<float>(150, 130, 2, 0.02, 0.5);
  s = pair.source(vexal::SampleType::kFloat32);
  s.band_colors = {"Gray", "Alpha"};
  vexal::encode(s, dir / "pair.vxl", settings);
  vexal::Reader p(dir / "pair.vxl");
  EXPECT_EQ(p.sample_type(), vexal::SampleType::kFloat32);
  EXPECT_EQ(p.band_colors(), s.band_colors);
  EXPECT_GE(psnr(pair.samples, decode_all<float>(p), NAN), 40.0);

  // UInt16 with four bands that are not CMYK keeps all four.
  PlanarImage<uint16_t> four = smooth_image<uint16_t>(130, 140, 4, 4000, 100);
  vexal::encode(four.source(vexal::SampleType::kUInt16), dir / "four.vxl", settings);
  vexal::Reader f(dir / "four.vxl");
  EXPECT_EQ(f.bands(), 4);
  EXPECT_EQ(f.sample_type(), vexal::SampleType::kUInt16);
  EXPECT_GE(psnr(four.samples, decode_all<uint16_t>(f), -1), 40.0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            3);  // the three outputs, no temporary file
}

TEST(EncodeApi, FailuresAndCancellationLeaveNothingBehind) {
  vexal_test::ScratchDir dir;
  const std::string out = dir / "out.vxl";
  vexal::EncodeSettings settings;
  settings.temp_dir = dir.path().string();
  auto fails_with = [&](const vexal::PixelSource& s, const vexal::EncodeSettings& e,
                        const std::string& words) {
    try {
      vexal::encode(s, out, e);
      ADD_FAILURE() << "no error for " << words;
    } catch (const vexal::Error& error) {
      const std::string message = error.what();
      EXPECT_NE(message.find(out), std::string::npos) << message;
      EXPECT_NE(message.find(words), std::string::npos) << message;
    }
    EXPECT_TRUE(folder_is_empty(dir)) << words;
  };
  PlanarImage<uint8_t> image = smooth_image<uint8_t>(700, 600, 3, 200, 10);
  vexal::PixelSource s = image.source(vexal::SampleType::kUInt8);

  vexal::EncodeSettings cancelling = settings;
  cancelling.progress = [](double f) { return f < 0.5; };
  fails_with(s, cancelling, "cancelled");

  int calls = 0;
  vexal::PixelSource broken = s;
  broken.read = [&](int x0, int y0, int x1, int y1, void* buffer) {
    return ++calls < 3 && s.read(x0, y0, x1, y1, buffer);
  };
  fails_with(broken, settings, "could not be read");

  // Refused before a pixel is read.
  image.calls = 0;
  vexal::PixelSource huge = s;
  huge.width = huge.height = 200000;
  vexal::EncodeSettings lossless = settings;
  lossless.ratio = 1;
  fails_with(huge, lossless, "4 GiB");
  vexal::PixelSource named = s;
  named.band_colors = {"Red", "Green"};
  fails_with(named, settings, "colours of 2 bands");
  vexal::PixelSource placed = s;
  placed.georeferencing = vexal::Georeferencing{0, 0, 1, 1, {}, 99999};
  fails_with(placed, settings, "EPSG code 99999");
  EXPECT_THROW(vexal::encode(s, "", settings), vexal::Error);
  EXPECT_EQ(image.calls, 0);
}
