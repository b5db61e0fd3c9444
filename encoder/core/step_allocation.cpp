#include "encoder/core/step_allocation.h"

#include <cmath>

double CoefficientStatistics::variance() const {
  double v = 0.0;
  if (count > 0) {
    const double mean = sum / double(count);
    v = sum_squares / double(count) - mean * mean;
  }
  return v > 0.0 ? v : 1e-9;
}

namespace {

// Level of subband j in the dyadic tree (the coarsest LL and its details have depth nlev).
int level_of(int nlev, int subband) { return subband == 0 ? nlev : nlev - (subband - 1) / 3; }

struct Term {
  float share_inverse;  // 1 / n: the fraction of all coefficients in this subband and band
  float weight;
  double variance;
  bool active = true;
};

float band_weight(const StepAllocation& p, int band) {
  if (p.equal_band_weights) return 1.0f;
  if (band == 0) return p.weight;
  if (band == 3) return p.fourth_band_weight;
  return 1.0f;
}

std::vector<Term> make_terms(const StepAllocation& p, const std::vector<double>& variances) {
  const int subbands = 3 * p.nlev + 1;
  std::vector<Term> terms;
  for (int j = 0; j < subbands; ++j) {
    const int depth = level_of(p.nlev, j);
    const double n = double(p.bands) * std::ldexp(1.0, 2 * depth);
    for (int b = 0; b < p.bands; ++b) {
      const double v = variances[size_t(j) * p.bands + b];
      terms.push_back({float(1.0 / n), band_weight(p, b) * std::pow(p.gamma, float(depth)),
                       v > 0.0 ? v : 1e-9});
    }
  }
  return terms;
}

// The water level D over the active terms, or a negative value when none is active.
float water_level(const std::vector<Term>& terms, float rate) {
  float f = 0.0f;
  double product = 1.0;
  for (const Term& t : terms) {
    if (!t.active) continue;
    f += t.share_inverse;
    product *= std::pow(double(t.weight) * t.weight * t.variance, double(t.share_inverse));
  }
  if (f <= 0.0f) return -1.0f;
  const double g = std::pow(std::sqrt(product), 1.0 / f);
  const float c = float(5.0 * std::exp2(-double(rate) / f));
  return float(g * c);
}

}  // namespace

std::vector<float> allocate_steps(const StepAllocation& p, const std::vector<double>& variances,
                                  int k, bool bits) {
  std::vector<Term> terms = make_terms(p, variances);
  std::vector<float> steps(terms.size(), 0.0f);
  for (;;) {
    const float d = water_level(terms, p.rate);
    if (d < 0.0f) break;  // only reachable in mode 1, where the last steps stand
    for (size_t i = 0; i < terms.size(); ++i)
      steps[i] = (terms[i].active || p.mode == 1) ? d / terms[i].weight : 0.0f;
    bool cleared = false;
    for (size_t i = 0; i < terms.size(); ++i) {
      if (!terms[i].active || (p.mode == 0 && i == 0)) continue;
      if (5.0 * std::sqrt(terms[i].variance) < steps[i]) {
        terms[i].active = false;
        cleared = true;
      }
    }
    if (!cleared) break;
  }
  std::vector<float> out(size_t(p.bands), 0.0f);
  for (int b = 0; b < p.bands; ++b) {
    const size_t i = size_t(k) * p.bands + b;
    if (!bits) {
      out[b] = steps[i];
    } else if (steps[i] != 0.0f) {
      out[b] = float(std::log(5.0 * std::sqrt(terms[i].variance) / steps[i]) / std::log(2.0));
    }
  }
  return out;
}
