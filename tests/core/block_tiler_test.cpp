#include "encoder/core/block_tiler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "encoder/core/block_grid.h"
#include "support/reference_dwt.h"

namespace {

using vexal_test::ReferenceSubband;

struct Case {
  int width, height, block_size, nlev, bands;
  bool full_width = false;
};

std::ostream& operator<<(std::ostream& os, const Case& c) {
  return os << c.width << "x" << c.height << " block " << c.block_size << " nlev " << c.nlev
            << " bands " << c.bands << (c.full_width ? " full width" : "");
}

// A textured test image: smooth gradients, an edge and noise, so that every filter tap matters.
std::vector<std::vector<double>> make_planes(const Case& c) {
  std::mt19937 rng(c.width * 31 + c.height);
  std::uniform_real_distribution<double> noise(-20, 20);
  std::vector<std::vector<double>> planes(size_t(c.bands));
  for (int b = 0; b < c.bands; ++b)
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x)
        planes[size_t(b)].push_back(float(100 + 50 * std::sin(x * 0.07 + b) + 0.3 * y +
                                          (x > c.width / 3 ? 60 : 0) + noise(rng)));
  return planes;
}

// Collects every record's coefficients and how often each position was written.
class CollectingSink : public RecordSink {
 public:
  CollectingSink(const std::vector<ReferenceSubband>& shape, int bands) : shape_(shape) {
    for (const ReferenceSubband& s : shape) {
      hits.emplace_back(s.values.size(), 0);
      values.emplace_back(size_t(bands), std::vector<double>(s.values.size(), 0.0));
    }
  }
  void write_record(SubbandRecordData& r) override {
    const ReferenceSubband& s = shape_[size_t(r.subband)];
    ASSERT_TRUE(r.x0 >= 0 && r.y0 >= 0 && r.x1 < s.width && r.y1 < s.height)
        << "subband " << r.subband << " record " << r.x0 << ".." << r.x1 << ", " << r.y0 << ".."
        << r.y1;
    ++records;
    for (int y = r.y0; y <= r.y1; ++y) {
      for (int x = r.x0; x <= r.x1; ++x) {
        const size_t at = size_t(y) * s.width + x;
        ++hits[size_t(r.subband)][at];
        for (size_t b = 0; b < r.bands.size(); ++b)
          values[size_t(r.subband)][b][at] =
              r.bands[b][size_t(y - r.y0) * r.width() + (x - r.x0)];
      }
    }
  }
  std::vector<std::vector<int>> hits;
  std::vector<std::vector<std::vector<double>>> values;  // [subband][band][position]
  int records = 0;

 private:
  const std::vector<ReferenceSubband>& shape_;
};

void check_against_reference(const Case& c) {
  SCOPED_TRACE(testing::Message() << c);
  const auto planes = make_planes(c);
  std::vector<std::vector<ReferenceSubband>> reference;
  for (const auto& p : planes) reference.push_back(vexal_test::reference_dwt97(p, c.width, c.height, c.nlev));

  const BlockGrid grid(c.width, c.height, c.block_size, c.nlev, c.full_width);
  BlockTiler tiler(grid, c.nlev, c.bands);
  CollectingSink sink(reference[0], c.bands);
  size_t peak = 0;
  auto source = [&](const BlockRect& r, platform::FloatBuffer& out) {
    peak = std::max(peak, tiler.held_coefficients());
    const size_t size = size_t(r.x1 - r.x0 + 1) * (r.y1 - r.y0 + 1);
    float* dst = out.data();
    for (int b = 0; b < c.bands; ++b)
      for (int y = r.y0; y <= r.y1; ++y)
        for (int x = r.x0; x <= r.x1; ++x) *dst++ = float(planes[size_t(b)][size_t(y) * c.width + x]);
    EXPECT_EQ(size_t(dst - out.data()), size * c.bands);
  };
  decompose_blocks(grid, c.bands, source, sink, tiler, {}, {}, 0.0f, 1.0f);
  EXPECT_EQ(tiler.held_blocks(), 0u);

  for (size_t k = 0; k < reference[0].size(); ++k) {
    for (size_t i = 0; i < sink.hits[k].size(); ++i)
      ASSERT_EQ(sink.hits[k][i], 1) << "subband " << k << " position " << i % reference[0][k].width
                                    << ", " << i / reference[0][k].width;
    for (int b = 0; b < c.bands; ++b) {
      const ReferenceSubband& ref = reference[size_t(b)][k];
      // Float rounding grows with the magnitude of the low band fed into each level (a gain
      // of about 2 per level), not with the subband's own values.
      double scale = 0.0;
      for (double v : planes[size_t(b)]) scale = std::max(scale, std::fabs(v));
      scale *= std::ldexp(1.0, 1 + int(c.nlev - (k == 0 ? 0 : (k - 1) / 3)));
      for (size_t i = 0; i < ref.values.size(); ++i)
        ASSERT_NEAR(sink.values[k][size_t(b)][i], ref.values[i], 1e-6 * scale)
            << "subband " << k << " band " << b << " position " << i % ref.width << ", "
            << i / ref.width;
      // Every coefficient is counted once in the statistics, whole-image totals included.
      EXPECT_EQ(tiler.total_statistics()[k * c.bands + b].count, int(ref.values.size()));
    }
  }
}

TEST(BlockTiler, BlockwiseCoefficientsEqualOnePieceTransform) {
  const Case cases[] = {
      {100, 80, 32, 1, 1},            // many small blocks, partial last ones
      {203, 157, 64, 2, 1},           // odd sizes
      {250, 130, 65, 3, 3},           // three bands, shortened block width
      {400, 301, 160, 4, 1},          // block edge reduced until the remainder is long enough
      {40, 30, 64, 1, 1},             // smaller than one block
      {57, 57, 512, 3, 1},            // the smallest image for nlev 3, one block
      {530, 270, 280, 5, 1},          // deepest one-stage decomposition
      {120, 95, 40, 2, 3, true},      // full-width blocks
      {97, 330, 30, 1, 1},            // tall: a 4 x 16 Morton grid with empty cells
  };
  for (const Case& c : cases) check_against_reference(c);
}

TEST(BlockTiler, HeldCoefficientsDoNotGrowWithTheImage) {
  // Same block size, images 4x apart in area: what stays held between blocks is the pending
  // groups and the strips along the walk's frontier, far below the image.
  size_t peaks[2];
  for (int i = 0; i < 2; ++i) {
    const int side = i == 0 ? 256 : 512;
    const BlockGrid grid(side, side, 32, 2, false);
    BlockTiler tiler(grid, 2, 1);
    struct NullSink : RecordSink {
      void write_record(SubbandRecordData&) override {}
    } sink;
    size_t peak = 0;
    auto source = [&](const BlockRect&, platform::FloatBuffer& out) {
      peak = std::max(peak, tiler.held_coefficients());
      for (size_t j = 0; j < out.size(); ++j) out[j] = float(j % 251);
    };
    decompose_blocks(grid, 1, source, sink, tiler, {}, {}, 0.0f, 1.0f);
    peaks[i] = peak;
  }
  EXPECT_LT(peaks[1], size_t(512 * 512 / 8));
  EXPECT_LT(double(peaks[1]), 2.5 * double(peaks[0]));
}

}  // namespace
