// Two-dimensional 9/7 decomposition of one band of one block, level by level, with the subband
// statistics that the step-size allocation uses.
#pragma once

#include <cstddef>

#include "codec/lifting97.h"
#include "encoder/core/subband_tree.h"

// One-dimensional analysis of a line covering global positions start .. start + count - 1 at
// its level. A line that ends at the image's last position must hold at least 6 samples
// ("Error 1 in subroutine conv_ds."), one that begins at the image's first position at least 5
// ("Error 2 in subroutine conv_ds."); both messages go to standard error and return 1.
int conv_ds(float* line, int start, int count, LineEnd near, LineEnd far);

// Splits one node in two dimensions: rows, then the columns of each half, over the range
// through which the node's extended range reaches (zero beyond it inside the image, mirrored at
// image edges). The children, whose ranges must be set, receive their coefficients over their
// extended ranges; the node's own samples are released. Returns 0, or 1 after printing.
int split_node(SubbandNode& node);

// Transforms one band of a block: `root` is a tree from tree_gen with ranges (set_ranges) and
// overlap widths set; `plane` holds the block's samples over the root's own range, row-major
// with `pitch` floats per row. Every split node is transformed, root first, then each leaf
// counts its coefficients into its statistics. Returns 0, or 1 after printing the line of the
// subroutine that failed (the block driver then throws "Error encountered in subroutine split.").
// With `in_place`, the leaves are left in the thread's work grids as views (see SubbandNode)
// instead of being copied out, for a caller that takes them before its next transform.
int split(SubbandNode& root, const float* plane, std::ptrdiff_t pitch, bool in_place = false);

// Adds each leaf's own coefficients, less its last right_overlap columns and lower_overlap
// rows (still pending on later blocks), to the leaf's statistics.
void gather_statistics(SubbandNode& root);
