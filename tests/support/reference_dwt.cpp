#include "reference_dwt.h"

#include <algorithm>

namespace vexal_test {
namespace {

// Whole-sample symmetric reflection into 0..n-1.
int reflect(int i, int n) {
  if (n == 1) return 0;
  const int period = 2 * (n - 1);
  i %= period;
  if (i < 0) i += period;
  return i < n ? i : period - i;
}

// Analysis of one whole line: low outputs at even positions, high at odd ones.
void analyze(std::vector<double>& line) {
  const int n = int(line.size());
  const int pad = 12;
  std::vector<double> x(size_t(n + 2 * pad));
  for (int i = -pad; i < n + pad; ++i) x[size_t(i + pad)] = line[size_t(reflect(i, n))];
  auto lift = [&](int parity, double c) {
    for (int i = 1; i + 1 < int(x.size()); ++i)
      if (((i - pad) & 1) == parity) x[size_t(i)] += c * (x[size_t(i - 1)] + x[size_t(i + 1)]);
  };
  lift(1, -1.586134);
  lift(0, -0.05298);
  lift(1, 0.882911);
  lift(0, 0.443507);
  for (int i = 0; i < n; ++i)
    line[size_t(i)] = x[size_t(i + pad)] * ((i & 1) ? 0.86986476 : 1.149604);
}

}  // namespace

std::vector<ReferenceSubband> reference_dwt97(const std::vector<double>& plane, int width,
                                              int height, int nlev) {
  std::vector<double> ll = plane;
  int w = width, h = height;
  std::vector<std::vector<ReferenceSubband>> levels;  // finest first, children 2, 1, 3
  for (int level = 0; level < nlev; ++level) {
    std::vector<double> line;
    for (int y = 0; y < h; ++y) {
      line.assign(ll.begin() + size_t(y) * w, ll.begin() + size_t(y + 1) * w);
      analyze(line);
      std::copy(line.begin(), line.end(), ll.begin() + size_t(y) * w);
    }
    for (int x = 0; x < w; ++x) {
      line.resize(size_t(h));
      for (int y = 0; y < h; ++y) line[size_t(y)] = ll[size_t(y) * w + x];
      analyze(line);
      for (int y = 0; y < h; ++y) ll[size_t(y) * w + x] = line[size_t(y)];
    }
    // Child c takes columns of parity c / 2 and rows of parity c % 2.
    auto child = [&](int c) {
      ReferenceSubband s;
      const int px = c / 2, py = c % 2;
      s.width = (w - px + 1) / 2;
      s.height = (h - py + 1) / 2;
      for (int y = py; y < h; y += 2)
        for (int x = px; x < w; x += 2) s.values.push_back(ll[size_t(y) * w + x]);
      return s;
    };
    levels.push_back({child(2), child(1), child(3)});
    ReferenceSubband low = child(0);
    ll = low.values;
    w = low.width;
    h = low.height;
  }
  std::vector<ReferenceSubband> out;
  out.push_back({w, h, ll});
  for (auto it = levels.rbegin(); it != levels.rend(); ++it)
    out.insert(out.end(), it->begin(), it->end());
  return out;
}

}  // namespace vexal_test
