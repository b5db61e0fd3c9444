// Reads a TIFF the way the encoder does, block by block with borders in Morton order, and
// prints what it cost: bytes decoded against the raw image size, peak memory and speed.
//   tiff_read_bench FILE [BLOCK [BORDER [TEMP_DIR]]]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "image/tiff_image.h"

namespace {

uint32_t morton(uint32_t x, uint32_t y) {
  uint32_t code = 0;
  for (int b = 0; b < 16; ++b) code |= ((x >> b) & 1) << (2 * b) | ((y >> b) & 1) << (2 * b + 1);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tiff_read_bench FILE [BLOCK [BORDER [TEMP_DIR]]]\n");
    return 2;
  }
  const int block = argc > 2 ? std::atoi(argv[2]) : 512;
  const int border = argc > 3 ? std::atoi(argv[3]) : 16;
  Quorvale::FileSpecification temp_dir(argc > 4 ? argv[4] : "");
  try {
    auto start = std::chrono::steady_clock::now();
    TIFFImage image(argv[1], 0, 0);
    if (argc > 4) image.set_temp_directory(&temp_dir);
    const int across = (image.image_width + block - 1) / block;
    const int down = (image.image_height + block - 1) / block;
    std::vector<std::pair<uint32_t, int>> order;
    for (int by = 0; by < down; ++by)
      for (int bx = 0; bx < across; ++bx) order.push_back({morton(bx, by), by * across + bx});
    std::sort(order.begin(), order.end());
    for (const auto& entry : order) {
      int bx = entry.second % across, by = entry.second / across;
      int s[2][2] = {{bx * block - border, (bx + 1) * block - 1 + border},
                     {by * block - border, (by + 1) * block - 1 + border}};
      image.extract(s);
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    double pixels = double(image.image_width) * image.image_height;
    double raw = pixels * image.nband;
    std::printf("%s: %dx%d, %d bands, %s\n", argv[1], image.image_width, image.image_height,
                image.nband, image.name().c_str());
    std::printf("  decoded/raw %.3f, peak RSS %.1f MB, %.1f Mpixel/s (%.2f s)\n",
                double(image.bytes_decoded()) / raw, usage.ru_maxrss / 1024.0,
                pixels / 1e6 / seconds, seconds);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
