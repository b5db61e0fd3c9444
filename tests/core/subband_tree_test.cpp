// Tree shapes, subband numbering, and the block ranges that tiling relies on.
#include "encoder/core/subband_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/error.h"

namespace {

std::string thrown_by(void (*f)()) {
  try {
    f();
  } catch (const Quorvale::Exception& e) {
    return e.message();
  }
  return "";
}

TEST(SubbandTree, ShapesAndInternalErrors) {
  EXPECT_EQ(subbands_in_order(*tree_gen(1, 5)).size(), 16u);
  EXPECT_EQ(subbands_in_order(*tree_gen(2, 2)).size(), 16u);
  EXPECT_EQ(subbands_in_order(*tree_gen(1, 0)).size(), 1u);
  EXPECT_EQ(thrown_by([] { tree_gen(3, 2); }), "Internal error in tree_gen.");
  EXPECT_EQ(thrown_by([] {
              auto root = tree_gen(1, 1);
              subband_split(*root);
            }),
            "Internal error in subroutine subband_split.");
}

TEST(SubbandTree, NumberingStartsAtCoarsestLowPassAndVisitsChildren0213) {
  for (int nlev = 1; nlev <= 5; ++nlev) {
    auto root = tree_gen(1, nlev);
    auto leaves = subbands_in_order(*root);
    ASSERT_EQ(static_cast<int>(leaves.size()), subband_count(nlev));
    for (int k = 0; k < subband_count(nlev); ++k) {
      SubbandNode* leaf = leaves[k];
      EXPECT_EQ(leaf->depth, subband_depth(k, nlev)) << k;
      // The leaf is child subband_child_index(k) of its parent.
      SubbandNode* parent = root.get();
      while (parent->depth + 1 < leaf->depth) parent = parent->children[0].get();
      EXPECT_EQ(parent->children[subband_child_index(k)].get(), leaf) << k;
    }
  }
  // nlev 3: 0 is LL3, 1-3 level 3, 4-6 level 2, 7-9 level 1; each level starts with child 2.
  EXPECT_EQ(subband_depth(4, 3), 2);
  EXPECT_EQ(subband_depth(9, 3), 1);
  EXPECT_EQ(subband_child_index(7), 2);
  EXPECT_EQ(subband_child_index(8), 1);
}

// Blocks side by side along one axis: their own ranges partition every level of every band
// and their extended ranges stay inside the image.
TEST(SubbandTree, OwnRangesOfBlocksPartitionEachLevel) {
  const int nlev = 4;
  for (std::vector<int> cuts : {std::vector<int>{0, 122, 245, 390}, {0, 125, 251, 400, 523}}) {
    const int n = cuts.back();
    std::vector<AxisRange> axes;
    for (size_t b = 0; b + 1 < cuts.size(); ++b) {
      axes.push_back(AxisRange{cuts[b], cuts[b + 1] - 1, cuts[b], cuts[b + 1] - 1, b == 0,
                               b + 2 == cuts.size()});
    }
    std::vector<int> size{n};
    for (int level = 1; level <= nlev; ++level) {
      for (int band : {0, 1}) {
        int expected_size = band == 0 ? (size.back() + 1) / 2 : size.back() / 2;
        int next = 0;
        for (const AxisRange& a : axes) {
          AxisRange c = child_axis_range(a, band);
          EXPECT_EQ(c.own0, next) << "level " << level << " band " << band;
          EXPECT_LE(c.ext0, c.own0);
          EXPECT_GE(c.ext1, c.own1);
          EXPECT_LT(c.ext1, expected_size);
          next = c.own1 + 1;
        }
        EXPECT_EQ(next, expected_size) << "level " << level << " band " << band;
      }
      for (AxisRange& a : axes) a = child_axis_range(a, 0);
      size.push_back((size.back() + 1) / 2);
    }
  }
}

}  // namespace
