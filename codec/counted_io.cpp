#include "codec/counted_io.h"
#include "codec/failure_lines.h"

int fread2(void* buffer, size_t size, size_t count, FILE* in) {
  if (fread(buffer, size, count, in) != count) {
    report_failure_line("Read error in subroutine fread2.\n");
    return 1;
  }
  return 0;
}

int fwrite2(const void* buffer, size_t size, size_t count, FILE* out) {
  if (fwrite(buffer, size, count, out) != count) {
    report_failure_line("Write error in subroutine fwrite2.\n");
    return 1;
  }
  return 0;
}
