#include "decoder/region_decoder.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <mutex>

#include "codec/lifting97.h"
#include "decoder/coefficient_reader.h"
#include "decoder/subband_geometry.h"
#include "platform/thread_pool.h"
#include "platform/uninitialized_allocator.h"

namespace {

std::unique_ptr<platform::ThreadPool> workers;
// Set on a worker while it decodes a band: its passes then stay on it.
thread_local bool inside_band = false;

// Samples below which a pass runs on the calling thread: handing it over would cost more.
constexpr int64_t kParallelSamples = int64_t(1) << 17;

}  // namespace

void in_pieces(int n, int64_t samples, const std::function<void(int, int)>& body) {
  const int threads = workers ? workers->workers() : 0;
  if (threads < 2 || inside_band || n < 64 || samples < kParallelSamples) {
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

namespace {

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
  platform::FloatBuffer data;
  float* row(int gy) { return data.data() + size_t(gy - y.a) * size_t(x.size()); }
  float& at(int gx, int gy) { return row(gy)[gx - x.a]; }
  // n samples of row gy from column gx on; zeros from a plane without data.
  void copy_row(int gy, int gx, int n, float* to) {
    if (data.empty()) std::fill_n(to, n, 0.0f);
    else std::copy_n(row(gy) + (gx - x.a), n, to);
  }
};

Range widen(Range r, int length) {
  int a = std::max(0, r.a - kMargin);
  a -= a & 1;  // start on a low-pass position
  // r.e + kMargin would overflow at the far edge of the widest level.
  return {a, r.e >= length - 1 - kMargin ? length - 1 : r.e + kMargin};
}

Range low_of(Range r) { return {r.a / 2, r.e / 2}; }
Range high_of(Range r) { return {r.a / 2, (r.e - 1) / 2}; }

// What a decode reads: the file, the cache, the records fetched ahead.
struct Source {
  const VxlFile& f;
  bool dithered;
  RecordCache* cache;
  const FetchedBytes* records;
};

// A detail plane that no record covers keeps no data: its rows are zeros (many fine subbands
// of smooth images are not coded at all).
Plane read_plane(const Source& src, int subband, int band, Range x, Range y) {
  Plane p{x, y, {}};
  if (x.size() <= 0 || y.size() <= 0) return p;
  if (subband != 0 && coded_area(src.f, subband, band, CoefficientWindow{x.a, y.a, x.e, y.e}) == 0)
    return p;
  p.data = read_coefficients(src.f, subband, band, CoefficientWindow{x.a, y.a, x.e, y.e},
                             src.dithered, src.cache, src.records);
  return p;
}

// need[k]: the samples of level k that are required; ext[k]: the widened interleaved ranges
// at level k that the synthesis of level k + 1 produces.
struct LevelRanges {
  std::vector<Range> need_x, need_y, ext_x, ext_y;
};

LevelRanges level_ranges(const VxlFile& f, int level, const Window& w) {
  const size_t n = size_t(f.levels()) + 1;
  LevelRanges r{std::vector<Range>(n), std::vector<Range>(n), std::vector<Range>(n),
                std::vector<Range>(n)};
  r.need_x[size_t(level)] = {w.x0, w.x1};
  r.need_y[size_t(level)] = {w.y0, w.y1};
  for (int k = level + 1; k <= f.levels(); ++k) {
    r.ext_x[size_t(k - 1)] = widen(r.need_x[size_t(k - 1)], reduced_size(f.width(), k - 1));
    r.ext_y[size_t(k - 1)] = widen(r.need_y[size_t(k - 1)], reduced_size(f.height(), k - 1));
    r.need_x[size_t(k)] = low_of(r.ext_x[size_t(k - 1)]);
    r.need_y[size_t(k)] = low_of(r.ext_y[size_t(k - 1)]);
  }
  return r;
}

// The detail subbands of level k, each with the halves of the interleaved ranges it covers.
struct DetailPlanes {
  int first;  // HL, LH, HH follow
  Range x[3], y[3];
};

DetailPlanes detail_planes(const VxlFile& f, int k, Range x, Range y) {
  return {1 + 3 * (f.levels() - k),
          {high_of(x), low_of(x), high_of(x)},
          {low_of(y), high_of(y), high_of(y)}};
}

LineEnd end_at(int position, int edge) { return position == edge ? LineEnd::kSymmetric : LineEnd::kZero; }

// One level of synthesis: from LL and the three detail subbands of level k (covering the low
// and high halves of the interleaved ranges x, y of level k - 1) to the samples `keep_x`,
// `keep_y` of level k - 1. Columns stay apart by band (low ones, then high ones) through the
// vertical passes, which treat every column alike, and the horizontal pass of each kept row
// works on its two halves and interleaves them as it stores the kept columns: the same
// operations as on interleaved rows, without a pass to interleave and one to crop.
Plane synthesize(const Source& src, int band, int k, const Plane& ll, Range x, Range y,
                 Range keep_x, Range keep_y) {
  const VxlFile& f = src.f;
  const DetailPlanes d = detail_planes(f, k, x, y);
  Plane hl = read_plane(src, d.first, band, d.x[0], d.y[0]);
  Plane lh = read_plane(src, d.first + 1, band, d.x[1], d.y[1]);
  Plane hh = read_plane(src, d.first + 2, band, d.x[2], d.y[2]);
  // x.a is even: the low columns come first in every row.
  const int lows = low_of(x).size(), highs = high_of(x).size();
  Plane work{x, y, {}};
  work.data.resize(size_t(x.size()) * size_t(y.size()));
  const int64_t samples = int64_t(x.size()) * y.size();
  in_pieces(y.size(), samples, [&](int r0, int r1) {
    for (int gy = y.a + r0; gy < y.a + r1; ++gy) {
      const bool odd = gy & 1;
      const int sy = odd ? (gy - 1) / 2 : gy / 2;
      Plane& low = const_cast<Plane&>(odd ? lh : ll);
      Plane& high = odd ? hh : hl;
      float* to = work.row(gy);
      low.copy_row(sy, x.a / 2, lows, to);
      if (highs > 0) high.copy_row(sy, x.a / 2, highs, to + lows);
    }
  });
  const int width = reduced_size(f.width(), k - 1), height = reduced_size(f.height(), k - 1);
  // Undo the vertical passes, in strips of columns, then the horizontal ones.
  in_pieces(x.size(), samples, [&](int c0, int c1) {
    lift97_inverse_lanes(work.data.data() + c0, y.a, y.size(), x.size(), c1 - c0, end_at(y.a, 0),
                         end_at(y.e, height - 1));
  });
  Plane out{keep_x, keep_y, {}};
  out.data.resize(size_t(keep_x.size()) * size_t(keep_y.size()));
  in_pieces(keep_y.size(), int64_t(keep_y.size()) * x.size(), [&](int r0, int r1) {
    for (int gy = keep_y.a + r0; gy < keep_y.a + r1; ++gy) {
      float* low = work.row(gy);
      float* high = low + lows;
      lift97_inverse_split(low, high, x.a, x.size(), end_at(x.a, 0), end_at(x.e, width - 1));
      float* to = out.row(gy);
      int gx = keep_x.a;
      if (gx & 1) *to++ = high[(gx++ - 1 - x.a) / 2];
      const float* l = low + (gx - x.a) / 2;
      const float* h = high + (gx - x.a) / 2;
      for (; gx < keep_x.e; gx += 2) *to++ = *l++, *to++ = *h++;
      if (gx == keep_x.e) *to = *l;
    }
  });
  return out;
}

}  // namespace

int decoder_threads() { return workers ? workers->workers() : 0; }

void on_threads(int bands, const std::function<void(int)>& body) {
  const int threads = decoder_threads();
  if (threads < 2 || bands < 2 || inside_band) {
    for (int b = 0; b < bands; ++b) body(b);
    return;
  }
  platform::OrderedResults<void> done{size_t(bands)};
  for (int b = 0; b < bands; ++b)
    done.add(workers->submit([&body, b] {
      struct Mark {
        Mark() { inside_band = true; }
        ~Mark() { inside_band = false; }
      } mark;
      body(b);
    }));
  while (!done.empty()) done.take();
}

void set_region_decoder_threads(int threads) {
  workers.reset();
  if (threads > 1) workers = std::make_unique<platform::ThreadPool>(threads);
}

std::vector<SubbandWindow> subband_windows(const VxlFile& f, int level, const Window& w) {
  const LevelRanges r = level_ranges(f, level, w);
  std::vector<SubbandWindow> out;
  auto add = [&](int subband, Range x, Range y) {
    if (x.size() > 0 && y.size() > 0) out.push_back({subband, {x.a, y.a, x.e, y.e}});
  };
  add(0, r.need_x[size_t(f.levels())], r.need_y[size_t(f.levels())]);
  for (int k = f.levels(); k > level; --k) {
    const DetailPlanes d = detail_planes(f, k, r.ext_x[size_t(k - 1)], r.ext_y[size_t(k - 1)]);
    for (int i = 0; i < 3; ++i) add(d.first + i, d.x[i], d.y[i]);
  }
  return out;
}

platform::FloatBuffer decode_band_region(const VxlFile& f, int band, int level, const Window& w,
                                         bool dithered, RecordCache* cache,
                                         const FetchedBytes* records) {
  const int levels = f.levels();
  const LevelRanges r = level_ranges(f, level, w);
  const Source src{f, dithered, cache, records};
  Plane current = read_plane(src, 0, band, r.need_x[size_t(levels)], r.need_y[size_t(levels)]);
  for (int k = levels; k > level; --k) {
    current = synthesize(src, band, k, current, r.ext_x[size_t(k - 1)], r.ext_y[size_t(k - 1)],
                         r.need_x[size_t(k - 1)], r.need_y[size_t(k - 1)]);
  }
  // Each level of analysis scales the low band by 2 (sqrt 2 per direction).
  const float scale = std::ldexp(1.0f, -level);
  if (scale != 1.0f)
    for (float& v : current.data) v *= scale;
  return std::move(current.data);
}
