// What both programs do with an output name that already carries something other than a
// regular file: a device, a FIFO, a symbolic link, or a plain name without an extension. Only
// nodes made in the test's own folder are used.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

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
using vexal_test::names_in;
using vexal_test::run_program;

namespace {

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A small grey raw image and its .vxl in `dir`/src, away from the nodes under test.
std::string encoded_sample(const vexal_test::ScratchDir& dir) {
  fs::create_directory(dir / "src");
  std::ofstream out(dir / "src/g.rfi", std::ios::binary);
  const int32_t header[3] = {64, 48, 1};
  out.write(reinterpret_cast<const char*>(header), sizeof header);
  for (int i = 0; i < 64 * 48; ++i) {
    const float v = float(100 + 50 * std::sin(i / 7.0));
    out.write(reinterpret_cast<const char*>(&v), 4);
  }
  out.close();
  auto r = run_program(VEXAL_ENCODE_BIN, {"-q", "-rfi", "-i", dir / "src/g.rfi", "-o",
                                          dir / "src/g.vxl", "-n", "2"});
  EXPECT_EQ(r.status, 0) << r.err;
  return dir / "src/g.vxl";
}

}  // namespace

TEST(OutputKinds, DevicesFifosAndLinksAreNeverReplaced) {
  vexal_test::ScratchDir dir;
  const std::string vxl = encoded_sample(dir);
  const std::string rfi = dir / "src/g.rfi";
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

// The encoder's numbered names keep a name without an extension without one.
TEST(OutputKinds, NumberedNamesNeverEndInADot) {
  vexal_test::ScratchDir dir;
  encoded_sample(dir);
  std::ofstream(dir / "plain") << "taken";
  auto r = run_program(VEXAL_ENCODE_BIN, {"-q", "-rfi", "-i", dir / "src/g.rfi", "-o", dir / "plain", "-n", "2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"src", "plain", "plain1", "plain1.txt"}));
  EXPECT_EQ(contents(dir / "plain1").substr(0, 4), "vexl");
}
