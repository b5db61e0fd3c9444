// The rate-distortion mode end to end on a real aerial mosaic: vexal_encode -rdo, vxl_check,
// vexal_decode, and the error measured against the pixels djpeg reads from the source.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "image/reader_test_util.h"
#include "support/run_program.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"

namespace fs = std::filesystem;
using vexal_test::Bytes;
using vexal_test::run_program;

namespace {

const char* const kConvert = "/usr/bin/convert";
const char* const kDjpeg = "/usr/bin/djpeg";
const char* const kSample = "jpeg/seneca_mosaic.jpg";

struct Psnr {
  double rgb, luma;
};

Psnr psnr(const Bytes& a, const Bytes& b) {
  double rgb = 0, luma = 0;
  for (size_t i = 0; i + 2 < a.size(); i += 3) {
    double y = 0;
    const double w[3] = {0.299, 0.587, 0.114};
    for (int c = 0; c < 3; ++c) {
      const double d = double(a[i + c]) - double(b[i + c]);
      rgb += d * d;
      y += w[c] * d;
    }
    luma += y * y;
  }
  const double n = double(a.size()) / 3;
  auto db = [](double mse) { return 10 * std::log10(255.0 * 255.0 / mse); };
  return {db(rgb / (3 * n)), db(luma / n)};
}

class RdMode : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {kConvert, kDjpeg})
      if (!vexal_test::have_tool(tool)) GTEST_SKIP() << tool << " not installed";
    source_ = vexal_test::sample(kSample);
    if (source_.empty()) GTEST_SKIP() << "sample " << kSample << " not found";
    reference_ = vexal_test::pnm_pixels(
        vexal_test::tool_bytes(kDjpeg, {"-pnm", source_.string()}), &width_, &height_);
    fs::create_directories(dir_ / "tmp");
  }

  // Encodes with `options`, checks and decodes the file; returns its size, and the error.
  size_t encode(const std::string& name, std::vector<std::string> options, Psnr* error,
                std::string* report = nullptr) {
    const std::string vxl = dir_ / (name + ".vxl"), tif = dir_ / (name + ".tif");
    options.insert(options.begin(), {"-jpeg", "-i", source_.string(), "-o", vxl, "-t",
                                     dir_ / "tmp"});
    const auto run = run_program(VEXAL_ENCODE_BIN, options);
    EXPECT_EQ(run.status, 0) << run.err;
    if (report) *report = run.out;
    EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));
    const auto check = run_program(VXL_CHECK_BIN, {vxl});
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    const auto decoded = run_program(VEXAL_DECODE_BIN, {"-i", vxl, "-o", tif});
    EXPECT_EQ(decoded.status, 0) << decoded.err;
    const Bytes pixels = vexal_test::tool_bytes(kConvert, {tif, "-depth", "8", "rgb:-"});
    EXPECT_EQ(pixels.size(), reference_.size());
    if (pixels.size() == reference_.size()) *error = psnr(reference_, pixels);
    return fs::file_size(vxl);
  }

  double raw_bytes() const { return 3.0 * width_ * height_; }

  vexal_test::ScratchDir dir_;
  fs::path source_;
  Bytes reference_;
  int width_ = 0, height_ = 0;
};

// At the size the default mode's file has, the new mode's file is at least 3 dB better (about
// 2.8 with steps alone, 3.1 to 3.3 with the indices chosen by rate and distortion too); and
// every size asked for is met within 2 %.
TEST_F(RdMode, MeetsTheSizeWithLessErrorThanTheDefault) {
  for (int ratio : {12}) {
    SCOPED_TRACE(ratio);
    Psnr plain{}, rd{};
    const size_t plain_size = encode("plain", {"-c", std::to_string(ratio)}, &plain);
    const double plain_ratio = raw_bytes() / double(plain_size);
    const size_t rd_size = encode("rd", {"-rdo", "-c", std::to_string(plain_ratio)}, &rd);
    EXPECT_NEAR(raw_bytes() / double(rd_size) / plain_ratio, 1.0, 0.02);
    EXPECT_GT(rd.rgb, plain.rgb + 3.0) << rd.rgb << " " << plain.rgb;
    EXPECT_GT(rd.luma, plain.luma + 3.0) << rd.luma << " " << plain.luma;
    fs::remove(dir_ / "plain.vxl"), fs::remove(dir_ / "rd.vxl");
    fs::remove(dir_ / "plain.txt"), fs::remove(dir_ / "rd.txt");
  }
}

// Every ratio the steps reach is met within 2 %, in colour and grey, also far above the
// default (one correction used to leave 6 to 17 %); -c 1e9 gets a note with the ratio reached
// and a file that holds the image (it was that of -c 3).
TEST_F(RdMode, MeetsEveryReachableRatioOrSaysWhatItReached) {
  const std::string grey = dir_ / "grey.tif", vxl = dir_ / "r.vxl";
  ASSERT_EQ(run_program(kConvert, {source_.string(), "-colorspace", "Gray", grey}).status, 0);
  for (const auto& [input, bands] : {std::pair{source_.string(), 3}, {grey, 1}})
    for (const double ratio : {60.0, 200.0, 400.0, 1e9}) {
      fs::remove(vxl), fs::remove(dir_ / "r.txt");
      const auto run = run_program(VEXAL_ENCODE_BIN, {bands == 1 ? "-tif" : "-jpeg", "-i", input,
                                                      "-o", vxl, "-rdo", "-c", std::to_string(ratio)});
      ASSERT_EQ(run.status, 0) << run.err;
      const double reached = double(width_) * height_ * bands / double(fs::file_size(vxl));
      const bool noted = run.err.find("Note: " + vxl + " has a compression ratio of ") != run.err.npos;
      EXPECT_EQ(noted, ratio == 1e9) << run.err;
      if (ratio < 1e9) {
        EXPECT_NEAR(reached / ratio, 1.0, 0.02) << input << " -c " << ratio;
      }
    }
  EXPECT_EQ(run_program(VEXAL_DECODE_BIN, {"-i", vxl, "-o", dir_ / "r.tif"}).status, 0);
}

// A quality target lands near the luma PSNR asked for, and the report says what it reached.
TEST_F(RdMode, MeetsALumaPsnr) {
  for (double target : {36.0}) {
    Psnr got{};
    std::string report;
    encode("q" + std::to_string(int(target)), {"-rdo", "-psnr", std::to_string(target)}, &got,
           &report);
    EXPECT_NEAR(got.luma, target, 0.8) << target;
    EXPECT_NE(report.find("Estimated PSNR: luma"), std::string::npos) << report;
  }
}

TEST(RdModeOptions, PsnrWithoutTheModeIsRefused) {
  vexal_test::ScratchDir dir;
  const auto run = run_program(VEXAL_ENCODE_BIN, {"-rfi", "-i", "none.rfi", "-psnr", "40"},
                               dir.path().string());
  EXPECT_NE(run.status, 0);
  EXPECT_NE((run.out + run.err).find("-psnr is a target of the -rdo mode"), std::string::npos);
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace
