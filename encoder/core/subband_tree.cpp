#include "encoder/core/subband_tree.h"

#include <algorithm>
#include <new>

#include "platform/error.h"

namespace {

int floor_half(int v) { return v >= 0 ? v / 2 : -((1 - v) / 2); }

void split_to_depth(SubbandNode& node, int depth) {
  if (node.depth >= depth) return;
  subband_split(node);
  for (auto& child : node.children) split_to_depth(*child, depth);
}

void set_child_ranges(SubbandNode& node) {
  if (!node.is_split) return;
  for (int c = 0; c < 4; ++c) {
    SubbandNode& child = *node.children[c];
    child.x = child_axis_range(node.x, c / 2);
    child.y = child_axis_range(node.y, c % 2);
    set_child_ranges(child);
  }
}

void collect_leaves(SubbandNode& node, std::vector<SubbandNode*>& out) {
  if (!node.is_split) {
    out.push_back(&node);
    return;
  }
  for (int c : {0, 2, 1, 3}) collect_leaves(*node.children[c], out);
}

}  // namespace

// A sample at position p reaches low outputs within p +- 4 and high outputs within p +- 3, so
// the children's extended ranges are those outputs of the parent's extended range, clipped at
// the image edges (where the mirrored part is never stored).
AxisRange child_axis_range(const AxisRange& parent, int band) {
  AxisRange child;
  child.near_edge = parent.near_edge;
  child.far_edge = parent.far_edge;
  if (band == 0) {
    child.own0 = floor_half(parent.own0 + 1);
    child.own1 = floor_half(parent.own1);
  } else {
    child.own0 = floor_half(parent.own0);
    child.own1 = floor_half(parent.own1 - 1);
  }
  child.ext0 = std::max(0, floor_half(parent.ext0 - 3));
  if (parent.far_edge) {
    child.ext1 = child.own1;
  } else {
    child.ext1 = floor_half(parent.ext1 + (band == 0 ? 4 : 2));
  }
  return child;
}

std::unique_ptr<SubbandNode> tree_gen(int shape, int depth) {
  if ((shape != 1 && shape != 2) || depth < 0) {
    throw Quorvale::Exception("Internal error in tree_gen.");
  }
  try {
    auto root = std::make_unique<SubbandNode>();
    if (shape == 2) {
      split_to_depth(*root, depth);
      return root;
    }
    SubbandNode* node = root.get();
    for (int level = 0; level < depth; ++level) {
      subband_split(*node);
      node = node->children[0].get();
    }
    return root;
  } catch (const std::bad_alloc&) {
    throw Quorvale::Exception("Memory allocation error.");
  }
}

void subband_split(SubbandNode& node) {
  if (node.is_split) throw Quorvale::Exception("Internal error in subroutine subband_split.");
  for (auto& child : node.children) {
    child = std::make_unique<SubbandNode>();
    child->depth = node.depth + 1;
  }
  node.is_split = true;
}

void set_ranges(SubbandNode& root, int x0, int x1, int y0, int y1, ImageEdges edges) {
  root.x = AxisRange{x0, x1, x0, x1, edges.left, edges.right};
  root.y = AxisRange{y0, y1, y0, y1, edges.upper, edges.lower};
  set_child_ranges(root);
}

std::vector<SubbandNode*> subbands_in_order(SubbandNode& root) {
  std::vector<SubbandNode*> leaves;
  collect_leaves(root, leaves);
  return leaves;
}

int subband_depth(int k, int nlev) { return k == 0 ? nlev : nlev - (k - 1) / 3; }

int subband_child_index(int k) {
  static constexpr int kOrder[3] = {2, 1, 3};
  return k == 0 ? 0 : kOrder[(k - 1) % 3];
}
