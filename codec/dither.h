// Dither offsets of the subbands and the addition / removal of the dither pattern.
#pragma once

#include <cstdint>
#include <vector>

// Column and row offset (0..127) into the dither table for one subband.
struct DitherOffsets {
  uint8_t ox = 0;
  uint8_t oy = 0;
};

// The C library generator of the format: state = state * 214013 + 2531011 (mod 2^32), output
// (state >> 16) & 0x7FFF. Its exact sequence is part of the output file.
class DitherRandom {
 public:
  explicit DitherRandom(uint32_t seed = 0) : state_(seed) {}
  int next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int>((state_ >> 16) & 0x7FFF);
  }

 private:
  uint32_t state_;
};

// Offsets of subbands 0 .. count - 1, drawn from a generator seeded with 0, ox before oy, each
// offset = output >> 8. Every encoding run draws them afresh.
std::vector<DitherOffsets> dither_offsets(int count);

// For the rectangle x0..x1, y0..y1 of a subband (row-major samples, x1 - x0 + 1 per row), adds
// (or removes) step x ditherTable[((y + oy) mod 128) * 128 + (x + ox) mod 128] at (x, y).
// Coordinates are never negative. Without offsets (nullptr) nothing is done.
void add_dither(float* samples, int x0, int x1, int y0, int y1, float step,
                const DitherOffsets* offsets);
void remove_dither(float* samples, int x0, int x1, int y0, int y1, float step,
                   const DitherOffsets* offsets);
