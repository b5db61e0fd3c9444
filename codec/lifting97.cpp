#include "codec/lifting97.h"

#include <algorithm>

#include "platform/avx2_clones.h"

namespace {

// Each lifting result is formed in double precision and stored as a float, so every step
// rounds exactly once, like the extended-precision arithmetic the format was defined with.
VEXAL_INLINE float lift(float target, float c, float a, float b) {
  return static_cast<float>(static_cast<double>(target) +
                            static_cast<double>(c) * (static_cast<double>(a) + b));
}

// Index of the neighbour at local index i, or -1 where the signal counts as zero. Mirrored
// positions keep their parity, so the symmetric ends work whatever the line's start.
VEXAL_INLINE int neighbour(int i, int count, LineEnd near, LineEnd far) {
  if (i < 0)
    i = near == LineEnd::kSymmetric ? -i : -1;
  else if (i >= count)
    i = far == LineEnd::kSymmetric ? 2 * (count - 1) - i : -1;
  return i >= 0 && i < count ? i : -1;
}

// Rows of side-by-side lines never overlap (the stride is at least the lane count), so the
// loops over a row's lanes run on vectors without overlap checks.
// Built apart for AVX2 rather than inlined: inlined into the sweep, they lost their vectors.
VEXAL_WIDE_CLONES void lift_lanes(float* __restrict t, const float* __restrict a,
                                  const float* __restrict b, int lanes, float c) {
  for (int j = 0; j < lanes; ++j) t[j] = lift(t[j], c, a[j], b[j]);
}

// The same, then `t` scaled to the low band and `a`, whose last use this was, to the high band.
VEXAL_WIDE_CLONES void lift_scale_lanes(float* __restrict t, float* __restrict a,
                                        const float* __restrict b, int lanes, float c) {
  for (int j = 0; j < lanes; ++j) {
    const float lifted = lift(t[j], c, a[j], b[j]);
    t[j] = lifted * kLift97Low;
    a[j] *= kLift97High;
  }
}

struct Line {
  float* data;
  int count;
  std::ptrdiff_t stride;
  int lanes;
  LineEnd near, far;

  float* at(int i) const { return data + i * stride; }

  // target += c * (left + right) at every local index of the given parity, from `first` on.
  VEXAL_INLINE void step(int first, float c) const {
    for (int i = first; i < count; i += 2) row(i, c);
  }

  VEXAL_INLINE void row(int i, float c) const {
    if (i >= 1 && i + 1 < count) {
      interior(i, c);
    } else {
      edge(i, c);
    }
  }

  VEXAL_INLINE void interior(int i, float c) const {
    lift_lanes(at(i), at(i - 1), at(i + 1), lanes, c);
  }

  // The last step at interior row i, which is then scaled to the low band, and the scaling of
  // row i - 1 to the high band, whose last use this step was.
  VEXAL_INLINE void last_step(int i, float c) const {
    lift_scale_lanes(at(i), at(i - 1), at(i + 1), lanes, c);
  }

  VEXAL_INLINE void edge(int i, float c) const {
    int l = neighbour(i - 1, count, near, far);
    int r = neighbour(i + 1, count, near, far);
    float* t = at(i);
    for (int j = 0; j < lanes; ++j) {
      float a = l >= 0 ? at(l)[j] : 0.0f;
      float b = r >= 0 ? at(r)[j] : 0.0f;
      t[j] = lift(t[j], c, a, b);
    }
  }

  VEXAL_INLINE void scale(int first, float factor) const {
    for (int i = first; i < count; i += 2) scale_row(i, factor);
  }

  VEXAL_INLINE void scale_row(int i, float factor) const {
    float* t = at(i);
    for (int j = 0; j < lanes; ++j) t[j] *= factor;
  }

  VEXAL_INLINE void unscale(int first, float factor) const {
    for (int i = first; i < count; i += 2) unscale_row(i, factor);
  }

  VEXAL_INLINE void unscale_row(int i, float factor) const {
    float* t = at(i);
    for (int j = 0; j < lanes; ++j) t[j] = static_cast<float>(static_cast<double>(t[j]) / factor);
  }
};

// Single contiguous lines are the horizontal passes, the hot path: the interior runs without
// per-sample edge tests.
VEXAL_INLINE void step_single(float* x, int count, int first, float c, LineEnd near, LineEnd far) {
  int i = first;
  if (i == 0) {
    int r = neighbour(1, count, near, far);
    int l = neighbour(-1, count, near, far);
    x[0] = lift(x[0], c, l >= 0 ? x[l] : 0.0f, r >= 0 ? x[r] : 0.0f);
    i = 2;
  }
  for (; i + 1 < count; i += 2) x[i] = lift(x[i], c, x[i - 1], x[i + 1]);
  if (i < count) {
    int r = neighbour(i + 1, count, near, far);
    x[i] = lift(x[i], c, x[i - 1], r >= 0 ? x[r] : 0.0f);
  }
}

// One band of a line kept apart from the other: element i sits at local index first + 2 i.
struct Half {
  float* v;
  int n;
  int first;
};

// The split form of one lifting step: targets in `t`, neighbours in `nb`. Target i has its
// neighbours at nb[i + off] and nb[i + off + 1]; the ends go through the mirror rule.
VEXAL_INLINE void step_split(Half t, Half nb, float c, int count, LineEnd near, LineEnd far) {
  const int off = t.first == 0 ? -1 : 0;
  const int lo = std::min(-off, t.n);
  const int hi = std::max(lo, std::min(t.n, nb.n - 1 - off));
  auto edge = [&](int i) {
    const int local = t.first + 2 * i;
    const int l = neighbour(local - 1, count, near, far);
    const int r = neighbour(local + 1, count, near, far);
    t.v[i] = lift(t.v[i], c, l >= 0 ? nb.v[(l - nb.first) / 2] : 0.0f,
                  r >= 0 ? nb.v[(r - nb.first) / 2] : 0.0f);
  };
  for (int i = 0; i < lo; ++i) edge(i);
  if (lo < hi) {
    // Starts at the first interior target, so the pointer never precedes the array.
    float* tv = t.v + lo;
    const float* a = nb.v + (lo + off);
    for (int i = 0; i < hi - lo; ++i) tv[i] = lift(tv[i], c, a[i], a[i + 1]);
  }
  for (int i = hi; i < t.n; ++i) edge(i);
}

// Step k of the forward sweep below, with every test.
VEXAL_INLINE void forward_sweep_row(const Line& line, int odd, int k) {
  const int count = line.count;
  if (k < count && (k & 1) == odd) line.row(k, -kLift97Alpha);
  int r = k - 1;
  if (r >= 0 && r < count && (r & 1) != odd) line.row(r, -kLift97Beta);
  r = k - 2;
  if (r >= 0 && r < count && (r & 1) == odd) line.row(r, kLift97Gamma);
  r = k - 3;
  if (r >= 0 && r < count && (r & 1) != odd) line.row(r, kLift97Delta);
  r = k - 4;
  if (r >= 0 && r < count) line.scale_row(r, (r & 1) == odd ? kLift97High : kLift97Low);
}

// The four steps and the scaling of side-by-side lines in one sweep down the rows: each row is
// lifted by a step once both its neighbours have had the step before, so every value is made
// from the same operands as in four separate passes, while the few rows in work stay in cache.
VEXAL_INLINE void forward_sweep(const Line& line, int start) {
  const int odd = 1 - (start & 1);  // local parity of the odd global positions
  const int count = line.count;
  // Away from the ends, from a k of the odd parity on, two rows of k do the same work each time:
  // no edge tests, and the last step of a low row scales it and the finished high row above.
  int k = 0;
  for (; k < 5 || (k & 1) != odd; ++k) forward_sweep_row(line, odd, k);
  for (; k + 1 < count - 1; k += 2) {
    line.interior(k, -kLift97Alpha);
    line.interior(k - 1, -kLift97Beta);
    line.interior(k - 2, kLift97Gamma);
    line.last_step(k - 3, kLift97Delta);
  }
  for (; k < count + 4; ++k) forward_sweep_row(line, odd, k);
}

// The synthesis in one sweep likewise: the scaling is undone row by row ahead of the steps.
VEXAL_INLINE void inverse_sweep(const Line& line, int start) {
  const int odd = 1 - (start & 1);
  const int count = line.count;
  for (int k = 0; k < count + 4; ++k) {
    if (k < count) line.unscale_row(k, (k & 1) == odd ? kLift97High : kLift97Low);
    int r = k - 1;
    if (r >= 0 && r < count && (r & 1) != odd) line.row(r, -kLift97Delta);
    r = k - 2;
    if (r >= 0 && r < count && (r & 1) == odd) line.row(r, -kLift97Gamma);
    r = k - 3;
    if (r >= 0 && r < count && (r & 1) != odd) line.row(r, kLift97Beta);
    r = k - 4;
    if (r >= 0 && r < count && (r & 1) == odd) line.row(r, kLift97Alpha);
  }
}

VEXAL_INLINE void forward(const Line& line, int start) {
  int even = start & 1;  // local index of the first even global position
  int odd = 1 - even;
  if (line.lanes == 1 && line.stride == 1) {
    step_single(line.data, line.count, odd, -kLift97Alpha, line.near, line.far);
    step_single(line.data, line.count, even, -kLift97Beta, line.near, line.far);
    step_single(line.data, line.count, odd, kLift97Gamma, line.near, line.far);
    step_single(line.data, line.count, even, kLift97Delta, line.near, line.far);
  } else {
    line.step(odd, -kLift97Alpha);
    line.step(even, -kLift97Beta);
    line.step(odd, kLift97Gamma);
    line.step(even, kLift97Delta);
  }
  line.scale(even, kLift97Low);
  line.scale(odd, kLift97High);
}

VEXAL_INLINE void inverse(const Line& line, int start) {
  int even = start & 1;
  int odd = 1 - even;
  line.unscale(even, kLift97Low);
  line.unscale(odd, kLift97High);
  if (line.lanes == 1 && line.stride == 1) {
    step_single(line.data, line.count, even, -kLift97Delta, line.near, line.far);
    step_single(line.data, line.count, odd, -kLift97Gamma, line.near, line.far);
    step_single(line.data, line.count, even, kLift97Beta, line.near, line.far);
    step_single(line.data, line.count, odd, kLift97Alpha, line.near, line.far);
  } else {
    line.step(even, -kLift97Delta);
    line.step(odd, -kLift97Gamma);
    line.step(even, kLift97Beta);
    line.step(odd, kLift97Alpha);
  }
}

}  // namespace

void lift97_forward(float* line, int start, int count, LineEnd near, LineEnd far) {
  if (count <= 0) return;
  forward(Line{line, count, 1, 1, near, far}, start);
}

void lift97_inverse(float* line, int start, int count, LineEnd near, LineEnd far) {
  if (count <= 0) return;
  inverse(Line{line, count, 1, 1, near, far}, start);
}

VEXAL_WIDE_CLONES
void lift97_forward_split(float* low, float* high, int start, int count, LineEnd near,
                          LineEnd far) {
  if (count <= 0) return;
  const int even = start & 1;
  Half s{low, (count + 1 - even) / 2, even};
  Half d{high, (count + even) / 2, 1 - even};
  step_split(d, s, -kLift97Alpha, count, near, far);
  step_split(s, d, -kLift97Beta, count, near, far);
  step_split(d, s, kLift97Gamma, count, near, far);
  step_split(s, d, kLift97Delta, count, near, far);
  for (int i = 0; i < s.n; ++i) low[i] *= kLift97Low;
  for (int i = 0; i < d.n; ++i) high[i] *= kLift97High;
}

VEXAL_WIDE_CLONES
void lift97_inverse_split(float* low, float* high, int start, int count, LineEnd near,
                          LineEnd far) {
  if (count <= 0) return;
  const int even = start & 1;
  Half s{low, (count + 1 - even) / 2, even};
  Half d{high, (count + even) / 2, 1 - even};
  for (int i = 0; i < s.n; ++i)
    low[i] = static_cast<float>(static_cast<double>(low[i]) / kLift97Low);
  for (int i = 0; i < d.n; ++i) {
    high[i] = static_cast<float>(static_cast<double>(high[i]) / kLift97High);
  }
  step_split(s, d, -kLift97Delta, count, near, far);
  step_split(d, s, -kLift97Gamma, count, near, far);
  step_split(s, d, kLift97Beta, count, near, far);
  step_split(d, s, kLift97Alpha, count, near, far);
}

VEXAL_WIDE_CLONES
void lift97_forward_lanes(float* data, int start, int count, std::ptrdiff_t stride, int lanes,
                          LineEnd near, LineEnd far) {
  if (count <= 0 || lanes <= 0) return;
  forward_sweep(Line{data, count, stride, lanes, near, far}, start);
}

VEXAL_WIDE_CLONES
void lift97_inverse_lanes(float* data, int start, int count, std::ptrdiff_t stride, int lanes,
                          LineEnd near, LineEnd far) {
  if (count <= 0 || lanes <= 0) return;
  inverse_sweep(Line{data, count, stride, lanes, near, far}, start);
}
