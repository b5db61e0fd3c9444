// -threads: the output of vexal_encode and vexal_decode is the same byte for byte whatever the
// number of threads, and an interrupt while the workers run still removes every temporary file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "image/tiff_fixture.h"
#include "support/run_program.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;
using vexal_test::run_program;
using vexal_test::RunOptions;

namespace {

std::vector<uint8_t> bytes_of(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t u32_at(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b.at(at)) << 24 | uint32_t(b.at(at + 1)) << 16 | uint32_t(b.at(at + 2)) << 8 |
         b.at(at + 3);
}

// Everything the coder wrote: the bytes in front of the metadata, whose creation date changes
// from run to run.
std::vector<uint8_t> coded_part(const fs::path& file, int nlev) {
  std::vector<uint8_t> b = bytes_of(file);
  const uint32_t metadata_at = u32_at(b, 23 + 4 * size_t(3 * nlev + 1) + 2);
  EXPECT_LT(metadata_at, b.size());
  b.resize(std::min<size_t>(metadata_at, b.size()));
  return b;
}

struct Layout {
  const char* name;
  uint32_t width, height;
  uint16_t samples, photometric;
  int nlev, block;
};

class ThreadCount : public testing::TestWithParam<Layout> {};

TEST_P(ThreadCount, SameBytesForOneTwoAndFiveThreads) {
  const Layout& l = GetParam();
  vexal_test::ScratchDir dir;
  vexal_test::TiffSpec tiff;
  tiff.width = l.width;
  tiff.height = l.height;
  tiff.samples = l.samples;
  tiff.photometric = l.photometric;
  tiff.rows_per_strip = 37;
  vexal_test::write_tiff(dir / "in.tif", tiff, vexal_test::pattern(tiff));
  std::vector<uint8_t> first;
  for (const char* threads : {"1", "2", "5"}) {
    SCOPED_TRACE(threads);
    const std::string out = std::string("out") + threads + ".vxl";
    auto r = run_program(VEXAL_ENCODE_BIN,
                         {"-tif", "-i", "in.tif", "-o", out, "-n", std::to_string(l.nlev), "-b",
                          std::to_string(l.block), "-threads", threads, "-t", "."},
                         dir.path().string());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> coded = coded_part(dir / out, l.nlev);
    if (first.empty()) {
      first = coded;
      EXPECT_GT(first.size(), 1000u);
    } else {
      EXPECT_TRUE(coded == first) << "output differs from one thread's";
    }
  }
  // Decoding too: the whole image into strips and into tiles (written while the next band of
  // rows or tile decodes), and a window of the half-size level.
  for (const std::vector<std::string>& region :
       {std::vector<std::string>{}, std::vector<std::string>{"-co", "TILED=YES", "-co", "COMPRESS=DEFLATE"},
        std::vector<std::string>{"-l", "1", "-win", "3", "7", "300", "211"}}) {
    std::vector<uint8_t> one;
    for (const char* threads : {"1", "2", "5"}) {
      SCOPED_TRACE(testing::Message() << threads << " threads, " << region.size() << " args");
      std::vector<std::string> args{"-i", "out1.vxl", "-o", "back.tif", "-threads", threads};
      args.insert(args.end(), region.begin(), region.end());
      auto r = run_program(VEXAL_DECODE_BIN, args, dir.path().string());
      ASSERT_EQ(r.status, 0) << r.err;
      const std::vector<uint8_t> decoded = bytes_of(dir / "back.tif");
      if (one.empty())
        one = decoded;
      else
        EXPECT_TRUE(decoded == one) << "decoded image differs from one thread's";
    }
  }
}

// Odd sizes, partial blocks on both axes, one to four bands, and a two-stage depth.
INSTANTIATE_TEST_SUITE_P(
    Layouts, ThreadCount,
    testing::Values(Layout{"grey_six_levels", 1301, 1043, 1, PHOTOMETRIC_MINISBLACK, 6, 512},
                    Layout{"rgb_odd_blocks", 997, 731, 3, PHOTOMETRIC_RGB, 4, 200},
                    Layout{"cmyk", 611, 533, 4, PHOTOMETRIC_SEPARATED, 3, 130}),
    [](const testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

TEST(ThreadCount, InterruptWithWorkersRunningLeavesNothing) {
  vexal_test::ScratchDir dir;
  vexal_test::TiffSpec tiff;
  tiff.width = 2400;
  tiff.height = 1900;
  tiff.samples = 3;
  tiff.photometric = PHOTOMETRIC_RGB;
  vexal_test::write_tiff(dir / "big.tif", tiff, vexal_test::pattern(tiff));
  fs::create_directory(dir / "tmp");
  RunOptions options;
  options.cwd = dir.path().string();
  options.interrupt_when_used = dir / "tmp";
  auto r = run_program(VEXAL_ENCODE_BIN,
                       {"-tif", "-i", "big.tif", "-t", "tmp", "-b", "200", "-threads", "3"}, options);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Program interrupt encountered.\n"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_empty(dir / "tmp"));
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path())) names.insert(e.path().filename());
  EXPECT_EQ(names, (std::set<std::string>{"big.tif", "tmp"}));
}

TEST(ThreadCount, RefusesAThreadCountThatIsNotAPositiveNumber) {
  vexal_test::ScratchDir dir;
  for (const char* bad : {"0", "-2", "two", "3x", ""}) {
    auto r = run_program(VEXAL_ENCODE_BIN, {"-tif", "-i", "none.tif", "-threads", bad},
                         dir.path().string());
    EXPECT_EQ(r.status, 1) << bad;
    EXPECT_NE(r.err.find("Error: -threads takes a number of threads from 1 to 1024."),
              std::string::npos)
        << bad << ": " << r.err;
    EXPECT_TRUE(fs::is_empty(dir.path()));
  }
}

}  // namespace
