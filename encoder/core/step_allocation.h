// Step sizes for one subband record: reverse water-filling over the visually weighted variances
// of every subband and band, with a 5-sigma cut-off that leaves flat subbands uncoded.
#pragma once

#include <cstdint>
#include <vector>

// Running statistics of the coefficients of one subband of one band of one block.
struct CoefficientStatistics {
  int64_t count = 0;
  double sum = 0.0;
  double sum_squares = 0.0;

  void add(double value) {
    ++count;
    sum += value;
    sum_squares += value * value;
  }
  void add(const CoefficientStatistics& other) {
    count += other.count;
    sum += other.sum;
    sum_squares += other.sum_squares;
  }
  // Population variance; never below 1e-9 so that the allocation can take its logarithm.
  double variance() const;
};

struct StepAllocation {
  int nlev = 0;
  int bands = 1;
  float rate = 0.4f;  // bits per coefficient over all bands
  float weight = 4.0f;  // intensity weight of band 0
  float gamma = 2.0f;  // spatial frequency weight
  float fourth_band_weight = 0.25f;
  // Bands coded separately (no luminance band): every band gets weight 1.
  bool equal_band_weights = false;
  // 0: subbands below the cut-off are left uncoded. 1 (second of two chained encodings): every
  // subband is coded; the cut-off only decides which subbands enter the water level.
  int mode = 0;
};

// `variances` is indexed subband * bands + band over all 3 nlev + 1 subbands. Returns the
// `bands` step sizes of subband k (0 = band not coded), or with `bits` the bits per coefficient
// log2(5 sigma / step) (0 for an uncoded band).
std::vector<float> allocate_steps(const StepAllocation& params,
                                  const std::vector<double>& variances, int k, bool bits);
