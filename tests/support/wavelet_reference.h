// A slow, whole-image 9/7 decomposition for the tests: double precision, explicit symmetric
// extension and plain convolution with the impulse responses of the lifting, level by level on
// the whole image. It shares no code with the block-wise decomposition it checks.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace wavelet_reference {

// Responses of one low output (9 taps, centre 4) and one high output (7 taps, centre 3) to the
// input samples around it, found by running the lifting steps in double precision on impulses.
struct Taps {
  std::array<double, 9> low;
  std::array<double, 7> high;
};

inline std::vector<double> lift_infinite(std::vector<double> x) {
  const double steps[4] = {-1.586134f, -0.05298f, 0.882911f, 0.443507f};
  const int n = static_cast<int>(x.size());
  for (int s = 0; s < 4; ++s) {
    for (int i = (s % 2 == 0) ? 1 : 0; i < n; i += 2) {
      double l = i > 0 ? x[i - 1] : 0.0, r = i + 1 < n ? x[i + 1] : 0.0;
      x[i] += steps[s] * (l + r);
    }
  }
  for (int i = 0; i < n; ++i) x[i] *= (i % 2 == 0) ? double(1.149604f) : double(0.86986476f);
  return x;
}

inline Taps taps() {
  Taps t;
  for (int k = 0; k < 9; ++k) {
    std::vector<double> impulse(32, 0.0);
    impulse[16 + k - 4] = 1.0;
    t.low[k] = lift_infinite(impulse)[16];
  }
  for (int k = 0; k < 7; ++k) {
    std::vector<double> impulse(32, 0.0);
    impulse[17 + k - 3] = 1.0;
    t.high[k] = lift_infinite(impulse)[17];
  }
  return t;
}

// Whole-sample symmetric extension of index i into 0..n-1.
inline int mirror(int i, int n) {
  while (i < 0 || i >= n) i = i < 0 ? -i : 2 * (n - 1) - i;
  return i;
}

// One analysis level of a whole line: low outputs on even, high outputs on odd positions.
inline std::vector<double> analyse(const std::vector<double>& x, const Taps& t) {
  const int n = static_cast<int>(x.size());
  std::vector<double> y(n, 0.0);
  for (int p = 0; p < n; ++p) {
    if (p % 2 == 0) {
      for (int k = -4; k <= 4; ++k) y[p] += t.low[k + 4] * x[mirror(p + k, n)];
    } else {
      for (int k = -3; k <= 3; ++k) y[p] += t.high[k + 3] * x[mirror(p + k, n)];
    }
  }
  return y;
}

struct Plane {
  int width = 0, height = 0;
  std::vector<double> v;
  double& at(int x, int y) { return v[static_cast<size_t>(y) * width + x]; }
  double at(int x, int y) const { return v[static_cast<size_t>(y) * width + x]; }
};

inline Plane make_plane(int w, int h) { return Plane{w, h, std::vector<double>(size_t(w) * h)}; }

// Subbands of an `nlev`-level dyadic decomposition, in subband number order: the coarsest LL,
// then per level from the coarsest down its (high, low), (low, high), (high, high) bands.
inline std::vector<Plane> decompose(Plane ll, int nlev) {
  const Taps t = taps();
  std::vector<std::array<Plane, 3>> details;  // per level from the finest: children 2, 1, 3
  for (int level = 0; level < nlev; ++level) {
    const int w = ll.width, h = ll.height;
    Plane z = ll;
    for (int y = 0; y < h; ++y) {
      std::vector<double> row(z.v.begin() + size_t(y) * w, z.v.begin() + size_t(y + 1) * w);
      row = analyse(row, t);
      for (int x = 0; x < w; ++x) z.at(x, y) = row[x];
    }
    for (int x = 0; x < w; ++x) {
      std::vector<double> col(h);
      for (int y = 0; y < h; ++y) col[y] = z.at(x, y);
      col = analyse(col, t);
      for (int y = 0; y < h; ++y) z.at(x, y) = col[y];
    }
    auto quarter = [&](int hx, int vy) {
      Plane q = make_plane((w + 1 - hx) / 2, (h + 1 - vy) / 2);
      for (int y = 0; y < q.height; ++y)
        for (int x = 0; x < q.width; ++x) q.at(x, y) = z.at(2 * x + hx, 2 * y + vy);
      return q;
    };
    details.push_back({quarter(1, 0), quarter(0, 1), quarter(1, 1)});
    ll = quarter(0, 0);
  }
  std::vector<Plane> out{ll};
  for (int level = nlev - 1; level >= 0; --level) {
    for (Plane& p : details[level]) out.push_back(p);
  }
  return out;
}

// Deterministic test image: a gradient with noise, values within 0..255.
inline Plane test_image(int w, int h, uint32_t seed) {
  Plane p = make_plane(w, h);
  uint32_t s = seed;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      s = s * 1664525u + 1013904223u;
      p.at(x, y) = std::floor(0.5 * (x * 255.0 / w) + 0.3 * (y * 255.0 / h) + (s >> 27) * 1.6);
    }
  }
  return p;
}

}  // namespace wavelet_reference
