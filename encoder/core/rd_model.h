// Rate and distortion of every subband and band as functions of one quantiser step, measured
// from the coefficients in a single pass so that the steps can be chosen for the whole image
// before anything is coded.
//
// Steps come from a fixed logarithmic ladder (16 rungs per octave). For each record and band,
// the model keeps a histogram of the magnitudes (64 bins per octave) and the lengths of the
// zero runs that each rung would produce in the coder's scan order (128 x 128 pieces, row by
// row; counted on the first quarter of each piece, scanned four times, and scaled by the values not
// zero at each rung, which the histogram counts exactly); from those it estimates the bytes
// the block's Huffman table, header and records would take at every fourth rung (and the last;
// interpolated between), and adds them to
// the subband's total. The squared error is computed from
// one magnitude histogram per subband and band at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

// The rungs of the step ladder: step(j) = 2^(j / 16 - 4) for j = 0 .. kRdRungs - 1.
constexpr int kRdRungs = 256;
double rd_rung_step(double rung);

// The quantiser of this mode, which the model predicts: zero below kRdZeroThreshold x step (a
// dead zone wider than the default's, since index 1 is reconstructed at 1.06 steps and a small
// value costs fewer bits and hardly more error as zero), otherwise the index whose
// reconstruction (index + 0.06) x step is nearest.
constexpr float kRdZeroThreshold = 0.62f;
int16_t rd_quantize(float value, float step);
// Quantises `count` values; returns true when any index is not zero.
bool rd_quantize_all(const float* values, size_t count, float step, int16_t* indices);

constexpr int kRdFineBins = 1024;  // magnitude bins, 1/64 octave each, from rung 0's threshold

// What one record's band adds to the model: its estimated bytes at every rung and how many of
// its magnitudes fall in each fine bin (0: below the ladder, kRdFineBins + 1: above).
struct BandRates {
  std::vector<double> bytes;
  std::vector<uint32_t> fine;
  double count = 0.0;
};

// Measures record bands; holds the scratch space, so each thread needs its own.
class RdBandMeter {
 public:
  // `record_width` x `record_height`: the pieces the file writer cuts each block into.
  RdBandMeter(int record_width, int record_height);
  // `data` is the band's w x h row-major plane.
  BandRates measure(const float* data, int w, int h);

 private:
  static constexpr int kFineBins = kRdFineBins;
  void count_runs(const int16_t* rungs, int n, int copies);
  void count_joined_runs(int weight);
  void add_rates(BandRates& rates, int pieces);

  int record_width_, record_height_;
  // Scratch of the band in hand: the signed fine histogram, run-length class changes per rung.
  std::vector<uint32_t> histogram_;  // positive values' bins, then negative values'
  const uint32_t* positive() const { return histogram_.data(); }
  const uint32_t* negative() const { return histogram_.data() + kFineBins + 2; }
  // (rung * classes + class): runs starting - ending there; all zero between bands
  std::vector<int32_t> run_changes_;
  std::vector<double> runs_at_;  // runs per rung and class
  int highest_rung_ = 0;
  std::vector<int16_t> rungs_;
  std::vector<int32_t> bins_;  // histogram slots of one row
  std::vector<int32_t> stack_;
  std::vector<int64_t> counted_;  // values per zero rung that the counted runs stand for
  std::vector<std::pair<int, int>> leading_, trailing_;  // (rung, zeros) from the start / end
};

class RdModel {
 public:
  // `record_width` x `record_height`: the pieces the file writer cuts each block into.
  RdModel(int subbands, int bands, int record_width, int record_height);

  // Adds one record's band: `data` is its w x h row-major plane.
  void add_band(int subband, int band, const float* data, int w, int h);
  // Adds one record's band measured elsewhere (records must come in a fixed order for the
  // same choice of steps every time).
  void add(int subband, int band, const BandRates& rates);

  int subbands() const { return subbands_; }
  int bands() const { return bands_; }
  // Estimated coded bytes of subband k, band b at rung j over the whole image (0 when every
  // index would be zero, in which case the band is left uncoded).
  double bytes(int k, int b, int j) const { return terms_[index(k, b)].bytes[size_t(j)]; }
  // Sum of squared coefficient errors of subband k, band b at rung j (computed on first use).
  double squared_error(int k, int b, int j) const;
  // Coefficients of subband k, band b seen so far.
  double count(int k, int b) const { return terms_[index(k, b)].count; }

 private:
  static constexpr int kFineBins = kRdFineBins;
  struct Term {
    std::vector<double> bytes = std::vector<double>(kRdRungs, 0.0);
    std::vector<double> fine_count = std::vector<double>(kFineBins + 2, 0.0);
    double count = 0.0;
    mutable std::vector<double> error;  // per rung, filled by squared_error
  };
  size_t index(int k, int b) const { return size_t(k) * size_t(bands_) + size_t(b); }

  int subbands_, bands_;
  std::vector<Term> terms_;
  RdBandMeter meter_;
};
