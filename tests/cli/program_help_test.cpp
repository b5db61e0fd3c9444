// --help and --version of every program: standard output, status 0, the usage text followed by
// every option it leaves out; the specified -h keeps its usage-and-status-1 behaviour.
#include <gtest/gtest.h>

#include "support/run_program.h"

using vexal_test::run_program;

TEST(ProgramHelp, HelpAndVersionOfEveryProgram) {
  struct Program {
    const char* path;
    const char* name;
    std::vector<std::string> unlisted;  // accepted options the usage text does not show
  };
  const Program programs[] = {
      {VEXAL_ENCODE_BIN, "vexal_encode", {"-jpeg", "-dicom", "-rfi", "-nd", "-ht", "-wl", "-ir", "-r",
                                          "-threads"}},
      {VEXAL_DECODE_BIN, "vexal_decode", {}},
      {VXL_CHECK_BIN, "vxl_check", {}},
  };
  for (const Program& p : programs) {
    SCOPED_TRACE(p.name);
    auto usage = run_program(p.path, {"-h"});
    EXPECT_EQ(usage.status, 1);
    EXPECT_EQ(usage.out, "");
    const size_t start = usage.err.find(std::string("Usage: ") + p.name);
    ASSERT_NE(start, std::string::npos) << usage.err;

    auto help = run_program(p.path, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    // The usage text exactly as -h prints it, then the rest.
    EXPECT_EQ(help.out.rfind(usage.err.substr(start) + "\nMore options:\n", 0), 0u) << help.out;
    std::vector<std::string> more = p.unlisted;
    more.insert(more.end(), {"--help", "--version"});
    for (const std::string& option : more)
      EXPECT_NE(help.out.find("\n  " + option + " "), std::string::npos) << option;

    auto version = run_program(p.path, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string(p.name) + " 1.3.1\n");
    EXPECT_EQ(version.err, "");
  }
  // vxl_check takes no file named like an option.
  auto odd = run_program(VXL_CHECK_BIN, {"-x"});
  EXPECT_EQ(odd.status, 1);
  EXPECT_EQ(odd.err.rfind("Unrecognized option: -x\n\nUsage: vxl_check", 0), 0u) << odd.err;
}
