// vexal_decode's console texts and exit statuses for bad requests.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "support/run_program.h"
#include "support/scratch_dir.h"

using vexal_test::run_program;

namespace {

// Encodes a small grey raster and returns the .vxl name.
std::string small_vxl(const vexal_test::ScratchDir& dir) {
  std::ofstream out(dir / "g.rfi", std::ios::binary);
  const int32_t header[3] = {64, 48, 1};
  out.write(reinterpret_cast<const char*>(header), sizeof header);
  for (int i = 0; i < 64 * 48; ++i) {
    const float v = float(100 + 50 * std::sin(i / 7.0));
    out.write(reinterpret_cast<const char*>(&v), 4);
  }
  out.close();
  auto r = run_program(VEXAL_ENCODE_BIN, {"-rfi", "-i", dir / "g.rfi", "-o", dir / "g.vxl", "-n", "2"});
  EXPECT_EQ(r.status, 0) << r.err;
  return dir / "g.vxl";
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
