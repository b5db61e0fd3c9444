// The block-wise decomposition against a one-piece double-precision reference of the whole
// image, and forward then inverse back to the image.
#include "encoder/core/decomposition.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "codec/lifting97.h"
#include "support/wavelet_reference.h"

namespace {

using wavelet_reference::Plane;

// Smallest image side for nlev levels (blocks must be wider still).
int min_size(int nlev) { return 4 * (2 << nlev) - 7; }

std::vector<float> to_float(const Plane& p) { return std::vector<float>(p.v.begin(), p.v.end()); }

double max_abs(const std::vector<Plane>& bands) {
  double m = 0;
  for (const Plane& b : bands)
    for (double v : b.v) m = std::max(m, std::abs(v));
  return m;
}

// Transforms the image block by block, each block alone (zero outside it, mirrored at image
// edges), and adds every block's coefficients over its extended ranges into whole subbands:
// the sums must be the coefficients of the whole image.
std::vector<Plane> blockwise(const Plane& image, int nlev, const std::vector<int>& col_cuts,
                             const std::vector<int>& row_cuts) {
  std::vector<float> pixels = to_float(image);
  std::vector<Plane> sums;
  auto ranges = [](const std::vector<int>& cuts, int n) {
    std::vector<std::pair<int, int>> r;
    int start = 0;
    for (int c : cuts) r.push_back({start, c - 1}), start = c;
    r.push_back({start, n - 1});
    return r;
  };
  for (auto [y0, y1] : ranges(row_cuts, image.height)) {
    for (auto [x0, x1] : ranges(col_cuts, image.width)) {
      auto root = tree_gen(1, nlev);
      set_ranges(*root, x0, x1, y0, y1,
                 ImageEdges{x0 == 0, x1 == image.width - 1, y0 == 0, y1 == image.height - 1});
      EXPECT_EQ(split(*root, pixels.data() + size_t(y0) * image.width + x0, image.width), 0);
      auto leaves = subbands_in_order(*root);
      if (sums.empty()) {
        // Whole-image subband sizes come from a one-block tree of the image.
        auto whole = tree_gen(1, nlev);
        set_ranges(*whole, 0, image.width - 1, 0, image.height - 1,
                   ImageEdges{true, true, true, true});
        for (SubbandNode* leaf : subbands_in_order(*whole)) {
          sums.push_back(wavelet_reference::make_plane(leaf->x.own_size(), leaf->y.own_size()));
        }
      }
      for (size_t k = 0; k < leaves.size(); ++k) {
        SubbandNode& leaf = *leaves[k];
        EXPECT_GE(leaf.x.ext0, 0);
        EXPECT_LT(leaf.x.ext1, sums[k].width) << "subband " << k;
        EXPECT_LT(leaf.y.ext1, sums[k].height) << "subband " << k;
        for (int y = leaf.y.ext0; y <= leaf.y.ext1; ++y)
          for (int x = leaf.x.ext0; x <= leaf.x.ext1; ++x) sums[k].at(x, y) += *leaf.sample(x, y);
      }
    }
  }
  return sums;
}

// Largest difference to the reference, relative to the largest reference coefficient.
double relative_error(const std::vector<Plane>& got, const std::vector<Plane>& want) {
  EXPECT_EQ(got.size(), want.size());
  double err = 0;
  for (size_t k = 0; k < std::min(got.size(), want.size()); ++k) {
    EXPECT_EQ(got[k].width, want[k].width) << "subband " << k;
    EXPECT_EQ(got[k].height, want[k].height) << "subband " << k;
    if (got[k].v.size() != want[k].v.size()) continue;
    for (size_t i = 0; i < got[k].v.size(); ++i)
      err = std::max(err, std::abs(got[k].v[i] - want[k].v[i]));
  }
  return err / max_abs(want);
}

// A few float roundings per lifting step and level; a wrong tap, parity or edge rule is off by
// orders of magnitude more.
constexpr double kFloatTolerance = 2e-6;

struct Case {
  int width, height, nlev;
  std::vector<int> col_cuts, row_cuts;
};

void expect_matches_reference(const Case& c) {
  SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " nlev " +
               std::to_string(c.nlev));
  Plane image = wavelet_reference::test_image(c.width, c.height, c.width * 31 + c.height);
  std::vector<Plane> want = wavelet_reference::decompose(image, c.nlev);
  EXPECT_LT(relative_error(blockwise(image, c.nlev, c.col_cuts, c.row_cuts), want),
            kFloatTolerance);
}

TEST(Decomposition, OneBlockMatchesReferenceAtMinimumAndOddSizes) {
  for (int nlev = 1; nlev <= 5; ++nlev) {
    int m = min_size(nlev);
    expect_matches_reference({m, m, nlev, {}, {}});
    expect_matches_reference({m + 1, m + 4, nlev, {}, {}});
  }
  expect_matches_reference({40, 33, 2, {}, {}});
}

TEST(Decomposition, BlocksSumToReferenceWithOddAndEvenCuts) {
  // Cuts on odd positions make lines start with a high-pass sample at one level or another.
  expect_matches_reference({9 * 3 + 5, 21, 1, {10, 21}, {11}});
  expect_matches_reference({26 + 27 + 28, 26 + 29, 2, {26, 53}, {26}});
  expect_matches_reference({59 + 59 + 60, 58 + 61, 3, {59, 118}, {58}});
  expect_matches_reference({122 + 123, 125 + 122, 4, {122}, {125}});
  expect_matches_reference({250 + 251, 253 + 250, 5, {250}, {253}});
}

// Inverse of one level in place on an interleaved w x h grid.
void synthesise(std::vector<float>& z, int w, int h) {
  lift97_inverse_lanes(z.data(), 0, h, w, w, LineEnd::kSymmetric, LineEnd::kSymmetric);
  for (int y = 0; y < h; ++y)
    lift97_inverse(z.data() + size_t(y) * w, 0, w, LineEnd::kSymmetric, LineEnd::kSymmetric);
}

TEST(Decomposition, ForwardThenInverseRestoresImage) {
  for (auto [w, h, nlev] : {std::array{57, 60, 3}, std::array{250, 249, 5}, std::array{9, 9, 1}}) {
    Plane image = wavelet_reference::test_image(w, h, 7);
    std::vector<float> pixels = to_float(image);
    auto root = tree_gen(1, nlev);
    set_ranges(*root, 0, w - 1, 0, h - 1, ImageEdges{true, true, true, true});
    ASSERT_EQ(split(*root, pixels.data(), w), 0);
    // Rebuild from the coarsest level: interleave LL and the three detail bands, invert.
    std::vector<SubbandNode*> path{root.get()};
    while (path.back()->is_split) path.push_back(path.back()->children[0].get());
    std::vector<float> ll(path.back()->samples.begin(), path.back()->samples.end());
    for (int level = nlev - 1; level >= 0; --level) {
      SubbandNode& node = *path[level];
      int lw = node.x.own_size(), lh = node.y.own_size();
      std::vector<float> z(size_t(lw) * lh);
      for (int c = 0; c < 4; ++c) {
        SubbandNode& child = *node.children[c];
        const float* src = c == 0 ? ll.data() : child.samples.data();
        for (int y = 0; y < child.y.own_size(); ++y)
          for (int x = 0; x < child.x.own_size(); ++x)
            z[size_t(2 * y + c % 2) * lw + 2 * x + c / 2] = src[size_t(y) * child.x.own_size() + x];
      }
      synthesise(z, lw, lh);
      ll = std::move(z);
    }
    double err = 0;
    for (size_t i = 0; i < pixels.size(); ++i) err = std::max(err, std::abs(ll[i] - image.v[i]));
    EXPECT_LT(err, 1e-3) << w << "x" << h << " nlev " << nlev;
  }
}

TEST(Decomposition, StatisticsLeaveOutPendingStrips) {
  Plane image = wavelet_reference::test_image(30, 30, 3);
  std::vector<float> pixels = to_float(image);
  auto root = tree_gen(1, 1);
  set_ranges(*root, 0, 29, 0, 29, ImageEdges{true, true, true, true});
  SubbandNode& hh = *root->children[3];
  hh.right_overlap = 2;
  hh.lower_overlap = 3;
  ASSERT_EQ(split(*root, pixels.data(), 30), 0);
  EXPECT_EQ(hh.stats.count, 13 * 12);
  double sum = 0, squares = 0;
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 13; ++x)
      sum += *hh.sample(x, y), squares += double(*hh.sample(x, y)) * *hh.sample(x, y);
  EXPECT_DOUBLE_EQ(hh.stats.sum, sum);
  EXPECT_DOUBLE_EQ(hh.stats.sum_squares, squares);
  SubbandNode& ll = *root->children[0];
  EXPECT_EQ(ll.stats.count, 15 * 15);
  EXPECT_GT(ll.stats.variance(), 0);
}

TEST(Decomposition, ConvDsRefusesShortLinesAtImageEdges) {
  std::vector<float> line(8, 1.0f);
  testing::internal::CaptureStderr();
  EXPECT_EQ(conv_ds(line.data(), 0, 5, LineEnd::kZero, LineEnd::kSymmetric), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error 1 in subroutine conv_ds.\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(conv_ds(line.data(), 0, 4, LineEnd::kSymmetric, LineEnd::kZero), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error 2 in subroutine conv_ds.\n");
  EXPECT_EQ(conv_ds(line.data(), 0, 6, LineEnd::kSymmetric, LineEnd::kSymmetric), 0);

  // A block too small for its levels fails the split instead of reading outside its lines.
  auto root = tree_gen(1, 3);
  set_ranges(*root, 0, 11, 0, 11, ImageEdges{true, true, true, true});
  std::vector<float> plane(144, 1.0f);
  testing::internal::CaptureStderr();
  EXPECT_EQ(split(*root, plane.data(), 12), 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("subroutine conv_ds"), std::string::npos);

  // A tree whose ranges were never set fails cleanly.
  auto unset = tree_gen(1, 2);
  testing::internal::CaptureStderr();
  EXPECT_EQ(split(*unset, plane.data(), 12), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error 1 in subroutine split_node.\n");
}

}  // namespace
