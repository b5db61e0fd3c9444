// The decomposition tree of one band of one block: each node covers a rectangle of one level,
// each leaf is a subband. Coordinates are global positions at the node's level, inclusive.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "codec/level_geometry.h"
#include "encoder/core/step_allocation.h"
#include "platform/uninitialized_allocator.h"

// One axis of a node. The own range holds the positions of this level that the block owns;
// the extended range adds the positions to which the block's samples still contribute through
// the 9/7 filters (partial coefficients that the neighbouring blocks add into theirs).
struct AxisRange {
  int own0 = 0, own1 = -1;
  int ext0 = 0, ext1 = -1;
  bool near_edge = false;  // own0 is the image's first position on this axis
  bool far_edge = false;   // own1 is the image's last position on this axis

  int own_size() const { return own1 - own0 + 1; }
  int ext_size() const { return ext1 - ext0 + 1; }
};

// Ranges of the low (band 0) or high (band 1) child of a node along one axis.
AxisRange child_axis_range(const AxisRange& parent, int band);

// Count, sum and sum of squares of a subband's coefficients, as the step allocation takes them.
struct LeafStatistics : CoefficientStatistics {
  void merge(const CoefficientStatistics& other) { add(other); }
};

struct SubbandNode {
  AxisRange x, y;
  int depth = 0;  // the root has depth 0, its children 1

  bool is_split = false;
  // Index 2 x (horizontal band) + (vertical band), band 0 = low: 0 LL, 1 LH, 2 HL, 3 HH.
  std::array<std::unique_ptr<SubbandNode>, 4> children;

  // Coefficients over the extended range, row-major; positions outside the own range are
  // partial coefficients for the neighbouring blocks. Empty before the transform, and in
  // split nodes after it.
  platform::FloatBuffer samples;
  int pitch() const { return x.ext_size(); }
  // A leaf left in place by split() has no samples of its own but this view of the same
  // range in the transform's work grid, valid until the thread's next transform.
  float* view = nullptr;
  std::ptrdiff_t view_pitch = 0;
  float* sample(int gx, int gy) {
    if (view) return view + static_cast<std::ptrdiff_t>(gy - y.ext0) * view_pitch + (gx - x.ext0);
    return samples.data() + static_cast<std::ptrdiff_t>(gy - y.ext0) * pitch() + (gx - x.ext0);
  }

  // Counted over the own coefficients less the pending strips (gather_statistics).
  LeafStatistics stats;

  // Block tiling's border bookkeeping: the number of last own columns / rows to which a later
  // block still contributes, and the strips that keep them once the rest is dumped.
  int right_overlap = 0;
  int lower_overlap = 0;
  std::unique_ptr<SubbandNode> right_strip, lower_strip;
};

// Shape 1: dyadic, `depth` splits each of the previous LL child (3 x depth + 1 leaves).
// Shape 2: a full quadtree of the given depth. Other shapes throw "Internal error in tree_gen.".
std::unique_ptr<SubbandNode> tree_gen(int shape, int depth);

// Marks `node` split and gives it four unsplit children one level deeper. Throws
// "Internal error in subroutine subband_split." for a node that is already split.
void subband_split(SubbandNode& node);

// Gives every node of the tree its own and extended ranges for a block covering columns
// x0..x1 and rows y0..y1 of the image; the edge flags tell which sides of the block are sides
// of the image. At the root the extended ranges equal the block's rectangle.
struct ImageEdges {
  bool left = false, right = false, upper = false, lower = false;
};
void set_ranges(SubbandNode& root, int x0, int x1, int y0, int y1, ImageEdges edges);

// Subband numbering: leaves depth-first, children of a split node visited 0, 2, 1, 3, so
// 0 is the coarsest LL and every level starts with its horizontally-high, vertically-low band.
std::vector<SubbandNode*> subbands_in_order(SubbandNode& root);
// Depth of subband k in the dyadic tree of `nlev` levels (the coarsest LL has depth nlev).
int subband_depth(int k, int nlev);
// Child index (0..3) that subband k is of its parent in the dyadic tree.
int subband_child_index(int k);
