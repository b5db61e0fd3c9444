#include "encoder/core/block_grid.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "platform/error.h"

namespace {

constexpr int64_t kMaxBlocksAlongSide = 65536;

}  // namespace

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
  if (width < m || height < m)
    throw Quorvale::Exception(format_message(
        "Error: image too small for given nlev.\nThe image is %d x %d pixels; %d levels need at "
        "least %d in each direction.",
        width, height, nlev, m));
  // The filters reach past a block's edge; every coordinate of the transform stays inside int.
  const int reach = 2 * (m + 7);
  if (width > INT_MAX - reach || height > INT_MAX - reach)
    throw Quorvale::Exception(format_message(
        "Error: an image of %d x %d pixels is too large to encode.", width, height));
  block_width_ = block_extent(width, block_size, nlev);
  block_height_ = block_extent(height, block_size, nlev);
  if (full_width_blocks) block_width_ = width;
  const int64_t columns = (int64_t{width} + block_width_ - 1) / block_width_;
  const int64_t rows = (int64_t{height} + block_height_ - 1) / block_height_;
  // The Z-order walk visits a square of cells whose side is the longer side of the grid, and
  // a subband section of the file counts its blocks in 32 bits.
  if (columns > kMaxBlocksAlongSide || rows > kMaxBlocksAlongSide || columns * rows > INT32_MAX)
    throw Quorvale::Exception(format_message(
        "Error: an image of %d x %d pixels makes %lld x %lld blocks of %d x %d, more than the "
        "encoder can walk (65536 along a side); use a larger block size.",
        width, height, static_cast<long long>(columns), static_cast<long long>(rows),
        block_width_, block_height_));
  columns_ = int(columns);
  rows_ = int(rows);
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
