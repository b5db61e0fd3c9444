#include "codec/quantizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "codec/sq_inv.h"

namespace {

std::vector<int16_t> quantize(const std::vector<float>& x, float& step) {
  step = quantizer_step(x.data(), x.size(), step);
  std::vector<int16_t> q(x.size());
  quantize_indices(x.data(), x.size(), step, q.data());
  return q;
}

TEST(Quantizer, ReconstructionErrorIsBoundedByTheStep) {
  std::mt19937 rng(5);
  for (float step : {0.01f, 0.7f, 3.0f, 250.0f}) {
    std::normal_distribution<float> normal(0.0f, 40.0f);
    std::vector<float> x(20000);
    for (float& v : x) v = normal(rng);
    float used = step;
    const std::vector<int16_t> q = quantize(x, used);
    std::vector<float> back(x.size());
    sq_inv(q.data(), q.size(), used, back.data());
    for (size_t i = 0; i < x.size(); ++i) {
      // Dead zone: |error| < step/2 around 0, else the reconstruction sits 0.06 step below the
      // cell's middle, so the error stays under 0.56 step (plus float rounding).
      ASSERT_LE(std::fabs(back[i] - x[i]), 0.5601f * used + 1e-4f * std::fabs(x[i]))
          << "step " << used << " x " << x[i] << " index " << q[i];
      if (q[i] != 0) {
        ASSERT_EQ(std::signbit(back[i]), std::signbit(x[i]));
      }
    }
  }
}

TEST(Quantizer, DeadZoneEdgesAndStepEnlargement) {
  float step = 2.0f;
  EXPECT_EQ(quantize({0.999f, -0.999f, 1.0f, -1.0f, 3.0f, 3.01f, 0.0f}, step),
            (std::vector<int16_t>{0, 0, 1, -1, 2, 2, 0}));
  EXPECT_EQ(step, 2.0f);

  step = 1.0f;
  const std::vector<int16_t> q = quantize({1e6f, -5e5f, 0.2f}, step);
  EXPECT_FLOAT_EQ(step, 1e6f * 0.000030525032f);
  EXPECT_EQ(q[0], 32760);
  EXPECT_NEAR(q[1], -16380, 1);
  EXPECT_EQ(q[2], 0);
  // Not-a-number takes no part in the largest magnitude, wherever it stands.
  for (const float nan : {std::nanf(""), -std::nanf("")}) {
    std::vector<float> v(37, 0.5f);
    v[3] = -1e6f, v[20] = nan;
    EXPECT_FLOAT_EQ(quantizer_step(v.data(), v.size(), 1.0f), 1e6f * 0.000030525032f);
    v[3] = 0.5f;
    EXPECT_EQ(quantizer_step(v.data(), v.size(), 1.0f), 1.0f);
  }

  step = 0.0f;  // an uncoded band
  EXPECT_EQ(quantize({5.0f, -7.0f}, step), (std::vector<int16_t>{0, 0}));
  std::vector<float> out(2, 9.0f);
  const int16_t idx[2] = {3, -3};
  sq_inv(idx, 2, 0.0f, out.data());
  EXPECT_EQ(out, (std::vector<float>{0.0f, 0.0f}));
}

// The quantiser runs without branches; every index must be the one of the plain rule, also
// for values far beyond the index range, infinities and not-a-number.
TEST(Quantizer, IndicesFollowThePlainRuleEverywhere) {
  auto plain = [](float x, float step) {
    const float d = step / 2.0f;
    float q = 0.0f;
    if (x >= d) q = std::trunc((x - d) / step) + 1.0f;
    if (x <= -d) q = std::trunc((x + d) / step) - 1.0f;
    return int16_t(std::clamp(q, -32767.0f, 32767.0f));
  };
  std::mt19937 random(7);
  std::uniform_real_distribution<float> spread(-2e5f, 2e5f);
  for (float step : {0.37f, 1.0f, 3.5f, 1e-3f}) {
    std::vector<float> x{0.0f, -0.0f, step / 2, -step / 2, std::nextafter(step / 2, 0.0f),
                         32766.5f * step, 32767.5f * step, -32768.5f * step, 1e30f, -1e30f,
                         INFINITY, -INFINITY, NAN};
    for (int i = 0; i < 4000; ++i) x.push_back(spread(random) * step / 8);
    std::vector<int16_t> q(x.size());
    quantize_indices(x.data(), x.size(), step, q.data());
    for (size_t i = 0; i < x.size(); ++i) ASSERT_EQ(q[i], plain(x[i], step)) << x[i] << " " << step;
  }
}

}  // namespace
