#include "encoder/driver/output_estimate.h"

#include <gtest/gtest.h>

// The verdicts around 4 GiB, and advice that actually brings the estimate back under it.
TEST(OutputEstimate, VerdictsAndAdvice) {
  const double limit = 4294967296.0;
  EXPECT_EQ(judge_output_size(0.79 * limit), OutputSizeVerdict::kFits);
  EXPECT_EQ(judge_output_size(0.81 * limit), OutputSizeVerdict::kNear);
  EXPECT_EQ(judge_output_size(1.01 * limit), OutputSizeVerdict::kBeyond);
  // Two gigapixels of grey at -c 0.5 stopped at 98 % once; now they are refused at once.
  const double two_gigapixels = estimated_output_bytes(2000000000, 8 / 0.5);
  EXPECT_EQ(judge_output_size(two_gigapixels), OutputSizeVerdict::kBeyond);
  for (double ratio : {0.5, 1.0, 3.0, 20.0}) {
    const double estimate = estimated_output_bytes(int64_t{200000} * 100000, 8 / ratio);
    const double advised = suggested_ratio(estimate, ratio);
    EXPECT_EQ(judge_output_size(estimated_output_bytes(int64_t{200000} * 100000, 8 / advised)),
              OutputSizeVerdict::kFits)
        << ratio << " -> " << advised;
  }
  EXPECT_EQ(format_gib(1.5 * 1073741824.0), "1.50 GiB");
}
