// The dither pattern and offsets are data of the compressed format: a decoder removes exactly
// what the encoder added.
#include "codec/dither.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

#include "codec/dither_table.h"

namespace {

constexpr int kEntries = kDitherTableSize * kDitherTableSize;

TEST(Dither, TableHasFixedUniformSixDecimalValues) {
  const float first[6] = {-0.164586f, 0.124951f, -0.201814f, 0.185233f, 0.038652f, 0.1429f};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(ditherTable[i], first[i]);
  double sum = 0, squares = 0;
  std::set<float> distinct;
  for (int i = 0; i < kEntries; ++i) {
    float v = ditherTable[i];
    ASSERT_GE(v, -0.25f);
    ASSERT_LE(v, 0.25f);
    double micro = v * 1e6;
    ASSERT_NEAR(micro, std::round(micro), 0.02) << i;
    sum += v, squares += double(v) * v;
    distinct.insert(v);
  }
  double mean = sum / kEntries;
  EXPECT_NEAR(mean, 0.0005, 0.0002);
  EXPECT_NEAR(std::sqrt(squares / kEntries - mean * mean), 0.1443, 0.001);
  EXPECT_GT(distinct.size(), 16000u);
}

TEST(Dither, OffsetsFollowTheFormatsGenerator) {
  const int want[7][2] = {{0, 30}, {82, 9}, {34, 46}, {32, 126}, {40, 119}, {22, 109}, {4, 1}};
  std::vector<DitherOffsets> offsets = dither_offsets(16);
  ASSERT_EQ(offsets.size(), 16u);
  for (int k = 0; k < 7; ++k) {
    EXPECT_EQ(offsets[k].ox, want[k][0]) << k;
    EXPECT_EQ(offsets[k].oy, want[k][1]) << k;
  }
  for (const DitherOffsets& o : offsets) EXPECT_LT(std::max(o.ox, o.oy), 128);
  // Each run starts afresh: a shorter list is a prefix of the longer one.
  std::vector<DitherOffsets> again = dither_offsets(4);
  EXPECT_EQ(again[3].ox, offsets[3].ox);
  EXPECT_TRUE(dither_offsets(0).empty());
}

TEST(Dither, AddressingWrapsAndRemovalUndoesAddition) {
  DitherOffsets o{82, 120};
  const int x0 = 200, x1 = 229, y0 = 5, y1 = 12;  // rows wrap from 127 to 0
  const int w = x1 - x0 + 1, h = y1 - y0 + 1;
  std::vector<float> zero(w * h, 0.0f);
  add_dither(zero.data(), x0, x1, y0, y1, 1.0f, &o);
  // First sample: column (200 + 82) mod 128 = 26, row (5 + 120) mod 128 = 125.
  EXPECT_EQ(zero[0], ditherTable[125 * 128 + 26]);
  EXPECT_EQ(zero[3 * w + 29], ditherTable[0 * 128 + (229 + 82) % 128]);

  std::vector<float> samples(w * h);
  for (int i = 0; i < w * h; ++i) samples[i] = 0.37f * i - 20.0f;
  std::vector<float> dithered = samples;
  add_dither(dithered.data(), x0, x1, y0, y1, 12.5f, &o);
  EXPECT_NE(dithered, samples);
  remove_dither(dithered.data(), x0, x1, y0, y1, 12.5f, &o);
  for (int i = 0; i < w * h; ++i) EXPECT_NEAR(dithered[i], samples[i], 1e-5) << i;

  add_dither(dithered.data(), x0, x1, y0, y1, 12.5f, nullptr);  // no offsets: untouched
  remove_dither(dithered.data(), x0, x1, y0, y1, 12.5f, nullptr);
  for (int i = 0; i < w * h; ++i) EXPECT_NEAR(dithered[i], samples[i], 1e-5) << i;
}

}  // namespace
