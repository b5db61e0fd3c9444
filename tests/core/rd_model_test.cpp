#include "encoder/core/rd_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <span>

#include "codec/block_coder.h"
#include "codec/huffman_table.h"
#include "codec/sq_inv.h"
#include "codec/symbol_alphabet.h"
#include "encoder/core/rd_allocation.h"
#include "support/subband_plane.h"

namespace {

std::vector<float> plane(int w, int h, unsigned seed) {
  return vexal_test::subband_plane(w, h, seed, 0.3f, 2.0f, 32.0f);
}

// The bytes the file writer spends on this plane as one block at `step`: the table, step,
// piece size and offsets, and each 128 x 128 piece's coded stream.
double coded_bytes(const std::vector<float>& v, int w, int h, float step) {
  std::vector<int16_t> q(v.size());
  if (!rd_quantize_all(v.data(), v.size(), step, q.data())) return 0.0;
  std::vector<std::vector<int16_t>> pieces;
  for (int y0 = 0; y0 < h; y0 += 128)
    for (int x0 = 0; x0 < w; x0 += 128) {
      std::vector<int16_t> p;
      for (int y = y0; y < std::min(h, y0 + 128); ++y)
        for (int x = x0; x < std::min(w, x0 + 128); ++x) p.push_back(q[size_t(y) * w + x]);
      pieces.push_back(std::move(p));
    }
  std::vector<std::span<const int16_t>> spans(pieces.begin(), pieces.end());
  HuffmanTableDescriptor desc;
  HuffmanCodeTable table;
  EXPECT_EQ(GenHTDesc2(spans, kValueRange, kRunRange, desc), 0);
  EXPECT_EQ(GenCode2(desc, table), 0);
  char* buffer = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&buffer, &size);
  for (const auto& p : pieces) EXPECT_EQ(encode_block2(p, table, kValueRange, kRunRange, f), 0);
  std::fclose(f);
  std::free(buffer);
  return double(size) + 2 + 16 + desc.value_count() + 4 + 8 + 4.0 * pieces.size();
}

// The squared error the decoder leaves of `v` quantised at `step`.
double decoded_error(const std::vector<float>& v, float step) {
  std::vector<int16_t> q(v.size());
  rd_quantize_all(v.data(), v.size(), step, q.data());
  std::vector<float> back(v.size());
  sq_inv(q.data(), q.size(), step, back.data());
  double error = 0.0;
  for (size_t i = 0; i < v.size(); ++i) error += double(v[i] - back[i]) * (v[i] - back[i]);
  return error;
}

TEST(RdModel, BytesAndErrorsMatchTheCoderAtEveryRate) {
  const int w = 300, h = 260;
  const std::vector<float> v = plane(w, h, 7);
  RdModel model(1, 1, 128, 128);
  model.add_band(0, 0, v.data(), w, h);
  EXPECT_EQ(model.count(0, 0), double(w) * h);
  for (int rung = 49; rung < kRdRungs; rung += 9) {
    const float step = float(rd_rung_step(rung));
    const double actual = coded_bytes(v, w, h, step);
    const double error = decoded_error(v, step);
    SCOPED_TRACE(rung);
    if (actual == 0.0) {
      EXPECT_EQ(model.bytes(0, 0, rung), 0.0);
    } else if (actual > 1000.0) {  // the fixed parts of a nearly empty block are estimated
      EXPECT_NEAR(model.bytes(0, 0, rung) / actual, 1.0, 0.025) << actual;
    }
    EXPECT_NEAR(model.squared_error(0, 0, rung) / error, 1.0, 0.03);
  }
  // Large values (a low-pass band's) fill bins many steps wide; each value comes back within
  // half a step of itself, so the error is a twelfth of a squared step per value.
  std::vector<float> low(v.size());
  for (size_t i = 0; i < low.size(); ++i) low[i] = 1000.0f + float((i * 7919) % 300007) / 100.0f;
  RdModel wide(1, 1, 128, 128);
  wide.add_band(0, 0, low.data(), w, h);
  for (int rung : {64, 96, 128}) {
    const double error = decoded_error(low, float(rd_rung_step(rung)));
    EXPECT_NEAR(wide.squared_error(0, 0, rung) / error, 1.0, 0.015) << rung;
  }
}

}  // namespace

// A piece of many rows has its runs counted on its first quarter or half, as if scanned four
// or two times. When the piece repeats that part, this is exact: the rates equal those of the
// same values counted in full as one long row (one piece in the same scan order), at every rung.
TEST(RdModel, APieceOfRepeatedPartsIsCountedExactlyOnItsFirstPart) {
  for (unsigned seed = 1; seed < 40; ++seed) {
    const int w = 3 + int(seed) % 40, copies = seed % 2 ? 2 : 4;
    const int part = copies == 2 ? 17 : 16 + 2 * (int(seed) % 3), rows = copies * part;
    std::vector<float> v = vexal_test::subband_plane(w, part, seed, 0.3f, 0.5f + float(seed % 7),
                                                     4.0f + float(seed % 50));
    if (seed % 5 == 0) std::fill(v.begin(), v.end(), 0.0f);  // zeros at every rung
    if (seed % 7 == 0) v[size_t(seed) % v.size()] = 1e6f;    // one value above the ladder
    std::vector<float> piece;
    for (int k = 0; k < copies; ++k) piece.insert(piece.end(), v.begin(), v.end());
    RdBandMeter parted(w, rows), whole(rows * w, 1);
    const BandRates a = parted.measure(piece.data(), w, rows);
    const BandRates b = whole.measure(piece.data(), rows * w, 1);
    SCOPED_TRACE(seed);
    EXPECT_EQ(a.fine, b.fine);
    for (int r = 0; r < kRdRungs; ++r) ASSERT_EQ(a.bytes[size_t(r)], b.bytes[size_t(r)]) << r;
  }
}

// The steps chosen for a budget are the least weighted error the model allows for it: no pair
// of rungs of two coded subbands within the bytes chosen has less (the others are empty).
TEST(RdModel, TheStepsChosenHaveTheLeastErrorForTheirBytes) {
  RdModel model(4, 1, 128, 128);
  const std::vector<float> a = plane(256, 256, 3);
  std::vector<float> b = plane(256, 256, 5);
  for (float& x : b) x *= 0.25f;
  model.add_band(1, 0, a.data(), 256, 256);
  model.add_band(3, 0, b.data(), 256, 256);
  RdWeights weights;
  weights.nlev = 1;
  const double gain1 = synthesis_gain(1, 1), gain3 = synthesis_gain(3, 1);
  for (double budget : {2000.0, 9000.0, 30000.0}) {
    const RdChoice choice = choose_steps(model, weights, {budget, 0.0}, 1.0);
    SCOPED_TRACE(budget);
    EXPECT_NEAR(choice.bytes, budget, 0.02 * budget);
    double least = HUGE_VAL;
    for (int i = 0; i < kRdRungs; ++i)
      for (int j = 0; j < kRdRungs; ++j)
        if (model.bytes(1, 0, i) + model.bytes(3, 0, j) <= choice.bytes)
          least = std::min(least, gain1 * model.squared_error(1, 0, i) +
                                      gain3 * model.squared_error(3, 0, j));
    EXPECT_LE(choice.luma_mse, least * (1.0 + 1e-9));
  }
}
