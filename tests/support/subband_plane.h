// A subband-like plane for the rate-distortion tests: Laplacian values whose scale grows from
// `low` to `high` across it, with a flat quarter (open water, scale `flat`) where almost
// everything quantises to zero.
#pragma once

#include <random>
#include <vector>

namespace vexal_test {

inline std::vector<float> subband_plane(int w, int h, unsigned seed, float flat, float low,
                                        float high) {
  std::mt19937 random(seed);
  std::exponential_distribution<float> magnitude(1.0f);
  std::bernoulli_distribution sign(0.5);
  std::vector<float> v(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const float scale = (x < w / 2 && y < h / 2) ? flat : low + (high - low) * float(x) / float(w);
      const float m = magnitude(random) * scale;
      v[size_t(y) * w + x] = sign(random) ? m : -m;
    }
  return v;
}

}  // namespace vexal_test
