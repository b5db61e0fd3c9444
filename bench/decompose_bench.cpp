// Throughput of the 9/7 decomposition: megapixels per second for a grey and an RGB plane set,
// block by block as the encoder runs it (default 512 x 512 blocks, 4 levels) and as one piece.
// Only the transform is timed: no reading, colour conversion, border exchange or coding.
//
//   decompose_bench [size] [block] [nlev] [--pgm FILE]
//
// --pgm writes the grey test image as an 8-bit PGM so that a peer can encode the same pixels.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "encoder/core/decomposition.h"

namespace {

std::vector<float> test_plane(int n, uint32_t seed) {
  std::vector<float> p(static_cast<size_t>(n) * n);
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      seed = seed * 1664525u + 1013904223u;
      p[size_t(y) * n + x] = float(((x * 97 + y * 31) & 255) / 2 + (seed >> 25));
    }
  }
  return p;
}

struct Seconds {
  double wall, cpu;
};

// Times the decomposition of `planes` (each n x n) in blocks of `block` pixels. The processor
// time is printed too because a shared machine stretches the wall time.
Seconds decompose(const std::vector<std::vector<float>>& planes, int n, int block, int nlev) {
  auto start = std::chrono::steady_clock::now();
  std::clock_t cpu_start = std::clock();
  for (const auto& plane : planes) {
    for (int y0 = 0; y0 < n; y0 += block) {
      for (int x0 = 0; x0 < n; x0 += block) {
        int x1 = std::min(n, x0 + block) - 1, y1 = std::min(n, y0 + block) - 1;
        auto root = tree_gen(1, nlev);
        set_ranges(*root, x0, x1, y0, y1, ImageEdges{x0 == 0, x1 == n - 1, y0 == 0, y1 == n - 1});
        if (split(*root, plane.data() + size_t(y0) * n + x0, n) != 0) {
          std::fprintf(stderr, "decomposition failed\n");
          std::exit(1);
        }
      }
    }
  }
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
          double(std::clock() - cpu_start) / CLOCKS_PER_SEC};
}

void write_pgm(const std::string& path, const std::vector<float>& plane, int n) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::perror(path.c_str());
    std::exit(1);
  }
  std::fprintf(f, "P5\n%d %d\n255\n", n, n);
  std::vector<uint8_t> row(n);
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) row[x] = uint8_t(std::clamp(plane[size_t(y) * n + x], 0.f, 255.f));
    std::fwrite(row.data(), 1, n, f);
  }
  std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string pgm;
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == "--pgm") pgm = args[i + 1], args.erase(args.begin() + i, args.begin() + i + 2);
  }
  int n = args.size() > 0 ? std::atoi(args[0].c_str()) : 4096;
  int block = args.size() > 1 ? std::atoi(args[1].c_str()) : 512;
  int nlev = args.size() > 2 ? std::atoi(args[2].c_str()) : 4;
  if (n < 300 || block < 300 || nlev < 1 || nlev > 5) {
    std::fprintf(stderr,
                 "usage: decompose_bench [size>=300] [block>=300] [nlev 1..5] [--pgm FILE]\n");
    return 2;
  }
  // The encoder's block rule: the last, partial block of a row is absent or wider than m.
  const int m = 4 * (2 << nlev) - 7;
  block = std::min(block, n);
  while (n % block != 0 && n % block <= m) --block;
  std::vector<std::vector<float>> rgb{test_plane(n, 1), test_plane(n, 2), test_plane(n, 3)};
  if (!pgm.empty()) write_pgm(pgm, rgb[0], n);
  const double mpix = double(n) * n / 1e6;
  std::printf("9/7 decomposition of %dx%d, %d levels (transform only)\n", n, n, nlev);
  struct Run {
    const char* name;
    size_t planes;
    int block;
  };
  for (Run r : {Run{"grey", 1, block}, Run{"RGB ", 3, block}, Run{"grey", 1, n}}) {
    std::vector<std::vector<float>> planes(rgb.begin(), rgb.begin() + r.planes);
    Seconds best{1e30, 1e30};
    for (int rep = 0; rep < 3; ++rep) {
      Seconds t = decompose(planes, n, r.block, nlev);
      best = {std::min(best.wall, t.wall), std::min(best.cpu, t.cpu)};
    }
    std::printf(
        "  %s  blocks %4d: %7.3f s  %7.1f Mpixel/s  (processor time %7.3f s  %7.1f Mpixel/s)\n",
        r.name, r.block, best.wall, mpix / best.wall, best.cpu, mpix / best.cpu);
  }
  return 0;
}
