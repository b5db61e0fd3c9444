// vexal_encode as a user runs it: exact console texts and exit statuses.
#include <gtest/gtest.h>

#include <fstream>

#include "support/run_program.h"
#include "support/scratch_dir.h"

using vexal_test::run_program;

namespace {

const char* kUsageHead = "Usage: vexal_encode [Image Type] [-mos] -i Input [-o Output] [-n Nlev]\n";
const char* kUsageTail = "     blue  [0_0_255]\n  -h       Display this help and exit\n";

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

int count(const std::string& s, const std::string& what) {
  int n = 0;
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
  return n;
}

}  // namespace

TEST(VexalEncodeCli, UsageAndStatusOne) {
  for (auto args : {std::vector<std::string>{}, {"-h"}, {"scene.tif"}, {"-i", "x", "-n"}}) {
    auto r = run_program(VEXAL_ENCODE_BIN, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(kUsageHead), std::string::npos);
    EXPECT_TRUE(ends_with(r.err, kUsageTail));
    EXPECT_EQ(r.out, "");
  }
  auto r = run_program(VEXAL_ENCODE_BIN, {"-i", "x", "-bogus"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(std::string("Unrecognized option: -bogus\n\n") + kUsageHead), std::string::npos);
}

TEST(VexalEncodeCli, VersionDisplay) {
  auto r = run_program(VEXAL_ENCODE_BIN, {"-version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.rfind("\n********************************************************************\n"
                        "* Vexal v1.3.1.                                                    *\n",
                        0),
            0u);
  EXPECT_TRUE(ends_with(r.err, "\nVersion: 1.3.1\n\n"));
  EXPECT_EQ(count(r.err, "TIFF library"), 0);

  auto v = run_program(VEXAL_ENCODE_BIN, {"-v", "-n", "3"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(count(v.err, "* Vexal v1.3.1."), 2);  // banner, then the version display
  EXPECT_EQ(count(v.err, "TIFF library"), 1);
  EXPECT_EQ(count(v.err, "Choke level"), 0);
}

TEST(VexalEncodeCli, ErrorsThroughTheSingleCatchPoint) {
  auto missing = run_program(VEXAL_ENCODE_BIN, {"-n", "3"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(ends_with(missing.err, "Error: missing required option -i\n"));

  auto color = run_program(VEXAL_ENCODE_BIN, {"-i", "x", "-bgc", "Red"});
  EXPECT_EQ(color.status, 1);
  EXPECT_TRUE(ends_with(color.err, "Error: unrecognized color specification.\n"));

  vexal_test::ScratchDir dir;
  auto txt = run_program(VEXAL_ENCODE_BIN, {"-rfi", "-i", dir / "in.rfi", "-o", dir / "out.Txt"});
  EXPECT_EQ(txt.status, 1);
  EXPECT_EQ(txt.err, "Error opening file " + dir / "in.rfi" + " for read.\n");
}

// A run refused before it gets under way is its one message alone; banners open a run that
// starts, and -q leaves them and the progress out while errors still print.
TEST(VexalEncodeCli, BannersOnlyForRunsUnderWayAndQuiet) {
  vexal_test::ScratchDir dir;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-i", dir / "none.tif"}, {"-i", dir / "none.tif", "-o", dir / "no/x.vxl"}}) {
    auto r = run_program(VEXAL_ENCODE_BIN, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(count(r.err, "\n"), 1) << r.err;
  }
  {
    std::ofstream raw(dir / "in.rfi", std::ios::binary);
    const int32_t header[3] = {64, 64, 1};
    raw.write(reinterpret_cast<const char*>(header), sizeof header);
    for (int i = 0; i < 64 * 64; ++i) raw.write("\0\0\x20\x43", 4);  // 160.0f
  }
  auto plain = run_program(VEXAL_ENCODE_BIN, {"-rfi", "-i", dir / "in.rfi", "-o", dir / "a.vxl", "-n", "2"});
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.err.rfind("\n*****", 0), 0u);
  EXPECT_EQ(count(plain.err, "TIFF library"), 1);
  EXPECT_TRUE(ends_with(plain.out, "Progress: 1.00\n"));

  auto quiet = run_program(VEXAL_ENCODE_BIN, {"-q", "-rfi", "-i", dir / "in.rfi", "-o", dir / "b.vxl", "-n", "2"});
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.err + quiet.out, "");
  auto failed = run_program(VEXAL_ENCODE_BIN, {"-q", "-rfi", "-i", dir / "in.rfi", "-o", dir / "c.vxl"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err.rfind("Error: image too small for given nlev.", 0), 0u) << failed.err;
  EXPECT_EQ(failed.out, "");
}
