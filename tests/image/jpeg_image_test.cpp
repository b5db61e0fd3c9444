#include "image/jpeg_image.h"

#include <gtest/gtest.h>

#include "image/reader_test_util.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"

namespace {

using vexal_test::Bytes;
using vexal_test::thrown_message;

const char* const kDjpeg = "/usr/bin/djpeg";
const char* const kCjpeg = "/usr/bin/cjpeg";
const char* const kConvert = "/usr/bin/convert";

// The pixels libjpeg's own djpeg decodes, interleaved.
Bytes djpeg_pixels(const std::string& path) {
  return vexal_test::pnm_pixels(vexal_test::tool_bytes(kDjpeg, {"-pnm", path}));
}

// Rows [y0..y1], columns [x0..x1] of an interleaved image of `width` x `bands`.
Bytes crop(const Bytes& image, int width, int bands, int x0, int x1, int y0, int y1) {
  Bytes out;
  for (int y = y0; y <= y1; ++y) {
    const auto row = image.begin() + (static_cast<ptrdiff_t>(y) * width + x0) * bands;
    out.insert(out.end(), row, row + static_cast<ptrdiff_t>(x1 - x0 + 1) * bands);
  }
  return out;
}

Bytes section(JpegImage& image, int x0, int x1, int y0, int y1) {
  const auto planes = vexal_test::section_planes<uint8_t>(image, x0, x1, y0, y1);
  return vexal_test::interleave(planes, static_cast<size_t>(x1 - x0 + 1) * (y1 - y0 + 1),
                                image.nband);
}

// ---- Real files: the pixels djpeg decodes ----------------------------------------------

struct RealJpeg {
  const char* path;
  int bands;
};

class JpegSample : public ::testing::TestWithParam<RealJpeg> {};

TEST_P(JpegSample, MatchesDjpeg) {
  VEXAL_REQUIRE_SAMPLE(path, std::string("jpeg/") + GetParam().path);
  if (!vexal_test::have_tool(kDjpeg)) GTEST_SKIP() << "djpeg not installed";
  JpegImage image(path.string());
  EXPECT_EQ(image.nband, GetParam().bands);
  EXPECT_EQ(image.color_scheme, GetParam().bands == 1 ? kSchemeGray : kSchemeRGB);
  EXPECT_EQ(image.data_type, kImage8Bit);
  EXPECT_TRUE(image.full_width_blocks());
  const Bytes reference = djpeg_pixels(path.string());
  ASSERT_EQ(reference.size(), size_t(image.image_width) * image.image_height * image.nband);
  EXPECT_EQ(vexal_test::whole_image(image, image.nband), reference);
}

INSTANTIATE_TEST_SUITE_P(Real, JpegSample,
                         ::testing::Values(RealJpeg{"testorig.jpg", 3}, RealJpeg{"testimgint.jpg", 3},
                                           RealJpeg{"testimgari.jpg", 3},
                                           RealJpeg{"hopper_gray.jpg", 1},
                                           RealJpeg{"hopper_orientation_6.jpg", 3},
                                           RealJpeg{"seneca_mosaic.jpg", 3}));

TEST(JpegImage, AdobeCmykGivesInkAmountsAsImageMagickReadsThem) {
  VEXAL_REQUIRE_SAMPLE(path, "jpeg/pil_sample_cmyk.jpg");
  if (!vexal_test::have_tool(kConvert)) GTEST_SKIP() << "ImageMagick not installed";
  JpegImage image(path.string());
  EXPECT_EQ(image.nband, 4);
  EXPECT_EQ(image.color_scheme, kSchemeCMYK);
  EXPECT_EQ(image.coded_bands(), 4);
  const Bytes reference = vexal_test::tool_bytes(kConvert, {path.string(), "-depth", "8", "cmyk:-"});
  EXPECT_EQ(vexal_test::whole_image(image, 4), reference);
}

TEST(JpegImage, UnsupportedAndTruncatedSamplesGiveLibjpegsMessage) {
  VEXAL_REQUIRE_SAMPLE(twelve_bit, "jpeg/testorig12.jpg");
  EXPECT_EQ(thrown_message([&] { JpegImage image(twelve_bit.string()); }),
            "Unsupported JPEG data precision 12");
  VEXAL_REQUIRE_SAMPLE(truncated, "jpeg/truncated_jpeg.jpg");
  EXPECT_EQ(thrown_message([&] {
              JpegImage image(truncated.string());
              vexal_test::whole_image(image, image.nband);
            }),
            "Premature end of JPEG file");
}

// ---- Request order ------------------------------------------------------------------------

class JpegOrder : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = vexal_test::sample("jpeg/testorig.jpg");
    if (path_.empty()) GTEST_SKIP() << "sample jpeg/testorig.jpg not found";
    if (!vexal_test::have_tool(kDjpeg)) GTEST_SKIP() << "djpeg not installed";
    reference_ = djpeg_pixels(path_.string());
  }
  Bytes expected(int x0, int x1, int y0, int y1) const {
    return crop(reference_, kWidth, 3, x0, x1, y0, y1);
  }
  static constexpr int kWidth = 227, kHeight = 149;
  std::filesystem::path path_;
  Bytes reference_;
};

TEST_F(JpegOrder, ConsecutiveFullWidthRequestsFollowTheDecoder) {
  JpegImage image(path_.string());
  EXPECT_EQ(section(image, 0, kWidth - 1, 0, 63), expected(0, kWidth - 1, 0, 63));
  EXPECT_EQ(section(image, 0, kWidth - 1, 64, 127), expected(0, kWidth - 1, 64, 127));
  EXPECT_EQ(image.rows_delivered(), 128);
  EXPECT_EQ(image.decoder_starts(), 1);
}

TEST_F(JpegOrder, SkippedRowsAreDecodedAndDropped) {
  JpegImage image(path_.string());
  EXPECT_EQ(section(image, 0, kWidth - 1, 100, 110), expected(0, kWidth - 1, 100, 110));
  EXPECT_EQ(section(image, 30, 40, 120, 121), expected(30, 40, 120, 121));
  EXPECT_EQ(image.decoder_starts(), 1);
}

TEST_F(JpegOrder, RequestsAboveTheDecoderRestartIt) {
  JpegImage image(path_.string());
  EXPECT_EQ(section(image, 0, kWidth - 1, 100, 110), expected(0, kWidth - 1, 100, 110));
  EXPECT_EQ(section(image, 0, kWidth - 1, 10, 20), expected(0, kWidth - 1, 10, 20));
  EXPECT_EQ(image.decoder_starts(), 2);
  // The same rows twice in a row restart it again.
  EXPECT_EQ(section(image, 5, 9, 10, 20), expected(5, 9, 10, 20));
  EXPECT_EQ(image.decoder_starts(), 3);
}

TEST_F(JpegOrder, SectionsOverTheEdgeWriteOnlyTheOverlap) {
  const uint8_t no_data[3] = {1, 2, 3};
  JpegImage image(path_.string(), no_data);
  const Bytes got = section(image, kWidth - 2, kWidth, kHeight - 1, kHeight);
  const Bytes inside = expected(kWidth - 2, kWidth - 1, kHeight - 1, kHeight - 1);
  EXPECT_EQ(got, (Bytes{inside[0], inside[1], inside[2], inside[3], inside[4], inside[5], 1, 2, 3,
                        1, 2, 3, 1, 2, 3, 1, 2, 3}));
}

TEST_F(JpegOrder, TransparentPixelsAreLeftUnwritten) {
  const Bytes first = expected(0, 0, 0, 0);
  const uint8_t no_data[3] = {7, 7, 7};
  JpegImage image(path_.string(), no_data, first.data());
  const Bytes got = section(image, 0, kWidth - 1, 0, 0);
  const Bytes row = expected(0, kWidth - 1, 0, 0);
  int kept = 0;
  for (int x = 0; x < kWidth; ++x) {
    const bool transparent = std::equal(first.begin(), first.end(), row.begin() + 3 * x);
    const Bytes want = transparent ? Bytes{7, 7, 7} : Bytes(row.begin() + 3 * x, row.begin() + 3 * x + 3);
    EXPECT_EQ(Bytes(got.begin() + 3 * x, got.begin() + 3 * x + 3), want) << x;
    kept += transparent;
  }
  EXPECT_GE(kept, 1);
}

// ---- Damaged and missing files -----------------------------------------------------------

class JpegDamage : public ::testing::Test {
 protected:
  // A 64 x 256 grey ramp compressed by cjpeg (with `options`).
  std::string make_jpeg(std::vector<std::string> options = {}) {
    if (!vexal_test::have_tool(kCjpeg)) return {};
    Bytes pgm;
    const std::string header = "P5\n64 256\n255\n";
    pgm.assign(header.begin(), header.end());
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 64; ++x) pgm.push_back(static_cast<uint8_t>(x * 3 + y));
    vexal_test::write_bytes(scratch_ / "ramp.pgm", pgm);
    options.push_back(scratch_ / "ramp.pgm");
    const Bytes jpeg = vexal_test::tool_bytes(kCjpeg, options);
    vexal_test::write_bytes(scratch_ / "ramp.jpg", jpeg);
    return jpeg.empty() ? std::string() : scratch_ / "ramp.jpg";
  }
  vexal_test::ScratchDir scratch_;
};

TEST_F(JpegDamage, DataEndingMidScanFailsTheRequestNotTheProcess) {
  const std::string path = make_jpeg();
  if (path.empty()) GTEST_SKIP() << "cjpeg not installed";
  Bytes jpeg = vexal_test::read_bytes(path);
  jpeg.resize(jpeg.size() / 2);
  jpeg.insert(jpeg.end(), {0xFF, 0xD9});
  vexal_test::write_bytes(scratch_ / "cut.jpg", jpeg);
  JpegImage image(scratch_ / "cut.jpg");
  EXPECT_EQ(section(image, 0, 63, 0, 15).size(), 64u * 16);  // the first rows are intact
  const std::string message = thrown_message([&] { section(image, 0, 63, 16, 255); });
  EXPECT_EQ(message, "Corrupt JPEG data: premature end of data segment");
  // The broken decoder is not used again.
  EXPECT_EQ(thrown_message([&] { section(image, 0, 63, 250, 255); }), message);
}

TEST_F(JpegDamage, SmallProgressiveFileClaimingAHugeImageIsRefusedBeforeAllocating) {
  const std::string path = make_jpeg({"-progressive"});
  if (path.empty()) GTEST_SKIP() << "cjpeg not installed";
  Bytes jpeg = vexal_test::read_bytes(path);
  {
    JpegImage genuine(path);
    EXPECT_EQ(section(genuine, 0, 63, 0, 255).size(), 64u * 256);
  }
  size_t sof = 0;
  while (sof + 9 < jpeg.size() && !(jpeg[sof] == 0xFF && jpeg[sof + 1] == 0xC2)) ++sof;
  ASSERT_LT(sof + 9, jpeg.size());
  for (size_t at : {sof + 5, sof + 7}) jpeg[at] = 0xEA, jpeg[at + 1] = 0x60;  // 60000 x 60000
  vexal_test::write_bytes(scratch_ / "huge.jpg", jpeg);
  EXPECT_EQ(thrown_message([&] { JpegImage image(scratch_ / "huge.jpg"); }),
            "Backing store not supported");
}

TEST_F(JpegDamage, NonJpegAndMissingFilesAreRefused) {
  vexal_test::write_bytes(scratch_ / "text.jpg", Bytes{'h', 'e', 'l', 'l', 'o'});
  EXPECT_EQ(thrown_message([&] { JpegImage image(scratch_ / "text.jpg"); }),
            "Not a JPEG file: starts with 0x68 0x65");
  vexal_test::write_bytes(scratch_ / "soi.jpg", Bytes{0xFF, 0xD8});
  EXPECT_EQ(thrown_message([&] { JpegImage image(scratch_ / "soi.jpg"); }),
            "Premature end of JPEG file");
  EXPECT_EQ(thrown_message([&] { JpegImage image(scratch_ / "none.jpg"); }),
            "Error opening file " + scratch_ / "none.jpg" + " for read.");
}

}  // namespace
