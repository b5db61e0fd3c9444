// vexal_decode's console texts and exit statuses for bad requests.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "support/run_program.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;
using vexal_test::run_program;

namespace {

// Encodes a small grey raster and returns the .vxl name.
std::string small_vxl(const vexal_test::ScratchDir& dir, int32_t width = 64, int32_t height = 48,
                      const std::string& stem = "g") {
  std::ofstream out(dir / (stem + ".rfi"), std::ios::binary);
  const int32_t header[3] = {width, height, 1};
  out.write(reinterpret_cast<const char*>(header), sizeof header);
  for (int i = 0; i < width * height; ++i) {
    // Texture that survives coding, so that decoding takes a while on large sizes.
    const float v = float(100 + 50 * std::sin(i / 7.0) + (int64_t(i) * 7919) % 61);
    out.write(reinterpret_cast<const char*>(&v), 4);
  }
  out.close();
  auto r = run_program(VEXAL_ENCODE_BIN, {"-rfi", "-i", dir / (stem + ".rfi"), "-o",
                                          dir / (stem + ".vxl"), "-n", "2"});
  EXPECT_EQ(r.status, 0) << r.err;
  return dir / (stem + ".vxl");
}

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

}  // namespace

TEST(VexalDecodeCli, UsageAndBadRequests) {
  auto usage = run_program(VEXAL_DECODE_BIN, {});
  EXPECT_EQ(usage.status, 1);
  EXPECT_EQ(usage.err.rfind("Usage: vexal_decode -i Input.vxl -o Output.tif", 0), 0u);

  vexal_test::ScratchDir dir;
  const std::string vxl = small_vxl(dir);
  const std::string out = dir / "o.tif";
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"-i", vxl}, "Error: missing required option -o\n"},
      {{"-i", vxl, "-o", out, "-l", "3"}, "Error: level 3 is outside 0..2 for " + vxl + ".\n"},
      {{"-i", vxl, "-o", out, "-l", "x"}, "Error: the level must be a whole number, not \"x\".\n"},
      {{"-i", vxl, "-o", out, "-win", "0", "0", "64", "10"},
       "Error: window 0 0 64 10 is not inside the 64 x 48 image of level 0.\n"},
      {{"-i", vxl, "-o", out, "-l", "1", "-win", "5", "5", "4", "9"},
       "Error: window 5 5 4 9 is not inside the 32 x 24 image of level 1.\n"},
      {{"-i", vxl, "-o", out, "-win", "1", "2"}, "Error: option -win needs a value.\n"},
      {{"-i", dir / "g.rfi", "-o", out}, dir / "g.rfi" + " is not a Vexal file.\n"},
      {{"-i", dir / "none.vxl", "-o", out}, "Error opening file " + dir / "none.vxl" + " for read.\n"},
  };
  for (const Case& c : cases) {
    auto r = run_program(VEXAL_DECODE_BIN, c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.message);
  }
  EXPECT_FALSE(std::ifstream(out).good());

  auto good = run_program(VEXAL_DECODE_BIN, {"-i", vxl, "-o", out, "-l", "2", "-win", "0", "0", "15", "11", "-stats"});
  EXPECT_EQ(good.status, 0) << good.err;
  EXPECT_EQ(good.err.rfind("Read ", 0), 0u);
}

// The output never replaces the input, and appears whole or not at all: a full disk or Ctrl-C
// leaves an earlier output as it was and no temporary file behind.
TEST(VexalDecodeCli, OutputIsWrittenWholeOrNotAtAll) {
  vexal_test::ScratchDir dir;
  const std::string vxl = small_vxl(dir);
  const std::string archive = contents(vxl);
  fs::create_directory(dir / "sub");
  fs::create_hard_link(vxl, dir / "hard.vxl");
  fs::create_symlink(vxl, dir / "link.tif");
  for (const std::string& same : {vxl, dir / "sub/../g.vxl", dir / "hard.vxl", dir / "link.tif"}) {
    auto r = run_program(VEXAL_DECODE_BIN, {"-i", vxl, "-o", same});
    EXPECT_EQ(r.status, 1) << same;
    EXPECT_EQ(r.err, "Error: the output " + same + " is the input file; choose another name.\n");
  }
  EXPECT_EQ(contents(vxl), archive);

  fs::create_directory(dir / "out");
  std::ofstream(dir / "out/o.tif") << "earlier output";
  vexal_test::RunOptions full_disk;
  full_disk.file_size_limit = 2000;  // the 64 x 48 TIFF needs more
  auto full = run_program(VEXAL_DECODE_BIN, {"-i", vxl, "-o", dir / "out/o.tif"}, full_disk);
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "Error writing file " + dir / "out/o.tif" + ": file too large.\n");
  EXPECT_EQ(names_in(dir / "out"), (std::set<std::string>{"o.tif"}));
  EXPECT_EQ(contents(dir / "out/o.tif"), "earlier output");

  auto missing = run_program(VEXAL_DECODE_BIN, {"-i", vxl, "-o", dir / "none/o.tif"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot be written"), std::string::npos) << missing.err;

  const std::string big = small_vxl(dir, 2048, 1024, "big");
  fs::create_directory(dir / "cut");
  vexal_test::RunOptions ctrl_c;
  ctrl_c.interrupt_when_used = dir / "cut";
  auto cut = run_program(VEXAL_DECODE_BIN, {"-i", big, "-o", dir / "cut/o.tif", "-wf"}, ctrl_c);
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.err, "Program interrupt encountered.\n");
  EXPECT_TRUE(names_in(dir / "cut").empty());
}

namespace {

uint32_t be32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v = (v << 8) | uint8_t(b[at + i]);
  return v;
}

void put_be32(std::string& b, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) b[at + i] = char(v >> (24 - 8 * i));
}

}  // namespace

// Each failure is one line on standard error naming the file: no line of a coding routine
// ("Invalid Huffman table in ReadHtDesc.") before it. A header size the block tables contradict
// and dither offsets above 127 are damage that vxl_check reports.
TEST(VexalDecodeCli, DamageIsOneLineNamingTheFile) {
  vexal_test::ScratchDir dir;
  const std::string sound = contents(small_vxl(dir));
  const size_t low_pass = be32(sound, 23), first_part = be32(sound, low_pass + 8);
  std::string table = sound, wide = sound, dither = sound;
  table[first_part + 2 + 15] = char(255);  // 16 BITS bytes announcing more than 256 values
  put_be32(wide, 15, 1000000);
  dither[be32(sound, 27) + 2] = char(200);  // column offset of subband 1, behind its marker
  const std::string bad_table = dir / "table.vxl", too_wide = dir / "wide.vxl";
  std::ofstream(bad_table, std::ios::binary) << table;
  std::ofstream(too_wide, std::ios::binary) << wide;
  std::ofstream(dir / "dither.vxl", std::ios::binary) << dither;

  for (const std::string& name : {bad_table, too_wide}) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{VEXAL_DECODE_BIN, "-i", name, "-o", dir / "o.tif"},
          {VEXAL_DECODE_BIN, "-info", name}, {VXL_CHECK_BIN, name}}) {
      auto r = run_program(args[0], std::vector<std::string>(args.begin() + 1, args.end()));
      EXPECT_EQ(r.status, 1) << args[0] << " " << name;
      EXPECT_EQ(r.err.rfind(name + ": ", 0), 0u) << r.err;
      EXPECT_NE(r.err.find("damaged file: "), std::string::npos) << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
  }
  // The coding routine's reason ends the one line instead of standing before it.
  auto reason = run_program(VEXAL_DECODE_BIN, {"-i", bad_table, "-o", dir / "o.tif"});
  EXPECT_TRUE(reason.err.ends_with(": Invalid Huffman table in ReadHtDesc.\n")) << reason.err;
  auto too_wide_check = run_program(VXL_CHECK_BIN, {too_wide});
  EXPECT_NE(too_wide_check.err.find("image size 1000000 x 48 disagrees"), std::string::npos);

  auto check = run_program(VXL_CHECK_BIN, {dir / "dither.vxl"});
  EXPECT_EQ(check.status, 1);
  EXPECT_EQ(check.err.rfind(dir / "dither.vxl: subband 1: dither offsets 200, ", 0), 0u) << check.err;
  EXPECT_FALSE(fs::exists(dir / "o.tif"));
}

// What both programs do with an output name that already carries something other than a
// regular file. Only nodes made in the test's own folder are used.
TEST(VexalDecodeCli, DevicesFifosAndLinksAreNeverReplacedByEitherProgram) {
  vexal_test::ScratchDir dir;
  const std::string vxl = small_vxl(dir);
  const std::string rfi = dir / "g.rfi";
  fs::create_directory(dir / "nodes");
  const std::string null = dir / "nodes/null", fifo = dir / "nodes/fifo";
  // A copy of the null device: making one needs root (CAP_MKNOD).
  if (::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
    GTEST_SKIP() << "cannot make a character device here (needs root): " << std::strerror(errno);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  fs::create_symlink("null", dir / "nodes/null_link");
  std::ofstream(dir / "nodes/real.tif") << "earlier output";
  fs::create_symlink("real.tif", dir / "nodes/link.tif");
  const std::set<std::string> nodes = names_in(dir / "nodes");

  // The decoder writes the TIFF into a device (directly or through a link) and leaves it one.
  for (const std::string& device : {null, dir / "nodes/null_link"}) {
    auto r = run_program(VEXAL_DECODE_BIN, {"-q", "-i", vxl, "-o", device});
    EXPECT_EQ(r.err + r.out, "");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_character_file(null));
  }
  // A link is followed: its target is replaced whole, the link stays.
  auto linked = run_program(VEXAL_DECODE_BIN, {"-i", vxl, "-o", dir / "nodes/link.tif"});
  EXPECT_EQ(linked.status, 0) << linked.err;
  EXPECT_TRUE(fs::is_symlink(dir / "nodes/link.tif"));
  EXPECT_EQ(contents(dir / "nodes/real.tif").substr(0, 4), std::string("II*\0", 4));

  const struct {
    std::string program;
    std::vector<std::string> args;
    std::string message;
  } refusals[] = {
      {VEXAL_DECODE_BIN, {"-i", vxl, "-o", fifo},
       "Error: the output " + fifo +
           " is a FIFO, which cannot take a TIFF (its writing needs to seek); name a file.\n"},
      {VEXAL_DECODE_BIN, {"-i", vxl, "-o", dir / "nodes/out.png"},
       "Error: vexal_decode writes TIFF only (.tif or .tiff), not " + dir / "nodes/out.png" +
           "; gdal_translate " + vxl + " " + dir / "nodes/out.png" +
           " writes other formats through the VXL plugin.\n"},
      {VEXAL_ENCODE_BIN, {"-q", "-rfi", "-i", rfi, "-o", null},
       "Error: the output " + null +
           " is a device; vexal_encode writes a regular file, with its report beside it.\n"},
      {VEXAL_ENCODE_BIN, {"-q", "-rfi", "-i", rfi, "-o", dir / "nodes/null_link"},
       "Error: the output " + dir / "nodes/null_link" +
           " is a device; vexal_encode writes a regular file, with its report beside it.\n"},
      {VEXAL_ENCODE_BIN, {"-q", "-rfi", "-i", rfi, "-o", fifo},
       "Error: the output " + fifo +
           " is a FIFO; vexal_encode writes a regular file, with its report beside it.\n"},
  };
  for (const auto& c : refusals) {
    auto r = run_program(c.program, c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.message);
  }
  EXPECT_TRUE(fs::is_character_file(null));
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_EQ(names_in(dir / "nodes"), nodes);  // nothing written beside the nodes
}
