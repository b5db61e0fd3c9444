// Runs a program under test and captures its exit status, standard output and standard error.
#pragma once

#include <string>
#include <vector>

namespace vexal_test {

struct ProgramResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// Runs `program` with `args` in `cwd` (empty: the current folder); stdin is /dev/null.
ProgramResult run_program(const std::string& program, const std::vector<std::string>& args,
                          const std::string& cwd = "");

}  // namespace vexal_test
