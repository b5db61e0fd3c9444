// Encode an image, decode it back with the decoder, measure the error. Also: windows and levels
// agree with full decodes, and every table of the written files checks out.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "codec/lifting97.h"
#include "decoder/decoded_image.h"
#include "decoder/subband_geometry.h"
#include "decoder/vxl_check.h"
#include "decoder/vxl_file.h"
#include "encoder/core/encoder.h"
#include "support/scratch_dir.h"
#include "synthetic_image.h"

using Quorvale::FileSpecification;

namespace {

struct Case {
  int width, height, bands, data_type, scheme, nlev, block;
  float ratio;
  bool dither;
};

std::string encode(SyntheticImage& image, const Case& s, const vexal_test::ScratchDir& dir) {
  const std::string out = dir / "out.vxl";
  const FileSpecification temp(dir.path().string());
  Encoder encoder(&image, s.nlev, s.block, 8.0f / s.ratio, &temp, nullptr, nullptr, 4.0f, 2.0f,
                  s.dither, 0.25f);
  encoder.encode(FileSpecification(out));
  return out;
}

double sample_of(const DecodedImage& d, int b, size_t i) {
  const size_t at = size_t(b) * size_t(d.width) * size_t(d.height) + i;
  return d.data_type == 1 ? d.f32[at] : d.data_type == 2 ? d.u16[at] : d.u8[at];
}

double psnr(const SyntheticImage& src, const DecodedImage& d, const Window& w) {
  double se = 0;
  size_t n = 0;
  for (int b = 0; b < d.bands; ++b)
    for (int y = 0; y < d.height; ++y)
      for (int x = 0; x < d.width; ++x, ++n) {
        const double e = sample_of(d, b, size_t(y) * size_t(d.width) + size_t(x)) -
                         src.sample(b, w.x0 + x, w.y0 + y);
        se += e * e;
      }
  const double peak = d.data_type == 2 ? 65535.0 : 255.0;
  return se == 0 ? 200.0 : 10 * std::log10(peak * peak / (se / double(n)));
}

Window whole(const VxlFile& f, int level) {
  return {0, 0, reduced_size(f.width(), level) - 1, reduced_size(f.height(), level) - 1};
}

size_t files_in(const vexal_test::ScratchDir& dir) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++n;
  return n;
}

class RoundTrip : public testing::TestWithParam<Case> {};

}  // namespace

TEST_P(RoundTrip, DecodesCloseToTheSource) {
  const Case s = GetParam();
  vexal_test::ScratchDir dir;
  SyntheticImage image(s.width, s.height, s.bands, s.data_type, s.scheme);
  const std::string out = encode(image, s, dir);
  EXPECT_EQ(files_in(dir), 1u) << "temporary files left behind";
  const VxlFile file(out);
  ASSERT_EQ(file.width(), s.width);
  ASSERT_EQ(file.levels(), s.nlev);
  ASSERT_EQ(file.bands(), image.coded_bands());
  const VxlCheckReport check = check_vxl_structure(file);
  EXPECT_TRUE(check.problems.empty()) << check.problems.front();
  const DecodedImage d = decode_image(file, 0, whole(file, 0));
  EXPECT_GT(psnr(image, d, whole(file, 0)), 40.0);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, RoundTrip,
    testing::Values(
        Case{300, 257, 1, kImage8Bit, kSchemeGray, 3, 128, 2, true},     // several blocks
        Case{300, 257, 1, kImage8Bit, kSchemeGray, 3, 512, 2, false},    // one block, no dither
        Case{257, 300, 3, kImage8Bit, kSchemeRGB, 4, 200, 2, true},      // colour, odd blocks
        Case{130, 97, 4, kImage8Bit, kSchemeCMYK, 2, 64, 2, true},       // four coded bands
        Case{160, 140, 4, kImage8Bit, kSchemeRGB, 2, 64, 2, true},       // fourth band dropped
        Case{211, 199, 1, kImage16Bit, kSchemeGray, 3, 100, 2, true},    // 16-bit
        Case{200, 170, 3, kImageFloat, kSchemeRGB, 3, 128, 2, true},     // float, no colour
        Case{25, 25, 1, kImage8Bit, kSchemeGray, 2, 64, 2, true},        // minimum for 2 levels
        Case{9, 40, 1, kImage8Bit, kSchemeGray, 1, 1024, 2, true},       // minimum for 1 level
        Case{600, 420, 1, kImage8Bit, kSchemeGray, 6, 512, 2, true},     // two coding passes
        Case{900, 820, 3, kImage8Bit, kSchemeRGB, 7, 1024, 2, true}));   // two passes, colour

TEST(RoundTrip, HigherRatiosLoseMoreButStayUsable) {
  vexal_test::ScratchDir dir;
  SyntheticImage image(300, 260, 3, kImage8Bit, kSchemeRGB);
  double previous = 1e9;
  for (float ratio : {4.0f, 20.0f, 60.0f}) {
    const std::string out = encode(image, Case{300, 260, 3, 0, 0, 4, 160, ratio, true}, dir);
    const VxlFile file(out);
    const double p = psnr(image, decode_image(file, 0, whole(file, 0)), whole(file, 0));
    EXPECT_LT(p, previous + 0.5);
    EXPECT_GT(p, 22.0) << "ratio " << ratio;
    previous = p;
    std::filesystem::remove(out);
  }
}

TEST(RegionDecode, WindowsEqualCropsOfTheFullDecodeAtEveryLevel) {
  vexal_test::ScratchDir dir;
  SyntheticImage image(333, 301, 1, kImageFloat, kSchemeGray);
  const VxlFile file(encode(image, Case{333, 301, 1, 0, 0, 4, 200, 4, true}, dir));
  for (int level = 0; level <= 4; ++level) {
    const Window all = whole(file, level);
    const DecodedImage full = decode_image(file, level, all);
    const int w = all.x1 + 1, h = all.y1 + 1;
    const Window windows[] = {{0, 0, 0, 0},          {w - 1, h - 1, w - 1, h - 1},
                              {w / 3, h / 4, w / 2, h / 2}, {0, h / 2, w - 1, h / 2},
                              {w - 3, 0, w - 1, h - 1}, {1, 1, w / 5 + 1, 2}};
    for (const Window& win : windows) {
      const DecodedImage part = decode_image(file, level, win);
      double worst = 0;
      for (int y = 0; y < win.height(); ++y)
        for (int x = 0; x < win.width(); ++x)
          worst = std::max(worst, double(std::fabs(
                                      part.f32[size_t(y) * size_t(win.width()) + size_t(x)] -
                                      full.f32[size_t(win.y0 + y) * size_t(w) + size_t(win.x0 + x)])));
      EXPECT_LT(worst, 1e-3) << "level " << level << " window " << win.x0 << "," << win.y0;
    }
  }
}

TEST(RegionDecode, LevelKIsTheLowPassOfTheFullDecode) {
  vexal_test::ScratchDir dir;
  SyntheticImage image(320, 288, 1, kImageFloat, kSchemeGray);
  const VxlFile file(encode(image, Case{320, 288, 1, 0, 0, 3, 512, 4, true}, dir));
  std::vector<float> plane = decode_image(file, 0, whole(file, 0)).f32;
  int w = file.width(), h = file.height();
  for (int level = 1; level <= 3; ++level) {
    // One level of analysis of the whole plane, keeping the low-low quarter scaled back.
    std::vector<float> rows = plane;
    for (int y = 0; y < h; ++y)
      lift97_forward(&rows[size_t(y) * size_t(w)], 0, w, LineEnd::kSymmetric, LineEnd::kSymmetric);
    lift97_forward_lanes(rows.data(), 0, h, w, w, LineEnd::kSymmetric, LineEnd::kSymmetric);
    const int lw = (w + 1) / 2, lh = (h + 1) / 2;
    plane.assign(size_t(lw) * size_t(lh), 0);
    for (int y = 0; y < lh; ++y)
      for (int x = 0; x < lw; ++x)
        plane[size_t(y) * size_t(lw) + size_t(x)] = rows[size_t(2 * y) * size_t(w) + size_t(2 * x)] / 2;
    w = lw;
    h = lh;
    const DecodedImage direct = decode_image(file, level, whole(file, level));
    double worst = 0;
    for (size_t i = 0; i < plane.size(); ++i)
      worst = std::max(worst, double(std::fabs(plane[i] - direct.f32[i])));
    EXPECT_LT(worst, 0.01) << "level " << level;
  }
}
