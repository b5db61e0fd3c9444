#include "encoder/core/rd_indices.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "encoder/core/rd_model.h"
#include "encoder/writer/band_payload.h"
#include "support/subband_plane.h"

namespace {

// Sparse where the scale is small, partial pieces at the right and bottom edges.
std::vector<float> plane(int w, int h, unsigned seed) {
  return vexal_test::subband_plane(w, h, seed, 0.25f, 0.6f, 3.6f);
}

// The squared error the decoder's reconstruction leaves: q > 0 comes back at (q + 0.06) step.
double squared_error(const std::vector<float>& v, const std::vector<int16_t>& q, float step) {
  double e = 0.0;
  for (size_t i = 0; i < v.size(); ++i) {
    const double r = q[i] == 0 ? 0.0 : (std::abs(q[i]) + 0.06) * step * (q[i] < 0 ? -1 : 1);
    e += (v[i] - r) * (v[i] - r);
  }
  return e;
}

constexpr int kW = 300, kH = 270;  // 3 x 3 pieces, the last ones partial
constexpr float kStep = 1.0f;

// Against the plain quantiser, coded with the real part coder: each index moves one towards
// zero or, from 2, to zero (never away from it), and the error plus the bytes priced at the
// slope falls; the effect reported for the whole plane is the error and (within the coder's
// overheads) the bytes it changed.
TEST(RdIndices, LowersTheCostAtTheSlopeOfTheCodedPart) {
  const std::vector<float> v = plane(kW, kH, 7);
  std::vector<int16_t> plain(v.size());
  rd_quantize_all(v.data(), v.size(), kStep, plain.data());
  for (double error_per_byte : {0.5, 2.0, 8.0}) {
    SCOPED_TRACE(error_per_byte);
    std::vector<int16_t> chosen = plain;
    rd_choose_indices(v.data(), kW, kH, kStep, error_per_byte, chosen.data());
    int changed = 0, twos_zeroed = 0;
    for (size_t i = 0; i < v.size(); ++i) {
      if (chosen[i] == plain[i]) continue;
      ++changed;
      if (chosen[i] == 0 && std::abs(plain[i]) == 2) {
        ++twos_zeroed;
        continue;
      }
      ASSERT_EQ(std::abs(chosen[i]), std::abs(plain[i]) - 1) << i;
      ASSERT_TRUE(chosen[i] == 0 || (chosen[i] > 0) == (plain[i] > 0)) << i;
    }
    EXPECT_GT(changed, 100);
    if (error_per_byte == 8.0) {
      EXPECT_GT(twos_zeroed, 0);
    }
    const double plain_bytes = double(code_band_part(plain, kW, kH, kStep).size());
    const double chosen_bytes = double(code_band_part(chosen, kW, kH, kStep).size());
    const double plain_error = squared_error(v, plain, kStep);
    const double chosen_error = squared_error(v, chosen, kStep);
    EXPECT_LT(chosen_bytes, plain_bytes);
    EXPECT_LT(chosen_error + error_per_byte * chosen_bytes, plain_error + error_per_byte * plain_bytes);

    const RdIndexEffect all =
        rd_index_effect(v.data(), kW, kH, kStep, error_per_byte, [](size_t) { return true; });
    EXPECT_EQ(all.coefficients, double(v.size()));
    EXPECT_NEAR(all.added_error, chosen_error - plain_error, 1e-6 * plain_error);
    EXPECT_NEAR((all.bits_before - all.bits_after) / 8.0, plain_bytes - chosen_bytes,
                0.15 * (plain_bytes - chosen_bytes));
  }
}

// Tried on a third of the pieces, the effect is estimated for the whole part: the bits, bytes
// saved and error added come out near what trying every piece gives.
TEST(RdIndices, ASampleOfPiecesEstimatesTheWholePart) {
  const int w = 1024, h = 768;  // 48 pieces
  const std::vector<float> v = plane(w, h, 11);
  const RdIndexEffect all =
      rd_index_effect(v.data(), w, h, kStep, 2.0, [](size_t) { return true; });
  const RdIndexEffect some =
      rd_index_effect(v.data(), w, h, kStep, 2.0, [](size_t piece) { return piece % 3 == 1; });
  EXPECT_EQ(some.coefficients, all.coefficients);
  EXPECT_NEAR(some.bits_before, all.bits_before, 0.01 * all.bits_before);
  EXPECT_NEAR(some.bits_after / some.bits_before, all.bits_after / all.bits_before, 0.01);
  EXPECT_NEAR(some.added_error, all.added_error, 0.08 * all.added_error);
  const RdIndexEffect none = rd_index_effect(v.data(), w, h, kStep, 2.0, [](size_t) { return false; });
  EXPECT_EQ(none.coefficients, 0.0);
}

}  // namespace
