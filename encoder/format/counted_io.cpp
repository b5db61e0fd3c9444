#include "encoder/format/counted_io.h"

int fread2(void* buffer, size_t size, size_t count, FILE* in) {
  if (fread(buffer, size, count, in) != count) {
    fputs("Read error in subroutine fread2.\n", stderr);
    return 1;
  }
  return 0;
}

int fwrite2(const void* buffer, size_t size, size_t count, FILE* out) {
  if (fwrite(buffer, size, count, out) != count) {
    fputs("Write error in subroutine fwrite2.\n", stderr);
    return 1;
  }
  return 0;
}
