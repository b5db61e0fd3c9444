#include "codec/level_geometry.h"

int reduced_size(int size, int levels) {
  // Rounds up like (size + 1) / 2, which overflows for a header's largest width.
  for (int k = 0; k < levels; ++k) size -= size / 2;
  return size;
}

int subband_count(int levels) { return 3 * levels + 1; }

int band_length(int full_length, int level, bool high) {
  const int parent = reduced_size(full_length, level - 1);
  return high ? parent / 2 : parent - parent / 2;  // rounds up without overflowing
}
