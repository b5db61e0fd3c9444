// The test script's promises: the samples folder comes from the environment of the test run,
// and the closing summary counts the skipped tests and gives their reasons.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/run_program.h"
#include "support/scratch_dir.h"

using vexal_test::run_program;

TEST(TestScript, RegisteredTestsTakeTheSamplesFolderFromTheEnvironment) {
  // A fixed VEXAL_TESTDATA in a test's properties would hide the user's variable. The
  // registrations are read from the files test discovery wrote (running ctest here would
  // replace the log of the run that runs this test).
  std::string registrations;
  for (const auto& e : std::filesystem::directory_iterator(VEXAL_BINARY_DIR "/tests")) {
    if (!e.path().filename().string().ends_with("_tests.cmake")) continue;
    std::ifstream in(e.path());
    registrations.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  EXPECT_NE(registrations.find("TestScript.RegisteredTestsTakeTheSamplesFolderFromTheEnvironment"),
            std::string::npos);
  EXPECT_EQ(registrations.find("VEXAL_TESTDATA"), std::string::npos);
}

TEST(TestScript, SummaryCountsSkippedTestsByReason) {
  vexal_test::ScratchDir dir;
  std::filesystem::create_directories(dir.path() / "Testing/Temporary");
  std::ofstream log(dir.path() / "Testing/Temporary/LastTest.log");
  // Three tests as ctest logs them: two skipped for the same reason, one passed.
  for (const char* name : {"A.one", "A.two", "B.three"}) {
    const bool skipped = name[0] == 'A';
    log << "1/3 Testing: " << name << "\n1/3 Test: " << name << "\nCommand: x\nOutput:\n"
        << "----------------------------------------------------------\n[ RUN      ] " << name
        << "\n";
    if (skipped) log << "../a_test.cpp:12: Skipped\nsample x.tif not found under \"/nowhere\"\n";
    log << (skipped ? "[  SKIPPED ] " : "[       OK ] ") << name << " (0 ms)\n<end of output>\n"
        << "Test time =   0.01 sec\n----------------------------------------------------------\n"
        << (skipped ? "Test Pass Reason:\nSkip regular expression found in output. "
                      "Regex=[\\[  SKIPPED \\]]\n"
                    : "Test Passed.\n");
  }
  log.close();
  auto r = run_program("/bin/bash", {VEXAL_SOURCE_DIR "/scripts/skipped_tests.sh", dir.path().string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, dir.path().string() + ": 2 of 3 tests skipped\n"
                   "     2  sample x.tif not found under \"/nowhere\"\n");

  auto none = run_program("/bin/bash", {VEXAL_SOURCE_DIR "/scripts/skipped_tests.sh", dir / "absent"});
  EXPECT_EQ(none.out, dir / "absent" + ": no test log (tests did not run)\n");
}
