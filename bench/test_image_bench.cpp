// Writes one synthetic test image twice, as an RFI raw float file for vexal_encode -rfi and as
// an 8-bit PGM/PPM for peers, so that both coders see the same pixels (integers 0..255). The
// content mixes smooth relief, edges and texture at every scale from 2 to 512 pixels (amplitude
// growing with the scale, as in aerial photographs), so that it neither compresses trivially nor
// is pure noise. Rows are generated and written one at a time: any size fits in little memory.
//
//   test_image_bench width height bands(1|3) out.rfi [out.pnm]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// A lattice value in -1..1, fixed by its cell and octave.
double lattice(int64_t ix, int64_t iy, int octave) {
  uint64_t h = uint64_t(ix) * 0x9E3779B97F4A7C15ull ^ uint64_t(iy) * 0xC2B2AE3D27D4EB4Full ^
               uint64_t(octave) * 0x165667B19E3779F9ull;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  return double(h & 0xFFFF) / 32767.5 - 1.0;
}

// Octaves of bilinearly interpolated lattice noise, cell sizes 2, 4, ... 512.
double texture(int x, int y) {
  double sum = 0;
  for (int octave = 1; octave <= 9; ++octave) {
    const int cell = 1 << octave;
    const int64_t ix = x >> octave, iy = y >> octave;
    const double fx = double(x & (cell - 1)) / cell, fy = double(y & (cell - 1)) / cell;
    const double top = lattice(ix, iy, octave) * (1 - fx) + lattice(ix + 1, iy, octave) * fx;
    const double bottom =
        lattice(ix, iy + 1, octave) * (1 - fx) + lattice(ix + 1, iy + 1, octave) * fx;
    sum += (top * (1 - fy) + bottom * fy) * 3.0 * std::sqrt(double(cell));
  }
  return sum;
}

uint8_t sample(int x, int y, int band, uint32_t& seed) {
  seed = seed * 1664525u + 1013904223u;
  const double relief = 60 * std::sin(x / 97.0 + band) * std::cos(y / 131.0) +
                        25 * std::sin((x + 2 * y) / 23.0) + 20 * std::cos((3 * x - y) / 411.0);
  const double edge = ((x / 700 + y / 500) & 1) ? 18 : -18;
  const double v = 128 + 0.5 * relief + edge + texture(x + 977 * band, y) + double(seed >> 29) - 4;
  return uint8_t(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
}

FILE* create(const char* path) {
  FILE* f = std::fopen(path, "wb");
  if (!f) {
    std::perror(path);
    std::exit(1);
  }
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: test_image_bench width height bands(1|3) out.rfi [out.pnm]\n");
    return 1;
  }
  const int w = std::atoi(argv[1]), h = std::atoi(argv[2]), bands = std::atoi(argv[3]);
  if (w < 1 || h < 1 || (bands != 1 && bands != 3)) {
    std::fprintf(stderr, "test_image_bench: bad size or band count\n");
    return 1;
  }
  FILE* rfi = create(argv[4]);
  FILE* pnm = argc > 5 ? create(argv[5]) : nullptr;
  const int32_t header[3] = {w, h, bands};  // little-endian hosts only, like the benches
  std::fwrite(header, sizeof header, 1, rfi);
  if (pnm) std::fprintf(pnm, "P%d\n%d %d\n255\n", bands == 1 ? 5 : 6, w, h);
  std::vector<uint8_t> row(static_cast<size_t>(w) * static_cast<size_t>(bands));
  std::vector<float> plane_row(static_cast<size_t>(w));
  // RFI is planar, PNM interleaved: each RFI band is a second pass over the same rows.
  for (int b = 0; b < bands; ++b) {
    uint32_t seed = 12345;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        uint32_t s = seed;
        for (int c = 0; c < bands; ++c) row[size_t(x) * size_t(bands) + size_t(c)] = sample(x, y, c, s);
        seed = s;
        plane_row[size_t(x)] = float(row[size_t(x) * size_t(bands) + size_t(b)]);
      }
      std::fwrite(plane_row.data(), sizeof(float), plane_row.size(), rfi);
      if (pnm && b == 0) std::fwrite(row.data(), 1, row.size(), pnm);
    }
  }
  if (std::fclose(rfi) != 0 || (pnm && std::fclose(pnm) != 0)) {
    std::perror("test_image_bench");
    return 1;
  }
  return 0;
}
