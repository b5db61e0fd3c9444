// vexal_encode as a user runs it: exact console texts and exit statuses.
#include <gtest/gtest.h>

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
  EXPECT_TRUE(ends_with(r.err, "Version: 1.3.1\nChoke level 0\n\n"));
  EXPECT_EQ(count(r.err, "TIFF library"), 0);

  auto v = run_program(VEXAL_ENCODE_BIN, {"-v", "-n", "3"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(count(v.err, "* Vexal v1.3.1."), 2);  // banner, then the version display
  EXPECT_EQ(count(v.err, "TIFF library"), 1);
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
  EXPECT_EQ(count(txt.err, "TIFF library"), 1);  // RFI is not of the TIFF family
}
