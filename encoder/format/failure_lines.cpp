#include "encoder/format/failure_lines.h"

#include <cstdio>

namespace {

// Per thread, so that turning them off in one reader leaves the encoder's workers alone.
thread_local bool printed_lines = true;

}  // namespace

void report_failure_line(const char* line) {
  if (printed_lines) std::fputs(line, stderr);
}

void set_failure_lines(bool printed) { printed_lines = printed; }
