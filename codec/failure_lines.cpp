#include "codec/failure_lines.h"

namespace {

// Per thread: the decoder's threads each report their own records' failures.
thread_local std::string pending;

}  // namespace

void report_failure_line(const char* line) { pending = line; }

std::string failure_line_suffix() {
  std::string line;
  line.swap(pending);
  while (!line.empty() && (line.back() == '\n' || line.back() == '.')) line.pop_back();
  return line.empty() ? line : ": " + line;
}
