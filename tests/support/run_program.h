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

struct RunOptions {
  std::string cwd;                  // empty: the current folder
  long long file_size_limit = -1;   // bytes any one file may reach (as ulimit -f), -1: none
  int interrupt_after_ms = -1;      // send SIGINT after this long, -1: never
  std::string interrupt_when_used;  // or send SIGINT once this folder holds a file
};

// Runs `program` with `args`; stdin is /dev/null.
ProgramResult run_program(const std::string& program, const std::vector<std::string>& args,
                          const std::string& cwd = "");
ProgramResult run_program(const std::string& program, const std::vector<std::string>& args,
                          const RunOptions& options);

}  // namespace vexal_test
