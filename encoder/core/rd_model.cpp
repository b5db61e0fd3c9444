#include "encoder/core/rd_model.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "codec/symbol_alphabet.h"
#include "platform/avx2_clones.h"

namespace {

constexpr int kRungsPerOctave = 16;
constexpr int kFinePerRung = 4;
constexpr double kLowestLog2Step = -4.0;
// Reconstruction offset of the decoder's rule: index q > 0 comes back as (q + 0.06) x step.
constexpr double kReconstructionOffset = 0.06;
// Run-length classes: runs of 1 .. R zeros are symbols of their own, longer ones escapes.
constexpr int kRunClasses = kRunRange + 3;
constexpr int kRun8Class = kRunRange + 1, kRun16Class = kRunRange + 2;
// Below this many rungs under the largest magnitude the rate grows by about one bit per
// coefficient and octave; such fine steps are extrapolated instead of modelled.
constexpr int kModelledRungs = 10 * kRungsPerOctave;
constexpr double kHuffmanExcess = 1.006;
constexpr int kPricedEvery = 4;
// A piece whose rows split into parts of at least this many has its runs counted on the
// first part (up to a quarter).
constexpr int kPartRows = 16;

inline int run_class(int length) {
  if (length <= kRunRange) return length;
  return length <= 255 ? kRun8Class : kRun16Class;
}

// 64 log2(1 + m / 1024) for the top ten bits of a float's mantissa.
const std::array<float, 1024>& mantissa_log() {
  static const std::array<float, 1024> table = [] {
    std::array<float, 1024> t{};
    for (int i = 0; i < 1024; ++i) t[size_t(i)] = float(64.0 * std::log2(1.0 + (i + 0.5) / 1024.0));
    return t;
  }();
  return table;
}

// 64 log2 of the lowest rung's zero threshold, worked out once rather than per row.
const float kFineOrigin = float(64.0 * (std::log2(double(kRdZeroThreshold)) + kLowestLog2Step));

// The fine bin of magnitude m (64 per octave, from the lowest rung's zero threshold; -1 below
// the ladder or not-a-number, fine_bins above it), from the float's exponent and mantissa: a
// magnitude within a thousandth of a bin's edge may land in its neighbour. Without branches,
// so that the loops over a row run on vectors.
VEXAL_INLINE int32_t fine_bin_of(float m, int fine_bins, const float* table) {
  uint32_t bits;
  std::memcpy(&bits, &m, sizeof bits);
  const int32_t exponent = int32_t(bits >> 23) - 127;
  const float u = float(64 * exponent) + table[(bits >> 13) & 1023u] - kFineOrigin;
  const int32_t f = int32_t(std::min(float(fine_bins), std::max(0.0f, u)));
  return m > 0.0f && u >= 0.0f ? f : -1;
}

// The slots of `n` values in the signed histogram in `slots`: fine bin + 1 (0 = below the
// ladder, fine_bins + 1 above it), plus fine_bins + 2 for negative values.
VEXAL_AVX2_CLONES
void fine_slots_of(const float* values, int n, int fine_bins, const float* table, int32_t* slots) {
  for (int i = 0; i < n; ++i) {
    const int32_t bin = fine_bin_of(std::fabs(values[i]), fine_bins, table);
    slots[i] = bin + 1 + (values[i] < 0.0f ? fine_bins + 2 : 0);
  }
}

// As fine_slots_of, and the values' zero rungs in `rungs`, for the rows whose runs are counted.
VEXAL_AVX2_CLONES
void fine_slots_and_rungs_of(const float* values, int n, int fine_bins, const float* table,
                             int32_t* slots, int16_t* rungs) {
  for (int i = 0; i < n; ++i) {
    const int32_t bin = fine_bin_of(std::fabs(values[i]), fine_bins, table);
    slots[i] = bin + 1 + (values[i] < 0.0f ? fine_bins + 2 : 0);
    rungs[i] = int16_t(bin < 0 ? 0 : std::min((bin >> 2) + 1, kRdRungs));
  }
}

// The magnitude at the lower edge of fine bin f.
double fine_edge(int f) {
  static const std::vector<double> edges = [] {
    std::vector<double> e;
    for (int i = -1; i <= kRdFineBins + 1; ++i)
      e.push_back(kRdZeroThreshold *
                  std::exp2(double(i) / (kRungsPerOctave * kFinePerRung) + kLowestLog2Step));
    return e;
  }();
  return edges[size_t(f + 1)];
}

// Fine-bin offsets, from the zero threshold, of the boundary below index q (q >= 2).
const std::array<double, 257>& boundary_offsets() {
  static const std::array<double, 257> offsets = [] {
    std::array<double, 257> o{};
    for (int q = 2; q <= 256; ++q)
      o[size_t(q)] = std::log2((q - 1 + 0.5 + kReconstructionOffset) / kRdZeroThreshold) *
                     kRungsPerOctave * kFinePerRung;
    return o;
  }();
  return offsets;
}

// Bits of `c` symbols out of `total` under a Huffman code: at least one bit each.
double symbol_bits(double c, double total) {
  if (c <= 0.0) return 0.0;
  return c * std::max(1.0, std::log2(total / c));
}

}  // namespace

double rd_rung_step(double rung) { return std::exp2(rung / kRungsPerOctave + kLowestLog2Step); }

namespace {

// Without branches, so that the loop over a plane runs on vectors: the quotient is clamped
// before the conversion (which then cannot trap), and the threshold and sign pick the index.
// Index 1 needs 0.62 steps and the rounding gives at least 1 from there. Not-a-number gives 0.
inline int32_t quantize(float value, float inverse_step) {
  const float m = std::fabs(value) * inverse_step;
  const int32_t q = int32_t(
      std::min(32767.0f, std::max(0.0f, m + float(0.5 - kReconstructionOffset))));
  const int32_t coded = m >= kRdZeroThreshold ? q : 0;
  return value < 0.0f ? -coded : coded;
}

}  // namespace

int16_t rd_quantize(float value, float step) { return int16_t(quantize(value, 1.0f / step)); }

VEXAL_AVX2_CLONES
bool rd_quantize_all(const float* values, size_t count, float step, int16_t* indices) {
  const float inverse = 1.0f / step;
  for (size_t i = 0; i < count; ++i) indices[i] = int16_t(quantize(values[i], inverse));
  int16_t any = 0;
  for (size_t i = 0; i < count; ++i) any |= indices[i];
  return any != 0;
}

RdBandMeter::RdBandMeter(int record_width, int record_height)
    : record_width_(record_width),
      record_height_(record_height),
      histogram_(2 * (kFineBins + 2)),
      run_changes_(size_t(kRdRungs + 2) * kRunClasses) {}

RdModel::RdModel(int subbands, int bands, int record_width, int record_height)
    : subbands_(subbands),
      bands_(bands),
      terms_(size_t(subbands) * size_t(bands)),
      meter_(record_width, record_height) {}

void RdModel::add_band(int subband, int band, const float* data, int w, int h) {
  add(subband, band, meter_.measure(data, w, h));
}

void RdModel::add(int subband, int band, const BandRates& rates) {
  Term& term = terms_.at(index(subband, band));
  for (int r = 0; r < kRdRungs; ++r) term.bytes[size_t(r)] += rates.bytes[size_t(r)];
  for (int i = 0; i < kFineBins + 2; ++i) term.fine_count[size_t(i)] += rates.fine[size_t(i)];
  term.count += rates.count;
  term.error.clear();
}

BandRates RdBandMeter::measure(const float* data, int w, int h) {
  BandRates out;
  out.bytes.assign(kRdRungs, 0.0);
  std::fill(histogram_.begin(), histogram_.end(), 0u);
  counted_.assign(kRdRungs + 1, 0);
  highest_rung_ = 0;
  rungs_.resize(size_t(record_width_) * size_t(record_height_));
  bins_.resize(size_t(record_width_));
  int pieces = 0;
  const std::array<float, 1024>& table = mantissa_log();
  // The pieces in the file writer's order, each scanned row by row.
  for (int y0 = 0; y0 < h; y0 += record_height_) {
    for (int x0 = 0; x0 < w; x0 += record_width_) {
      const int x1 = std::min(x0 + record_width_, w), y1 = std::min(y0 + record_height_, h);
      // Counting the runs is the costly part of the measure: a piece of many rows is counted
      // on its first quarter or half, which stands for the whole (the parts are alike on
      // average). Only those rows need their zero rungs.
      const int rows = y1 - y0;
      int parts = 1;
      for (int k : {4, 2})
        if (parts == 1 && rows % k == 0 && rows / k >= kPartRows) parts = k;
      int16_t* rung = rungs_.data();
      for (int y = y0; y < y1; ++y) {
        const float* row = data + size_t(y) * size_t(w) + x0;
        if (y - y0 < rows / parts) {
          fine_slots_and_rungs_of(row, x1 - x0, kFineBins, table.data(), bins_.data(), rung);
          rung += x1 - x0;
        } else {
          fine_slots_of(row, x1 - x0, kFineBins, table.data(), bins_.data());
        }
        for (int x = 0; x < x1 - x0; ++x) histogram_[size_t(bins_[size_t(x)])]++;
      }
      count_runs(rungs_.data(), rows / parts * (x1 - x0), parts);
      ++pieces;
    }
  }
  // The largest zero rung, that of the highest fine bin holding a value.
  for (int i = kFineBins + 1; i > 0 && highest_rung_ == 0; --i)
    if (positive()[size_t(i)] + negative()[size_t(i)] > 0)
      highest_rung_ = std::min(((i - 1) >> 2) + 1, kRdRungs);
  out.fine.resize(kFineBins + 2);
  for (int i = 0; i < kFineBins + 2; ++i) out.fine[size_t(i)] = positive()[size_t(i)] + negative()[size_t(i)];
  out.count = double(w) * double(h);
  add_rates(out, pieces);
  // Runs change only at the rungs of values seen and at the ladder's end: those rows are
  // cleared for the next band, not the whole table.
  const auto clear_rows = [this](int from, int to) {
    std::fill(run_changes_.begin() + ptrdiff_t(from) * kRunClasses,
              run_changes_.begin() + ptrdiff_t(to) * kRunClasses, 0);
  };
  clear_rows(0, std::min(highest_rung_ + 2, kRdRungs + 2));
  clear_rows(kRdRungs, kRdRungs + 2);
  return out;
}

// Zero runs of one scanned piece at every rung. A value is zero from its zero rung on, so a
// run is a stretch whose largest zero rung m is below those of the values on either side (or
// the piece's ends); it exists from rung m up to the smaller of theirs. One monotonic stack
// finds each stretch once, when a larger value (or the end) closes it.
//
// `copies` > 1: the values are the first part of the piece, and the runs counted are those of
// the part scanned that many times over, which stands for the whole piece: the runs inside
// the part count `copies` times, its first and last run once each, and the run that joins its
// last zeros to its first `copies` - 1 times.
void RdBandMeter::count_runs(const int16_t* rungs, int n, int copies) {
  if (n <= 0) return;
  // The stack keeps each entry's rung beside its position, so no comparison waits on a
  // second load. Its bottom is a sentinel above every rung, never taken off, at position -1.
  stack_.resize(2 * size_t(n) + 4);
  int32_t* position = stack_.data();
  int32_t* value = position + n + 2;
  int32_t* changes = run_changes_.data();
  const int inner = copies;
  const bool repeated = copies > 1;
  leading_.assign(1, {0, 0});
  trailing_.assign(1, {0, 0});
  position[0] = -1;
  value[0] = kRdRungs + 2;
  int top = 1;
  // A stretch closed by value r (at most kRdRungs) has its largest rung m < r, so its run
  // exists within the ladder, from m up to the smaller of r and the value to its left.
  for (int i = 0; i < n; ++i) {
    const int r = rungs[i];
    counted_[size_t(r)] += inner;
    while (value[top - 1] < r) {
      const int m = value[--top];
      const int end = std::min(value[top - 1], r);
      const int c = run_class(i - position[top - 1] - 1);
      int weight = inner;
      if (top == 1) {  // from the start: the first run, and the leading zeros from rung m on
        weight = 1;
        if (repeated) leading_.emplace_back(m, i);
      }
      changes[m * kRunClasses + c] += weight;
      changes[end * kRunClasses + c] -= weight;
    }
    if (value[top - 1] == r) {
      position[top - 1] = i;  // same stretch as the value on top, which now ends here
      continue;
    }
    position[top] = i;
    value[top++] = r;
  }
  // The end of the piece closes the stretches left, the trailing zeros from rung m on; one
  // whose values never reach zero within the ladder has no run. Doubled, the one from the
  // start (all zeros) is the joined run.
  while (top > 1) {
    const int m = value[--top];
    const int length = top == 1 ? n : n - position[top - 1] - 1;
    if (repeated) {
      trailing_.emplace_back(m, length);
      if (top == 1) leading_.emplace_back(m, n);
    }
    if (m >= kRdRungs || (repeated && top == 1)) continue;
    const int end = std::min(value[top - 1], int(kRdRungs));
    const int c = run_class(length);
    changes[m * kRunClasses + c]++;
    changes[end * kRunClasses + c]--;
  }
  if (repeated) count_joined_runs(copies - 1);
}

// The run that joins the part's last zeros to its first when it is scanned again: at rung t,
// the zeros before the first value above t and those after the last one, each known from
// where the largest value seen from that end grows (`leading_` and `trailing_`: from that
// rung on, that many zeros), so few stretches of rungs have one length each.
void RdBandMeter::count_joined_runs(int weight) {
  int32_t* changes = run_changes_.data();
  size_t a = 0, b = 0;
  int from = 0;
  while (from < kRdRungs) {
    // The lengths at `from`, and the next rung where either changes.
    while (a + 1 < leading_.size() && leading_[a + 1].first <= from) ++a;
    while (b + 1 < trailing_.size() && trailing_[b + 1].first <= from) ++b;
    int to = kRdRungs;
    if (a + 1 < leading_.size()) to = std::min(to, leading_[a + 1].first);
    if (b + 1 < trailing_.size()) to = std::min(to, trailing_[b + 1].first);
    const int length = leading_[a].second + trailing_[b].second;
    if (length > 0) {
      const int c = run_class(length);
      changes[from * kRunClasses + c] += weight;
      changes[to * kRunClasses + c] -= weight;
    }
    from = to;
  }
}

void RdBandMeter::add_rates(BandRates& term, int pieces) {
  // Cumulative signed histograms: cum[i] counts the values of fine bins below i - 1.
  std::array<std::vector<double>, 2> cum;
  const uint32_t* hist[2] = {positive(), negative()};
  for (int s = 0; s < 2; ++s) {
    cum[size_t(s)].assign(kFineBins + 3, 0.0);
    for (int i = 0; i < kFineBins + 2; ++i)
      cum[size_t(s)][size_t(i) + 1] = cum[size_t(s)][size_t(i)] + hist[s][size_t(i)];
  }
  // Values below fine position p (p >= 0) of one sign, spread evenly within a bin.
  auto below = [&](int s, double p) {
    if (p >= kFineBins) return cum[size_t(s)][kFineBins + 1];
    const int i = int(p);
    return cum[size_t(s)][size_t(i) + 1] + (p - i) * double(hist[s][size_t(i) + 1]);
  };
  // Run counts per rung from their changes. Where parts stood for whole pieces, they are
  // scaled by the values not zero at that rung, all of them against those the parts stood
  // for: runs end at such values, and their number is known exactly.
  std::vector<double> nonzero(kRdRungs + 1, 0.0);  // values of each zero rung
  for (int i = 0; i < kFineBins + 2; ++i) {
    const int f = i - 1;
    nonzero[size_t(f < 0 ? 0 : std::min((f >> 2) + 1, kRdRungs))] +=
        double(positive()[size_t(i)]) + double(negative()[size_t(i)]);
  }
  std::array<int64_t, kRunClasses> running{};
  const int top = highest_rung_;  // from here on every index is zero: the band is not coded
  runs_at_.resize(size_t(kRdRungs) * kRunClasses);
  double* runs_at = runs_at_.data();  // filled below `top`, the rungs priced
  std::vector<double> scale(kRdRungs, 1.0);
  double all_above = 0.0, counted_above = 0.0;  // values whose zero rung is above r
  for (int r = kRdRungs - 1; r >= 0; --r) {
    all_above += nonzero[size_t(r) + 1];
    counted_above += double(counted_[size_t(r) + 1]);
    if (counted_above > 0.0) scale[size_t(r)] = all_above / counted_above;
  }
  for (int r = 0; r < top; ++r)
    for (int c = 0; c < kRunClasses; ++c) {
      running[size_t(c)] += run_changes_[size_t(r) * kRunClasses + size_t(c)];
      runs_at[size_t(r) * kRunClasses + size_t(c)] = double(running[size_t(c)]) * scale[size_t(r)];
    }
  const std::array<double, 257>& offsets = boundary_offsets();
  const double coefficients = cum[0][kFineBins + 2] + cum[1][kFineBins + 2];
  const int bottom = std::max(0, top - kModelledRungs);
  // Bytes change smoothly along the ladder: they are priced at every kPricedEvery-th rung and
  // the last, and interpolated between.
  auto bytes_at = [&](int r) {
    double counts[2][kValueRange + 3] = {};
    double total = 0.0, extra_bits = 0.0, symbols = 0.0;
    for (int s = 0; s < 2; ++s) {
      double previous = below(s, kFinePerRung * r);
      for (int q = 1; q <= kValueRange + 1; ++q) {
        const double next = below(s, kFinePerRung * r + offsets[size_t(q) + 1]);
        counts[s][q] = next - previous;
        previous = next;
      }
      const double wide = below(s, kFinePerRung * r + offsets[256]);
      counts[s][kValueRange + 1] = wide - below(s, kFinePerRung * r + offsets[kValueRange + 1]);
      counts[s][kValueRange + 2] = cum[size_t(s)][kFineBins + 2] - wide;
      extra_bits += 8.0 * counts[s][kValueRange + 1] + 16.0 * counts[s][kValueRange + 2];
      for (int q = 1; q <= kValueRange + 2; ++q) total += counts[s][q];
    }
    const double* runs = runs_at + size_t(r) * kRunClasses;
    for (int c = 1; c < kRunClasses; ++c) total += runs[c];
    extra_bits += 8.0 * runs[kRun8Class] + 16.0 * runs[kRun16Class];
    double bits = extra_bits;
    for (int s = 0; s < 2; ++s)
      for (int q = 1; q <= kValueRange + 2; ++q) {
        bits += symbol_bits(counts[s][q], total);
        symbols += counts[s][q] >= 0.5 ? 1.0 : 0.0;
      }
    for (int c = 1; c < kRunClasses; ++c) {
      bits += symbol_bits(runs[c], total);
      symbols += runs[c] > 0 ? 1.0 : 0.0;
    }
    // Stuffed bytes after 0xFF, one marker and half a byte of padding per piece, and the
    // block's header: table (marker, 16 lengths, values), step, piece size, piece offsets.
    // Huffman codes spend about half a percent more than the entropy.
    return bits * kHuffmanExcess / 8.0 * (1.0 + 1.0 / 256.0) + 2.5 * pieces +
           (2 + 16 + symbols + 4 + 8 + 4.0 * pieces);
  };
  double bottom_bytes = 0.0;
  for (int r = bottom, previous = -1; r < top;) {
    const double bytes = bytes_at(r);
    term.bytes[size_t(r)] += bytes;
    if (r == bottom) bottom_bytes = bytes;
    if (previous >= 0) {
      const double from = term.bytes[size_t(previous)];
      for (int i = previous + 1; i < r; ++i)
        term.bytes[size_t(i)] += from + (bytes - from) * double(i - previous) / (r - previous);
    }
    previous = r;
    r = r + 1 == top ? top : std::min(r + kPricedEvery, top - 1);
  }
  for (int r = 0; r < bottom; ++r)
    term.bytes[size_t(r)] += bottom_bytes + coefficients * double(bottom - r) / kRungsPerOctave / 8.0;
}

double RdModel::squared_error(int k, int b, int j) const {
  const Term& t = terms_.at(index(k, b));
  if (t.error.empty()) {
    // Per bin: the squared error of its values as zeros (prefix sums of it), their mean and
    // the spread of a bin's width.
    std::vector<double> zeroed(kFineBins + 3, 0.0), mean(kFineBins + 2), spread(kFineBins + 2);
    for (int i = 0; i < kFineBins + 2; ++i) {
      const int f = i - 1;
      const double low = f < 0 ? 0.0 : fine_edge(f), high = fine_edge(f + 1);
      zeroed[size_t(i) + 1] =
          zeroed[size_t(i)] + t.fine_count[size_t(i)] * (low * low + low * high + high * high) / 3.0;
      mean[size_t(i)] = 0.5 * (low + high);
      spread[size_t(i)] = (high - low) * (high - low) / 12.0;
    }
    std::vector<int> filled;  // the bins holding values
    for (int i = 0; i < kFineBins + 2; ++i)
      if (t.fine_count[size_t(i)] > 0.0) filled.push_back(i);
    t.error.assign(kRdRungs, 0.0);
    for (int r = 0; r < kRdRungs; ++r) {
      const double step = rd_rung_step(r);
      const double d = step * (0.5 - kReconstructionOffset);
      const int first = std::min(kFinePerRung * r + 1, kFineBins + 2);  // below: zeros
      double e = zeroed[size_t(first)];
      for (auto it = std::lower_bound(filled.begin(), filled.end(), first); it != filled.end(); ++it) {
        const int i = *it;
        const double n = t.fine_count[size_t(i)];
        // Values spread evenly over the bin's width.
        const double m = mean[size_t(i)];
        if (m * 0.011 < 0.25 * step) {
          const double q = std::max(1.0, std::floor(m / step + d / step));
          const double err = m - (q + kReconstructionOffset) * step;
          e += n * (err * err + spread[size_t(i)]);
        } else {  // the bin spans many steps: the error is spread evenly over a step, whose
                  // values all come back at its reconstruction, the middle of the interval
          e += n * step * step / 12.0;
        }
      }
      t.error[size_t(r)] = e;
    }
  }
  return t.error[size_t(j)];
}
