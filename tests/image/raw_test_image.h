// A raw-file image for the tests: samples of any layout written by the test itself, read back
// through ImageFile::extract_raw.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "image/image.h"

namespace vexal_test {

struct RawLayout {
  std::string word;      // band-structure word
  int width = 0, height = 0, bands = 1;
  int sample_size = 1;   // 1, 2 or 4 (float)
  int64_t header = 0;
  int64_t stride = 0;    // 0: width x bands x sample size (pixel-interleaved words)
};


class RawTestImage : public ImageFile {
 public:
  RawTestImage(const std::string& path, const RawLayout& layout, int x0, int y0,
               const uint8_t* no_data = nullptr, const uint8_t* transparent = nullptr);

  void print_parameters() override {}
  void extract(int s[2][2], unsigned char* p) override { read(s, p); }
  void extract(int s[2][2], uint16_t* p) override { read(s, p); }
  void extract(int s[2][2], float* p) override { read(s, p); }
  using Image::extract;
  bool is_georeferenced() override { return false; }

  RawLayout layout;

 private:
  void read(int s[2][2], void* p) {
    extract_raw(s, p, layout.sample_size, layout.width, layout.height, layout.bands,
                layout.header, band_order_from_word(layout.word), layout.stride,
                transparent_value());
  }
};

// Byte offset of sample `band` of file pixel (row, col), straight from the layout tables.
inline int64_t raw_offset(const RawLayout& l, int band, int row, int col) {
  const int64_t S = l.sample_size, W = l.width, H = l.height, b = l.bands;
  if (l.word.find("_BIL") != std::string::npos) return l.header + (row * W * b + band * W + col) * S;
  if (l.word.find("_BSQ") != std::string::npos) return l.header + ((band * H + row) * W + col) * S;
  const int64_t stride = l.stride ? l.stride : W * b * S;
  return l.header + row * stride + (col * b + band) * S;
}

// Writes a file whose sample of band k at (row, col) is value(k, row, col); the rest is 0xEE.
template <typename T>
void write_raw_file(const std::string& path, const RawLayout& l,
                    T (*value)(int band, int row, int col)) {
  const int64_t size = raw_offset(l, l.bands - 1, l.height - 1, l.width - 1) + l.sample_size;
  std::vector<uint8_t> bytes(size, 0xEE);
  for (int k = 0; k < l.bands; ++k)
    for (int r = 0; r < l.height; ++r)
      for (int c = 0; c < l.width; ++c) {
        const T v = value(k, r, c);
        std::memcpy(&bytes[raw_offset(l, k, r, c)], &v, sizeof(T));
      }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
    throw std::runtime_error("cannot write " + path);
  std::fclose(f);
}


inline RawTestImage::RawTestImage(const std::string& path, const RawLayout& l, int x0, int y0,
                           const uint8_t* no_data, const uint8_t* transparent)
    : ImageFile(path, x0, y0, no_data, transparent), layout(l) {
  image_width = l.width;
  image_height = l.height;
  nband = l.bands;
  data_type = l.sample_size == 1 ? kImage8Bit : l.sample_size == 2 ? kImage16Bit : kImageFloat;
  color_scheme = l.bands == 1 ? kSchemeGray : l.bands == 3 ? kSchemeRGB : kSchemeUnknown;
  set_support_from_size();
}

}  // namespace vexal_test
