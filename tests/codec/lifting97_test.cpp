// The 9/7 lifting: known responses, forward then inverse, and the many-lane form used for the
// vertical passes against the single-line form.
#include "codec/lifting97.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "support/wavelet_reference.h"

namespace {

std::vector<float> random_line(int n, uint32_t seed) {
  std::vector<float> v(n);
  for (float& x : v) {
    seed = seed * 1664525u + 1013904223u;
    x = static_cast<float>((seed >> 8) % 25600) / 100.0f;
  }
  return v;
}

constexpr LineEnd kZero = LineEnd::kZero;
constexpr LineEnd kSym = LineEnd::kSymmetric;

TEST(Lifting97, ImpulseResponsesAreTheCdf97Filters) {
  // Published CDF 9/7 analysis filters normalised to a low-pass gain of sqrt(2); the lifting
  // constants are rounded to six decimals, hence the tolerance.
  const double low[5] = {0.852698679, 0.377402856, -0.110624404, -0.023849465, 0.037828456};
  const double high[4] = {0.788485616, -0.418092273, -0.040689418, 0.064538883};
  auto t = wavelet_reference::taps();
  for (int k = 0; k < 5; ++k) EXPECT_NEAR(t.low[4 + k], low[k], 3e-6) << k;
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(t.high[3 + k], high[k], 3e-6) << k;

  // The float lifting on an impulse far from both ends gives the same responses.
  for (int start : {0, 1}) {
    for (int k = -4; k <= 4; ++k) {
      std::vector<float> line(40, 0.0f);
      line[20 + k] = 1.0f;
      lift97_forward(line.data(), start, 40, kZero, kZero);
      bool even = (20 + start) % 2 == 0;
      double want = even ? t.low[k + 4] : (std::abs(k) <= 3 ? t.high[k + 3] : 0.0);
      EXPECT_NEAR(line[20], want, 1e-7) << "start " << start << " k " << k;
    }
  }
}

TEST(Lifting97, ConstantLineGivesScaledLowAndNearZeroHigh) {
  for (int start : {0, 1}) {
    for (int n : {8, 9, 31}) {
      std::vector<float> line(n, 100.0f);
      lift97_forward(line.data(), start, n, kSym, kSym);
      for (int i = 0; i < n; ++i) {
        if ((start + i) % 2 == 0) {
          EXPECT_NEAR(line[i], 141.4212, 2e-3) << i;
        } else {
          EXPECT_NEAR(line[i], 0.0, 1e-4) << i;
        }
      }
    }
  }
}

TEST(Lifting97, SymmetricEndsMatchWholeLineReference) {
  auto t = wavelet_reference::taps();
  for (int n : {6, 7, 8, 13, 40, 41}) {
    std::vector<float> line = random_line(n, n);
    std::vector<double> want = wavelet_reference::analyse({line.begin(), line.end()}, t);
    lift97_forward(line.data(), 0, n, kSym, kSym);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(line[i], want[i], 2e-4) << "n " << n << " i " << i;
  }
}

TEST(Lifting97, ForwardThenInverseRestoresLine) {
  for (int start : {0, 1, 6, 7}) {
    for (int n : {2, 3, 5, 6, 9, 16, 33}) {
      std::vector<float> x = random_line(n, 100 + n + start);
      std::vector<float> y = x;
      lift97_forward(y.data(), start, n, kSym, kSym);
      lift97_inverse(y.data(), start, n, kSym, kSym);
      for (int i = 0; i < n; ++i) EXPECT_NEAR(y[i], x[i], 1e-3) << start << " " << n << " " << i;
    }
  }
  // A zero end is exact when the line carries the four zeros the filters reach into.
  for (int start : {0, 1}) {
    std::vector<float> x(30, 0.0f);
    std::vector<float> inner = random_line(22, 5);
    std::copy(inner.begin(), inner.end(), x.begin() + 4);
    std::vector<float> y = x;
    lift97_forward(y.data(), start + 20, 30, kZero, kZero);
    lift97_inverse(y.data(), start + 20, 30, kZero, kZero);
    for (int i = 0; i < 30; ++i) EXPECT_NEAR(y[i], x[i], 1e-3) << i;
  }
}

// The lanes are lifted in one sweep down the rows, the single lines step by step: short and
// long lines, both parities of start and every kind of end must agree bit for bit.
TEST(Lifting97, LanesEqualSingleLinesBitForBit) {
  const int lanes = 5, stride = 7;
  for (int n : {2, 3, 5, 6, 7, 8, 9, 10, 11, 19, 40}) {
    for (int start : {0, 1, 3, 4}) {
      for (LineEnd near : {kZero, kSym}) {
        for (LineEnd far : {kZero, kSym}) {
          std::vector<float> grid =
              random_line(n * stride, n * 16 + start * 4 + int(near) * 2 + int(far));
          std::vector<float> forward = grid;
          lift97_forward_lanes(forward.data(), start, n, stride, lanes, near, far);
          std::vector<float> back = forward;
          lift97_inverse_lanes(back.data(), start, n, stride, lanes, near, far);
          for (int j = 0; j < stride; ++j) {
            std::vector<float> line(n);
            for (int i = 0; i < n; ++i) line[i] = grid[i * stride + j];
            if (j < lanes) lift97_forward(line.data(), start, n, near, far);
            for (int i = 0; i < n; ++i)
              ASSERT_EQ(forward[i * stride + j], line[i]) << n << " " << j << " " << i;
            if (j < lanes) lift97_inverse(line.data(), start, n, near, far);
            for (int i = 0; i < n; ++i)
              ASSERT_EQ(back[i * stride + j], line[i]) << n << " " << j << " " << i;
          }
        }
      }
    }
  }
}

TEST(Lifting97, SplitBandsEqualInterleavedBitForBit) {
  for (int start : {0, 1, 4, 7}) {
    for (int n : {1, 2, 3, 6, 7, 12, 25}) {
      for (LineEnd near : {kZero, kSym}) {
        for (LineEnd far : {kZero, kSym}) {
          std::vector<float> line = random_line(n, n * 8 + start);
          const int first_even = start & 1;
          std::vector<float> low, high;
          for (int i = 0; i < n; ++i) ((i - first_even) % 2 == 0 ? low : high).push_back(line[i]);
          lift97_forward(line.data(), start, n, near, far);
          lift97_forward_split(low.data(), high.data(), start, n, near, far);
          for (int i = 0; i < n; ++i) {
            float got =
                (i - first_even) % 2 == 0 ? low[(i - first_even) / 2] : high[(i + first_even) / 2];
            ASSERT_EQ(got, line[i]) << start << " " << n << " " << i;
          }
          lift97_inverse(line.data(), start, n, near, far);
          lift97_inverse_split(low.data(), high.data(), start, n, near, far);
          for (int i = 0; i < n; ++i) {
            float got =
                (i - first_even) % 2 == 0 ? low[(i - first_even) / 2] : high[(i + first_even) / 2];
            ASSERT_EQ(got, line[i]) << start << " " << n << " " << i;
          }
        }
      }
    }
  }
}

}  // namespace
