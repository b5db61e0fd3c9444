#include "encoder/core/block_grid.h"

#include <algorithm>

#include "platform/error.h"

int minimum_block_extent(int nlev) { return 4 * (1 << (nlev + 1)) - 7; }

int block_extent(int dimension, int block_size, int nlev) {
  const int m = minimum_block_extent(nlev);
  if (dimension < m) throw Quorvale::Exception("Error: image too small for given nlev.");
  int f = std::min(block_size, dimension);
  // A block no longer than the minimum would let one block's partial coefficients reach past
  // its neighbour; only a block spanning the whole axis may be that short.
  if (f <= 0 || (f < dimension && f <= m))
    throw Quorvale::Exception("Error: block size too small for given nlev.");
  while (dimension % f != 0 && dimension % f <= m) {
    --f;
    if (f <= m) throw Quorvale::Exception("Error: block size too small for given nlev.");
  }
  return f;
}

BlockGrid::BlockGrid(int width, int height, int block_size, int nlev, bool full_width_blocks)
    : width_(width), height_(height) {
  const int m = minimum_block_extent(nlev);
  if (width < m || height < m) throw Quorvale::Exception("Error: image too small for given nlev.");
  block_width_ = block_extent(width, block_size, nlev);
  block_height_ = block_extent(height, block_size, nlev);
  if (full_width_blocks) block_width_ = width;
  columns_ = (width + block_width_ - 1) / block_width_;
  rows_ = (height + block_height_ - 1) / block_height_;
  const int64_t last = morton_index(columns_ - 1, rows_ - 1);
  node_count_ = 1;
  while (node_count_ <= last) node_count_ *= 4;
}

int64_t BlockGrid::morton_index(int column, int row) {
  int64_t index = 0;
  for (int k = 0; k < 31; ++k) {
    index |= int64_t((column >> k) & 1) << (2 * k);
    index |= int64_t((row >> k) & 1) << (2 * k + 1);
  }
  return index;
}

void BlockGrid::morton_cell(int64_t index, int& column, int& row) {
  column = row = 0;
  for (int k = 0; k < 31; ++k) {
    column |= int((index >> (2 * k)) & 1) << k;
    row |= int((index >> (2 * k + 1)) & 1) << k;
  }
}

BlockRect BlockGrid::rect(int column, int row) const {
  // 64-bit ends: the last block of an image near 2^31 pixels wide would overflow an int.
  const int64_t x0 = int64_t(column) * block_width_, y0 = int64_t(row) * block_height_;
  return {int(x0), int(std::min<int64_t>(width_, x0 + block_width_) - 1), int(y0),
          int(std::min<int64_t>(height_, y0 + block_height_) - 1)};
}
