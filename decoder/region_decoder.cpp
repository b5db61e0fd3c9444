#include "decoder/region_decoder.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#include "decoder/coefficient_reader.h"
#include "decoder/subband_geometry.h"
#include "encoder/core/lifting97.h"
#include "platform/thread_pool.h"

namespace {

std::unique_ptr<platform::ThreadPool> workers;

// Runs body(begin, end) over pieces of 0 .. n - 1, on the workers when there are any. Rows and
// columns of a plane are independent in every pass here, so the result is the same for any
// split.
void in_pieces(int n, const std::function<void(int, int)>& body) {
  const int threads = workers ? workers->workers() : 0;
  if (threads < 2 || n < 64) {
    body(0, n);
    return;
  }
  const int pieces = std::min(n / 32, 2 * threads), step = (n + pieces - 1) / pieces;
  platform::OrderedResults<void> done{size_t(pieces)};
  for (int a = 0; a < n; a += step) {
    const int e = std::min(n, a + step);
    done.add(workers->submit([&body, a, e] { body(a, e); }));
  }
  while (!done.empty()) done.take();
}

// The synthesis filters reach 4 interleaved positions; each lifting step on a cut line spoils
// one more position inward, so 8 extra positions per side keep the kept part exact.
constexpr int kMargin = 8;

struct Range {
  int a, e;  // inclusive; empty when e < a
  int size() const { return e - a + 1; }
};

// A plane of samples over rows y.a..y.e and columns x.a..x.e of some level.
struct Plane {
  Range x, y;
  std::vector<float> data;
  float& at(int gx, int gy) { return data[size_t(gy - y.a) * size_t(x.size()) + size_t(gx - x.a)]; }
};

Range widen(Range r, int length) {
  int a = std::max(0, r.a - kMargin);
  a -= a & 1;  // start on a low-pass position
  return {a, std::min(length - 1, r.e + kMargin)};
}

Range low_of(Range r) { return {r.a / 2, r.e / 2}; }
Range high_of(Range r) { return {r.a / 2, (r.e - 1) / 2}; }

Plane read_plane(const VxlFile& f, int subband, int band, Range x, Range y, bool dithered,
                 RecordCache* cache) {
  Plane p{x, y, {}};
  if (x.size() <= 0 || y.size() <= 0) return p;
  p.data = read_coefficients(f, subband, band, CoefficientWindow{x.a, y.a, x.e, y.e}, dithered,
                             cache);
  return p;
}

LineEnd end_at(int position, int edge) { return position == edge ? LineEnd::kSymmetric : LineEnd::kZero; }

// One level of synthesis: from LL and the three detail subbands of level k (covering the low
// and high halves of the interleaved ranges x, y of level k - 1) to the plane of level k - 1.
Plane synthesize(const VxlFile& f, int band, int k, const Plane& low, Range x, Range y,
                 bool dithered, RecordCache* cache) {
  const int first = 1 + 3 * (f.levels() - k);  // detail subbands of level k: HL, LH, HH
  Plane hl = read_plane(f, first, band, high_of(x), low_of(y), dithered, cache);
  Plane lh = read_plane(f, first + 1, band, low_of(x), high_of(y), dithered, cache);
  Plane hh = read_plane(f, first + 2, band, high_of(x), high_of(y), dithered, cache);
  Plane out{x, y, std::vector<float>(size_t(x.size()) * size_t(y.size()), 0.0f)};
  Plane ll = low;
  in_pieces(y.size(), [&](int r0, int r1) {
    for (int gy = y.a + r0; gy < y.a + r1; ++gy) {
      for (int gx = x.a; gx <= x.e; ++gx) {
        const bool ox = gx & 1, oy = gy & 1;
        Plane& src = ox ? (oy ? hh : hl) : (oy ? lh : ll);
        out.at(gx, gy) = src.at(ox ? (gx - 1) / 2 : gx / 2, oy ? (gy - 1) / 2 : gy / 2);
      }
    }
  });
  const int width = reduced_size(f.width(), k - 1), height = reduced_size(f.height(), k - 1);
  // Undo the vertical passes, in strips of columns, then the horizontal ones.
  in_pieces(x.size(), [&](int c0, int c1) {
    lift97_inverse_lanes(out.data.data() + c0, y.a, y.size(), x.size(), c1 - c0, end_at(y.a, 0),
                         end_at(y.e, height - 1));
  });
  in_pieces(y.size(), [&](int r0, int r1) {
    for (int gy = y.a + r0; gy < y.a + r1; ++gy)
      lift97_inverse(&out.at(x.a, gy), x.a, x.size(), end_at(x.a, 0), end_at(x.e, width - 1));
  });
  return out;
}

Plane crop(const Plane& p, Range x, Range y) {
  Plane out{x, y, std::vector<float>(size_t(x.size()) * size_t(y.size()))};
  in_pieces(y.size(), [&](int r0, int r1) {
    for (int gy = y.a + r0; gy < y.a + r1; ++gy)
      std::copy_n(&const_cast<Plane&>(p).at(x.a, gy), x.size(), &out.at(x.a, gy));
  });
  return out;
}

}  // namespace

void set_region_decoder_threads(int threads) {
  workers.reset();
  if (threads > 1) workers = std::make_unique<platform::ThreadPool>(threads);
}

std::vector<float> decode_band_region(const VxlFile& f, int band, int level, const Window& w,
                                      bool dithered, RecordCache* cache) {
  const int levels = f.levels();
  // need[k]: the samples of level k that are required; ext[k]: the widened interleaved ranges
  // at level k that the synthesis of level k + 1 produces.
  std::vector<Range> need_x(size_t(levels) + 1), need_y(size_t(levels) + 1);
  std::vector<Range> ext_x(size_t(levels) + 1), ext_y(size_t(levels) + 1);
  need_x[size_t(level)] = {w.x0, w.x1};
  need_y[size_t(level)] = {w.y0, w.y1};
  for (int k = level + 1; k <= levels; ++k) {
    ext_x[size_t(k - 1)] = widen(need_x[size_t(k - 1)], reduced_size(f.width(), k - 1));
    ext_y[size_t(k - 1)] = widen(need_y[size_t(k - 1)], reduced_size(f.height(), k - 1));
    need_x[size_t(k)] = low_of(ext_x[size_t(k - 1)]);
    need_y[size_t(k)] = low_of(ext_y[size_t(k - 1)]);
  }
  Plane current = read_plane(f, 0, band, need_x[size_t(levels)], need_y[size_t(levels)], dithered,
                             cache);
  for (int k = levels; k > level; --k) {
    const Plane full = synthesize(f, band, k, current, ext_x[size_t(k - 1)], ext_y[size_t(k - 1)],
                                  dithered, cache);
    current = crop(full, need_x[size_t(k - 1)], need_y[size_t(k - 1)]);
  }
  // Each level of analysis scales the low band by 2 (sqrt 2 per direction).
  const float scale = std::ldexp(1.0f, -level);
  for (float& v : current.data) v *= scale;
  return current.data;
}
