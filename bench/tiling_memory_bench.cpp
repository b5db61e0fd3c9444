// Peak memory and speed of the block-by-block decomposition into temporary subband files
// (transform, border exchange, allocation, quantisation and coding; no file writer). The image
// is synthetic and never held whole, so the peak RSS is the encoder's own: it should depend on
// the block size, not on the image size.
//
//   tiling_memory_bench megapixels [block] [nlev]
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "encoder/core/encoder.h"
#include "image/image.h"

namespace {

class SyntheticImage : public Image {
 public:
  explicit SyntheticImage(int side) {
    image_width = image_height = side;
    nband = 1;
    data_type = kImage8Bit;
    color_scheme = kSchemeGray;
  }
  void print_parameters() override {}
  void extract(int s[2][2], unsigned char* out) override {
    for (int y = s[1][0]; y <= s[1][1]; ++y) {
      for (int x = s[0][0]; x <= s[0][1]; ++x) {
        uint32_t h = uint32_t(x) * 2654435761u ^ uint32_t(y) * 2246822519u;
        *out++ = uint8_t(((x >> 3) + (y >> 4)) % 200 + (h >> 28));
      }
    }
  }
  double file_size() override { return double(image_width) * image_height; }
  double xcoord() override { return 0; }
  double ycoord() override { return 0; }
  double xscale() override { return 1; }
  double yscale() override { return 1; }
  bool is_georeferenced() override { return false; }
  const uint8_t* no_data_value() override { return nullptr; }
  const uint8_t* transparent_value() override { return nullptr; }
};

}  // namespace

int main(int argc, char** argv) {
  const double megapixels = argc > 1 ? std::atof(argv[1]) : 16;
  const int block = argc > 2 ? std::atoi(argv[2]) : 512;
  const int nlev = argc > 3 ? std::atoi(argv[3]) : 4;
  const int side = int(std::lround(std::sqrt(megapixels * 1e6)));
  std::string dir = (std::filesystem::temp_directory_path() / "vexal_bench_XXXXXX").string();
  if (!mkdtemp(dir.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  try {
    SyntheticImage image(side);
    const Quorvale::FileSpecification temp_dir(dir);
    Encoder encoder(&image, nlev, block, 0.4f, &temp_dir, nullptr, nullptr, 4.0f, 2.0f, true,
                    0.25f);
    const auto start = std::chrono::steady_clock::now();
    uint64_t bytes = 0;
    {
      SubbandMap map = encoder.decompose(nullptr, 0.0f, 1.0f, 0);
      for (const SubbandMapEntry& e : map) bytes += std::filesystem::file_size(e.file.name().str());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%6.0f Mpixel (%d x %d), block %d, nlev %d: peak RSS %7.1f MB, %6.2f Mpixel/s, "
                "subband files %.1f MB\n",
                double(side) * side / 1e6, side, side, block, nlev, usage.ru_maxrss / 1024.0,
                double(side) * side / 1e6 / seconds, bytes / 1e6);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    std::filesystem::remove_all(dir);
    return 1;
  }
  std::filesystem::remove_all(dir);
  return 0;
}
