#include "encoder/format/failure_lines.h"

#include <atomic>
#include <cstdio>

namespace {

// One switch for the whole process, so that decoding threads follow the program's choice.
std::atomic<bool> printed_lines{true};

}  // namespace

void report_failure_line(const char* line) {
  if (printed_lines.load(std::memory_order_relaxed)) std::fputs(line, stderr);
}

void set_failure_lines(bool printed) { printed_lines.store(printed, std::memory_order_relaxed); }
