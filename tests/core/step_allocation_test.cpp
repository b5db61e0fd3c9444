#include "encoder/core/step_allocation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

int depth_of(int nlev, int j) { return j == 0 ? nlev : nlev - (j - 1) / 3; }

// Variances of synthetic Gaussian subbands: measured from drawn samples, so that the test goes
// through the same statistics the encoder gathers.
std::vector<double> gaussian_variances(int nlev, int bands, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<double> v;
  for (int j = 0; j < 3 * nlev + 1; ++j) {
    for (int b = 0; b < bands; ++b) {
      // Coarser subbands carry more energy, as in images.
      const double sigma = 2.0 * std::pow(1.8, depth_of(nlev, j)) * (j == 0 ? 20 : 1) /
                           (b == 0 ? 1.0 : 2.0 + b);
      std::normal_distribution<double> normal(3.0, sigma);
      CoefficientStatistics s;
      for (int i = 0; i < 1000; ++i) s.add(normal(rng));
      v.push_back(s.variance());
    }
  }
  return v;
}

// Bits over all subbands and bands, each weighted by its share of the coefficients.
double total_rate(const StepAllocation& p, const std::vector<double>& v) {
  double rate = 0.0;
  for (int j = 0; j < 3 * p.nlev + 1; ++j) {
    const std::vector<float> bits = allocate_steps(p, v, j, true);
    for (int b = 0; b < p.bands; ++b)
      rate += bits[b] / (p.bands * std::ldexp(1.0, 2 * depth_of(p.nlev, j)));
  }
  return rate;
}

TEST(StepAllocation, HitsTheRateTargetOnGaussianSubbands) {
  for (int nlev : {1, 3, 5}) {
    for (int bands : {1, 3, 4}) {
      for (float rate : {0.1f, 0.4f, 1.0f, 3.0f}) {
        StepAllocation p;
        p.nlev = nlev;
        p.bands = bands;
        p.rate = rate;
        const std::vector<double> v = gaussian_variances(nlev, bands, nlev * 10 + bands);
        EXPECT_NEAR(total_rate(p, v), rate, 1e-3 * rate + 1e-5)
            << "nlev " << nlev << " bands " << bands << " rate " << rate;
      }
    }
  }
}

TEST(StepAllocation, StepsFollowTheWeightsAndTheCutOff) {
  StepAllocation p;
  p.nlev = 3;
  p.rate = 0.4f;
  std::vector<double> v(10, 100.0);
  // With unit weights and equal variances, every subband gets the same step.
  p.weight = 1.0f;
  p.gamma = 1.0f;
  const float d = allocate_steps(p, v, 0, false)[0];
  for (int j = 1; j < 10; ++j) EXPECT_FLOAT_EQ(allocate_steps(p, v, j, false)[0], d);
  // Default weights: finer subbands get steps larger by gamma per level.
  p.weight = 4.0f;
  p.gamma = 2.0f;
  EXPECT_NEAR(allocate_steps(p, v, 7, false)[0] / allocate_steps(p, v, 4, false)[0], 2.0, 1e-5);

  // A nearly flat finest subband falls below its step: dropped in mode 0 ...
  v[9] = 1e-4;
  const float dropped = allocate_steps(p, v, 9, false)[0];
  EXPECT_EQ(dropped, 0.0f);
  EXPECT_EQ(allocate_steps(p, v, 9, true)[0], 0.0f);
  // ... but still coded in mode 1, with the step of the water level of the others.
  p.mode = 1;
  const float kept = allocate_steps(p, v, 9, false)[0];
  EXPECT_GT(kept, 0.0f);
  EXPECT_NEAR(kept / allocate_steps(p, v, 8, false)[0], 1.0, 1e-5);
  // The active subbands alone still meet the rate.
  p.mode = 0;
  EXPECT_NEAR(total_rate(p, v), p.rate, 1e-4);
}

TEST(StepAllocation, LowestSubbandIsNeverDroppedInMode0) {
  StepAllocation p;
  p.nlev = 2;
  p.rate = 0.01f;
  std::vector<double> v(7, 1e6);
  v[0] = 1e-12;  // below the floor: treated as 1e-9
  EXPECT_GT(allocate_steps(p, v, 0, false)[0], 0.0f);
}

}  // namespace
