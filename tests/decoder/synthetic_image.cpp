#include "synthetic_image.h"

#include <algorithm>
#include <cmath>

SyntheticImage::SyntheticImage(int width, int height, int bands, int type, int scheme,
                               bool georeferenced)
    : ImageFile(Quorvale::FileSpecification("synthetic"), 0, 0), georeferenced_(georeferenced) {
  image_width = width;
  image_height = height;
  nband = bands;
  data_type = type;
  color_scheme = scheme;
  set_support_from_size();
  add_image_metadata();
}

double SyntheticImage::sample(int b, int x, int y) const {
  const double v = 0.5 + 0.3 * std::sin(x / (9.0 + 3 * b)) * std::cos(y / (13.0 - b)) +
                   0.15 * std::sin((x + 2 * y) / 3.1) + 0.05 * ((x * 7 + y * 13 + b) % 5) / 5.0;
  const double range = data_type == kImage16Bit ? 65535.0 : 255.0;
  const double s = std::clamp(v, 0.0, 1.0) * range;
  return data_type == kImageFloat ? s : std::floor(s);
}

template <typename T>
void SyntheticImage::fill(int section[2][2], T* pixels) const {
  const int w = section[0][1] - section[0][0] + 1, h = section[1][1] - section[1][0] + 1;
  for (int b = 0; b < nband; ++b)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int gx = section[0][0] + x, gy = section[1][0] + y;
        if (gx < 0 || gy < 0 || gx >= image_width || gy >= image_height) continue;
        pixels[(size_t(b) * h + y) * w + x] = static_cast<T>(sample(b, gx, gy));
      }
}

void SyntheticImage::extract(int section[2][2], unsigned char* pixels) { fill(section, pixels); }
void SyntheticImage::extract(int section[2][2], uint16_t* pixels) { fill(section, pixels); }
void SyntheticImage::extract(int section[2][2], float* pixels) { fill(section, pixels); }

double SyntheticImage::file_size() {
  const int bytes = data_type == kImage8Bit ? 1 : data_type == kImage16Bit ? 2 : 4;
  return double(image_width) * image_height * nband * bytes;
}
