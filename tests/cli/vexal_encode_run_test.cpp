// Whole runs of vexal_encode and vexal_decode from the command line: outputs, report, naming,
// and that interrupted or failing runs leave neither temporary files nor partial outputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "support/run_program.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;
using vexal_test::run_program;
using vexal_test::RunOptions;

namespace {

// A smooth float raster in the encoder's raw format.
void write_rfi(const std::string& name, int w, int h, int bands) {
  std::ofstream out(name, std::ios::binary);
  const int32_t header[3] = {w, h, bands};
  out.write(reinterpret_cast<const char*>(header), sizeof header);
  std::vector<float> row(static_cast<size_t>(w));
  for (int b = 0; b < bands; ++b)
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x)
        row[size_t(x)] = float(128 + 90 * std::sin(x / (11.0 + b)) * std::cos(y / 17.0));
      out.write(reinterpret_cast<const char*>(row.data()), std::streamsize(row.size() * 4));
    }
}

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

}  // namespace

TEST(VexalEncodeRun, WritesOutputAndReportWithoutOverwriting) {
  vexal_test::ScratchDir dir;
  write_rfi(dir / "scene.rfi", 300, 260, 1);
  fs::create_directory(dir / "tmp");
  const std::vector<std::string> args = {"-rfi", "-i", dir / "scene.rfi", "-n", "3", "-b", "160",
                                         "-t", dir / "tmp"};
  auto first = run_program(VEXAL_ENCODE_BIN, args, dir.path().string());
  ASSERT_EQ(first.status, 0) << first.err;
  // Not a terminal: one line per tenth reached, rising from 0.00 to 1.00, no backspaces.
  std::istringstream lines(first.out);
  std::vector<int> tenths;
  for (std::string line; std::getline(lines, line);) {
    ASSERT_TRUE(line.size() == 14 && line.starts_with("Progress: ") && line[11] == '.' &&
                line[13] == '0') << line;
    const int tenth = (line[10] - '0') * 10 + (line[12] - '0');
    EXPECT_TRUE(tenths.empty() || tenth > tenths.back()) << first.out;
    tenths.push_back(tenth);
  }
  EXPECT_EQ(tenths.front(), 0);
  EXPECT_EQ(tenths.back(), 10);
  EXPECT_EQ(first.out.back(), '\n');
  auto second = run_program(VEXAL_ENCODE_BIN, args, dir.path().string());
  ASSERT_EQ(second.status, 0) << second.err;
  // A name without an extension is numbered without one: never "plain1.".
  std::ofstream(dir / "plain") << "taken";
  std::vector<std::string> plain = args;
  plain.insert(plain.end(), {"-q", "-o", "plain"});
  EXPECT_EQ(run_program(VEXAL_ENCODE_BIN, plain, dir.path().string()).status, 0);
  EXPECT_EQ(names_in(dir.path()),
            (std::set<std::string>{"scene.rfi", "scene.vxl", "scene.txt", "scene1.vxl",
                                   "scene1.txt", "tmp", "plain", "plain1", "plain1.txt"}));
  EXPECT_TRUE(names_in(dir / "tmp").empty());
  std::ifstream report(dir / "scene1.txt");
  std::string line;
  std::getline(report, line);
  EXPECT_EQ(line, "Input filename:  " + (dir / "scene.rfi"));
  std::getline(report, line);
  EXPECT_EQ(line, "Output filename: scene1.vxl");

  auto decoded = run_program(VEXAL_DECODE_BIN, {"-i", dir / "scene1.vxl", "-o", dir / "w.tif",
                                                "-l", "1", "-win", "10", "20", "59", "39"});
  ASSERT_EQ(decoded.status, 0) << decoded.err;
  EXPECT_TRUE(fs::exists(dir / "w.tif"));
  auto info = run_program(VEXAL_DECODE_BIN, {"-info", dir / "scene1.vxl"});
  EXPECT_EQ(info.status, 0);
  EXPECT_NE(info.out.find("Size:            300 x 260 pixels, 1 band"), std::string::npos);
  EXPECT_NE(info.out.find("IMAGE::COMPRESSION_NLEV = 3"), std::string::npos);
}

TEST(VexalEncodeRun, ParameterErrorsEndBeforeAnyOutput) {
  vexal_test::ScratchDir dir;
  write_rfi(dir / "small.rfi", 100, 100, 1);
  auto too_deep = run_program(VEXAL_ENCODE_BIN, {"-rfi", "-i", "small.rfi", "-n", "10"},
                              dir.path().string());
  EXPECT_EQ(too_deep.status, 1);
  EXPECT_NE(too_deep.err.find("Error: specified value for nlev must be <= 9.\n"), std::string::npos);
  auto too_small = run_program(VEXAL_ENCODE_BIN, {"-rfi", "-i", "small.rfi", "-n", "4"},
                               dir.path().string());
  EXPECT_EQ(too_small.status, 1);
  EXPECT_NE(too_small.err.find("Error: image too small for given nlev.\nThe image is 100 x 100 "
                               "pixels; 4 levels need at least 121 in each direction.\n"),
            std::string::npos);
  auto mosaic = run_program(VEXAL_ENCODE_BIN, {"-rast", "-mos", "-i", "small.rfi"},
                            dir.path().string());
  EXPECT_EQ(mosaic.status, 1);
  EXPECT_NE(mosaic.err.find("Error: unrecognized image type \"RAST_MOSAIC\" during image creation."),
            std::string::npos);
  EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"small.rfi"}));
}

TEST(VexalEncodeRun, InterruptRemovesEveryTemporaryFile) {
  vexal_test::ScratchDir dir;
  write_rfi(dir / "big.rfi", 2048, 1536, 3);
  fs::create_directory(dir / "tmp");
  RunOptions options;
  options.cwd = dir.path().string();
  options.interrupt_when_used = dir / "tmp";
  auto r = run_program(VEXAL_ENCODE_BIN, {"-rfi", "-i", "big.rfi", "-t", "tmp", "-b", "256"}, options);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Program interrupt encountered.\n"), std::string::npos) << r.err;
  EXPECT_TRUE(names_in(dir / "tmp").empty());
  EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"big.rfi", "tmp"}));
}

TEST(VexalEncodeRun, FullDiskLeavesNoPartialOutput) {
  vexal_test::ScratchDir dir;
  write_rfi(dir / "in.rfi", 600, 500, 3);
  fs::create_directory(dir / "tmp");
  RunOptions options;
  options.cwd = dir.path().string();
  options.file_size_limit = 8000;  // the temporary files of the fine subbands outgrow this
  for (const char* mode : {"-nd", "-rdo"}) {  // the subband files; the -rdo record spool
    auto r = run_program(VEXAL_ENCODE_BIN, {"-q", mode, "-rfi", "-i", "in.rfi", "-t", "tmp", "-c", "2"},
                         options);
    EXPECT_EQ(r.status, 1);  // not killed by SIGXFSZ
    EXPECT_TRUE(r.err.starts_with("Error writing temporary file tmp/tmp")) << r.err;
    EXPECT_TRUE(r.err.ends_with(": file too large.\n")) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(names_in(dir / "tmp").empty());
    EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"in.rfi", "tmp"}));
  }

  auto missing_dir = run_program(VEXAL_ENCODE_BIN, {"-rfi", "-i", "in.rfi", "-t", "tmp", "-o",
                                                    dir / "no/such/dir/out.vxl"},
                                 dir.path().string());
  EXPECT_EQ(missing_dir.status, 1);
  EXPECT_TRUE(names_in(dir / "tmp").empty());

  // The output itself outgrows the limit (the temporary files go to a folder without one).
  options.file_size_limit = 60000;
  auto big = run_program(VEXAL_ENCODE_BIN, {"-rfi", "-i", "in.rfi", "-c", "2", "-o", "out.vxl"},
                         options);
  EXPECT_EQ(big.status, 1);
  EXPECT_TRUE(big.err.ends_with("Error writing file out.vxl: file too large.\n")) << big.err;
  EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"in.rfi", "tmp"}));
}
