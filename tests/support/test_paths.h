// Where the tests find the real sample files and the programs under test.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace vexal_test {

// Folder of the real third-party samples; the VEXAL_TESTDATA environment variable wins.
inline std::filesystem::path testdata_dir() {
  if (const char* env = std::getenv("VEXAL_TESTDATA"); env && *env) return env;
  return VEXAL_TESTDATA_DEFAULT;
}

// Path of a sample, or an empty path when the folder is absent (callers skip).
inline std::filesystem::path sample(const std::string& relative) {
  std::filesystem::path p = testdata_dir() / relative;
  return std::filesystem::exists(p) ? p : std::filesystem::path();
}

}  // namespace vexal_test

// Skips the current test with a message when a sample file is not on this machine.
#define VEXAL_REQUIRE_SAMPLE(var, relative)                                          \
  const std::filesystem::path var = vexal_test::sample(relative);                    \
  if (var.empty()) GTEST_SKIP() << "sample " << (relative) << " not found under "    \
                                << vexal_test::testdata_dir()
