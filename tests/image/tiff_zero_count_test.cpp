// A directory entry with a value count of 0 is legal TIFF; the GeoTIFF directory reader must
// take it as an empty field (it once copied from a null buffer).
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "image/image_factory.h"
#include "platform/error.h"
#include "support/scratch_dir.h"

namespace {

void put16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void entry(std::vector<uint8_t>& b, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
  put16(b, tag);
  put16(b, type);
  put32(b, count);
  put32(b, value);
}

}  // namespace

TEST(TiffDirectory, ZeroCountFieldIsEmptyNotACrash) {
  // A 4 x 2 grey image, one strip, with an empty GeoAsciiParams field beside the georeferencing.
  std::vector<uint8_t> f = {'I', 'I', 42, 0};
  put32(f, 8);
  const uint16_t entries = 11;
  const uint32_t after_ifd = 8 + 2 + entries * 12 + 4;
  const uint32_t scale_at = after_ifd, tie_at = scale_at + 24, pixels_at = tie_at + 48;
  put16(f, entries);
  entry(f, 256, 3, 1, 4);           // width
  entry(f, 257, 3, 1, 2);           // height
  entry(f, 258, 3, 1, 8);           // bits per sample
  entry(f, 259, 3, 1, 1);           // no compression
  entry(f, 262, 3, 1, 1);           // min-is-black
  entry(f, 273, 4, 1, pixels_at);   // strip offset
  entry(f, 277, 3, 1, 1);           // samples per pixel
  entry(f, 278, 3, 1, 2);           // rows per strip
  entry(f, 279, 4, 1, 8);           // strip byte count
  entry(f, 33550, 12, 3, scale_at); // pixel scale
  entry(f, 33922, 12, 6, tie_at);   // tie point
  put32(f, 0);
  for (double v : {60.0, 60.0, 0.0, 0.0, 0.0, 0.0, 440720.0, 3751320.0, 0.0}) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    for (int i = 0; i < 8; ++i) f.push_back(uint8_t(bits >> (8 * i)));
  }
  for (int i = 0; i < 8; ++i) f.push_back(uint8_t(10 * i));
  // Re-point the last entry pair so an empty ASCII field stands among them: replace the
  // samples-per-pixel entry (1 is the default) with tag 34737, type ASCII, count 0.
  const size_t spp = 8 + 2 + 6 * 12;
  f[spp] = uint8_t(34737 & 0xFF);
  f[spp + 1] = uint8_t(34737 >> 8);
  f[spp + 2] = 2;
  f[spp + 3] = 0;
  for (int i = 4; i < 12; ++i) f[spp + size_t(i)] = 0;
  vexal_test::ScratchDir dir;
  const std::string name = dir / "zero.tif";
  std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(f.data()), std::streamsize(f.size()));
  try {
    auto image = create_image(Quorvale::FileSpecification(name), "TIFG", nullptr, nullptr);
    SUCCEED();
  } catch (const std::exception& e) {
    SUCCEED() << e.what();  // refusing is fine; reading past a null buffer is not
  }
}
