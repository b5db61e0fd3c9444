#include "image/nodata_fill.h"

#include <algorithm>
#include <cmath>

namespace {

// One level of the pyramid: values (meaningful where weight > 0) and weights in [0, 1].
struct Level {
  int w, h;
  std::vector<float> value, weight;
};

// Bilinear sample of `c` at the position of fine pixel (x, y) one level below it.
float upsampled(const Level& c, int x, int y) {
  const float fx = std::clamp((x - 0.5f) / 2.0f, 0.0f, float(c.w - 1));
  const float fy = std::clamp((y - 0.5f) / 2.0f, 0.0f, float(c.h - 1));
  const int x0 = int(fx), y0 = int(fy);
  const int x1 = std::min(x0 + 1, c.w - 1), y1 = std::min(y0 + 1, c.h - 1);
  const float ax = fx - float(x0), ay = fy - float(y0);
  auto at = [&c](int i, int j) { return c.value[size_t(j) * size_t(c.w) + size_t(i)]; };
  return (1 - ay) * ((1 - ax) * at(x0, y0) + ax * at(x1, y0)) +
         ay * ((1 - ax) * at(x0, y1) + ax * at(x1, y1));
}

void fill_plane(float* plane, int width, int height, const std::vector<uint8_t>& invalid);

}  // namespace

std::vector<uint8_t> fill_nodata(float* planes, int width, int height, int bands,
                                 double nodata_value) {
  const size_t n = size_t(width) * size_t(height);
  const float nodata = float(nodata_value);
  const bool nan_nodata = std::isnan(nodata_value);
  auto is_nodata = [&](float v) { return std::isnan(v) || (!nan_nodata && v == nodata); };
  std::vector<uint8_t> mask(n, 1);
  for (int b = 0; b < bands; ++b)
    for (size_t i = 0; i < n; ++i)
      if (!is_nodata(planes[size_t(b) * n + i])) mask[i] = 0;
  std::vector<uint8_t> invalid(n);
  for (int b = 0; b < bands; ++b) {
    float* plane = planes + size_t(b) * n;
    bool any = false;
    for (size_t i = 0; i < n; ++i) {
      invalid[i] = mask[i] || !std::isfinite(plane[i]);
      any = any || invalid[i];
    }
    if (any) fill_plane(plane, width, height, invalid);
  }
  return mask;
}

namespace {

void fill_plane(float* plane, int width, int height, const std::vector<uint8_t>& invalid) {
  std::vector<Level> pyramid;
  Level base{width, height, std::vector<float>(plane, plane + size_t(width) * size_t(height)),
             std::vector<float>(size_t(width) * size_t(height))};
  bool any_valid = false;
  for (size_t i = 0; i < base.value.size(); ++i) {
    base.weight[i] = invalid[i] ? 0.0f : 1.0f;
    if (invalid[i]) base.value[i] = 0.0f;
    any_valid = any_valid || !invalid[i];
  }
  if (!any_valid) {
    std::fill(plane, plane + base.value.size(), 0.0f);
    return;
  }
  pyramid.push_back(std::move(base));
  // Push: weighted 2 x 2 averages up to a level where every cell has some valid sample.
  for (;;) {
    const Level& f = pyramid.back();
    if (std::all_of(f.weight.begin(), f.weight.end(), [](float w) { return w > 0; })) break;
    Level c{(f.w + 1) / 2, (f.h + 1) / 2, {}, {}};
    c.value.assign(size_t(c.w) * size_t(c.h), 0.0f);
    c.weight.assign(c.value.size(), 0.0f);
    for (int y = 0; y < f.h; ++y)
      for (int x = 0; x < f.w; ++x) {
        const size_t i = size_t(y) * size_t(f.w) + size_t(x);
        const size_t j = size_t(y / 2) * size_t(c.w) + size_t(x / 2);
        c.value[j] += f.value[i] * f.weight[i];
        c.weight[j] += f.weight[i];
      }
    for (size_t j = 0; j < c.value.size(); ++j) {
      if (c.weight[j] > 0) c.value[j] /= c.weight[j];
      c.weight[j] = std::min(c.weight[j], 1.0f);
    }
    pyramid.push_back(std::move(c));
  }
  // Pull: each level keeps its own values in proportion to their weight and takes the rest
  // from the smooth level above it.
  for (size_t k = pyramid.size() - 1; k-- > 0;) {
    Level& f = pyramid[k];
    const Level& c = pyramid[k + 1];
    for (int y = 0; y < f.h; ++y)
      for (int x = 0; x < f.w; ++x) {
        const size_t i = size_t(y) * size_t(f.w) + size_t(x);
        if (f.weight[i] < 1.0f)
          f.value[i] = f.weight[i] * f.value[i] + (1.0f - f.weight[i]) * upsampled(c, x, y);
      }
  }
  const Level& filled = pyramid.front();
  for (size_t i = 0; i < filled.value.size(); ++i)
    if (invalid[i]) plane[i] = filled.value[i];
}

}  // namespace
