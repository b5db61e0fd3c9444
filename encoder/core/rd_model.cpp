#include "encoder/core/rd_model.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "encoder/format/symbol_alphabet.h"

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

int run_class(int length) {
  if (length <= kRunRange) return length;
  return length <= 255 ? kRun8Class : kRun16Class;
}

// The fine bin of a magnitude (64 per octave, 0 = the lowest rung's zero threshold), -1 below
// the ladder and kFineBins above it.
int fine_bin(float magnitude, int fine_bins) {
  if (!(magnitude > 0.0f)) return -1;
  const double u = (std::log2(double(magnitude) / kRdZeroThreshold) - kLowestLog2Step) *
                   kRungsPerOctave * kFinePerRung;
  if (u < 0.0) return -1;
  return u >= fine_bins ? fine_bins : int(u);
}

// The first rung at which a value of fine bin f quantises to zero.
int16_t zero_rung(int f) {
  if (f < 0) return 0;
  return int16_t(std::min(f / kFinePerRung + 1, kRdRungs));
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

int16_t rd_quantize(float value, float step) {
  const float a = std::fabs(value) / step;
  if (!(a >= kRdZeroThreshold)) return 0;
  const float q = std::clamp(std::floor(a + float(0.5 - kReconstructionOffset)), 1.0f, 32767.0f);
  return int16_t(value < 0.0f ? -q : q);
}

bool rd_quantize_all(const float* values, size_t count, float step, int16_t* indices) {
  bool any = false;
  for (size_t i = 0; i < count; ++i) {
    indices[i] = rd_quantize(values[i], step);
    any = any || indices[i] != 0;
  }
  return any;
}

RdModel::RdModel(int subbands, int bands, int record_width, int record_height)
    : subbands_(subbands),
      bands_(bands),
      record_width_(record_width),
      record_height_(record_height),
      terms_(size_t(subbands) * size_t(bands)),
      positive_(kFineBins + 2),
      negative_(kFineBins + 2),
      runs_(size_t(kRdRungs) * kRunClasses) {}

void RdModel::add_band(int subband, int band, const float* data, int w, int h) {
  Term& term = terms_.at(index(subband, band));
  std::fill(positive_.begin(), positive_.end(), 0u);
  std::fill(negative_.begin(), negative_.end(), 0u);
  std::fill(runs_.begin(), runs_.end(), 0u);
  lowest_rung_ = kRdRungs;
  highest_rung_ = 0;
  std::vector<int16_t> rungs;
  rungs.reserve(size_t(record_width_) * size_t(record_height_));
  int pieces = 0;
  // The pieces in the file writer's order, each scanned row by row.
  for (int y0 = 0; y0 < h; y0 += record_height_) {
    for (int x0 = 0; x0 < w; x0 += record_width_) {
      const int x1 = std::min(x0 + record_width_, w), y1 = std::min(y0 + record_height_, h);
      rungs.clear();
      for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
          const float v = data[size_t(y) * size_t(w) + size_t(x)];
          const float m = std::fabs(v);
          const int f = fine_bin(m, kFineBins);
          (v < 0.0f ? negative_ : positive_)[size_t(f + 1)]++;
          term.fine_count[size_t(f + 1)] += 1.0;
          term.fine_abs[size_t(f + 1)] += m;
          term.fine_squares[size_t(f + 1)] += double(m) * m;
          rungs.push_back(zero_rung(f));
        }
      }
      count_runs(rungs.data(), int(rungs.size()));
      ++pieces;
    }
  }
  term.count += double(w) * double(h);
  add_rates(term, pieces);
}

// Zero runs of one scanned piece at every rung: a value is zero from its zero rung on, so
// going up the ladder, values turn to zero one by one and join their neighbouring runs.
void RdModel::count_runs(const int16_t* rungs, int n) {
  if (n <= 0) return;
  order_.resize(size_t(n));
  first_.assign(kRdRungs + 2, 0);
  for (int i = 0; i < n; ++i) first_[size_t(rungs[i]) + 1]++;
  for (int r = 0; r <= kRdRungs; ++r) first_[size_t(r) + 1] += first_[size_t(r)];
  std::vector<int32_t> next(first_.begin(), first_.end());
  for (int i = 0; i < n; ++i) order_[size_t(next[size_t(rungs[i])]++)] = i;
  run_end_.resize(size_t(n));
  run_start_.resize(size_t(n));
  zero_.assign(size_t(n), 0);
  int lowest = kRdRungs, highest = 0;
  for (int i = 0; i < n; ++i) lowest = std::min<int>(lowest, rungs[i]), highest = std::max<int>(highest, rungs[i]);
  lowest_rung_ = std::min(lowest_rung_, lowest);
  highest_rung_ = std::max(highest_rung_, highest);
  std::array<int32_t, kRunClasses> current{};
  int zeros = 0;
  for (int r = lowest; r < kRdRungs; ++r) {
    for (int p = first_[size_t(r)]; p < first_[size_t(r) + 1]; ++p) {
      const int i = order_[size_t(p)];
      int s = i, e = i;
      if (i > 0 && zero_[size_t(i) - 1]) {
        s = run_start_[size_t(i) - 1];
        current[size_t(run_class(i - s))]--;
      }
      if (i + 1 < n && zero_[size_t(i) + 1]) {
        e = run_end_[size_t(i) + 1];
        current[size_t(run_class(e - i))]--;
      }
      current[size_t(run_class(e - s + 1))]++;
      run_end_[size_t(s)] = e;
      run_start_[size_t(e)] = s;
      zero_[size_t(i)] = 1;
      ++zeros;
    }
    uint32_t* row = runs_.data() + size_t(r) * kRunClasses;
    if (zeros == n) {  // one run of the whole piece from here on
      for (int q = r; q < kRdRungs; ++q) runs_[size_t(q) * kRunClasses + size_t(run_class(n))]++;
      break;
    }
    for (int c = 1; c < kRunClasses; ++c) row[c] += uint32_t(current[size_t(c)]);
  }
}

void RdModel::add_rates(Term& term, int pieces) {
  // Cumulative signed histograms: cum[i] counts the values of fine bins below i - 1.
  std::array<std::vector<double>, 2> cum;
  const std::vector<uint32_t>* hist[2] = {&positive_, &negative_};
  for (int s = 0; s < 2; ++s) {
    cum[size_t(s)].assign(kFineBins + 3, 0.0);
    for (int i = 0; i < kFineBins + 2; ++i)
      cum[size_t(s)][size_t(i) + 1] = cum[size_t(s)][size_t(i)] + (*hist[s])[size_t(i)];
  }
  // Values below fine position p (p >= 0) of one sign, spread evenly within a bin.
  auto below = [&](int s, double p) {
    if (p >= kFineBins) return cum[size_t(s)][kFineBins + 1];
    const int i = int(p);
    return cum[size_t(s)][size_t(i) + 1] + (p - i) * double((*hist[s])[size_t(i) + 1]);
  };
  const std::array<double, 257>& offsets = boundary_offsets();
  const double coefficients = cum[0][kFineBins + 2] + cum[1][kFineBins + 2];
  const int top = highest_rung_;  // from here on every index is zero: the band is not coded
  const int bottom = std::max(0, top - kModelledRungs);
  double bottom_bytes = 0.0;
  for (int r = bottom; r < top; ++r) {
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
    const uint32_t* runs = runs_.data() + size_t(r) * kRunClasses;
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
    const double bytes = bits / 8.0 * (1.0 + 1.0 / 256.0) + 2.5 * pieces +
                         (2 + 16 + symbols + 4 + 8 + 4.0 * pieces);
    term.bytes[size_t(r)] += bytes;
    if (r == bottom) bottom_bytes = bytes;
  }
  for (int r = 0; r < bottom; ++r)
    term.bytes[size_t(r)] += bottom_bytes + coefficients * double(bottom - r) / kRungsPerOctave / 8.0;
}

double RdModel::squared_error(int k, int b, int j) const {
  const Term& t = terms_.at(index(k, b));
  if (t.error.empty()) {
    t.error.assign(kRdRungs, 0.0);
    for (int r = 0; r < kRdRungs; ++r) {
      const double step = rd_rung_step(r);
      const double d = step * (0.5 - kReconstructionOffset);
      double e = 0.0;
      for (int i = 0; i < kFineBins + 2; ++i) {
        const double n = t.fine_count[size_t(i)];
        if (n <= 0.0) continue;
        const int f = i - 1;
        if (f < kFinePerRung * r) {  // below the zero threshold
          e += t.fine_squares[size_t(i)];
          continue;
        }
        const double mean = t.fine_abs[size_t(i)] / n;
        const double spread = std::max(0.0, t.fine_squares[size_t(i)] / n - mean * mean);
        if (mean * 0.011 < 0.25 * step) {
          const double q = std::max(1.0, std::floor(mean / step + d / step));
          const double err = mean - (q + kReconstructionOffset) * step;
          e += n * (err * err + spread);
        } else {  // the bin spans many steps: the error is spread evenly over a step
          e += n * step * step * (1.0 / 12.0 + kReconstructionOffset * kReconstructionOffset);
        }
      }
      t.error[size_t(r)] = e;
    }
  }
  return t.error[size_t(j)];
}
