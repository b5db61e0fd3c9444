// Block geometry of one image: the block edge per axis and the Morton (Z) order in which blocks
// are visited. Grid cell (column, row) has the index whose even bits are the column's bits and
// whose odd bits are the row's; the walk covers the smallest power of 4 of cells that reaches
// the image's lower right block, so cells wholly outside the image are visited too (and hold no
// data) while the dump schedule stays aligned to groups of 4^k blocks.
#pragma once

#include <cstdint>

// Smallest dimension an image (and a partial last block) needs for nlev levels:
// 4 x 2^(nlev + 1) - 7, so that no block's reach through the filters passes its neighbours.
int minimum_block_extent(int nlev);

// The block edge along an axis of `dimension` samples: the block size, shortened until the
// last partial block is absent or longer than the minimum. Throws Quorvale::Exception
// "Error: image too small for given nlev." / "Error: block size too small for given nlev.".
int block_extent(int dimension, int block_size, int nlev);

struct BlockRect {
  int x0, x1, y0, y1;  // inclusive, in image coordinates, clipped to the image
};

class BlockGrid {
 public:
  // Checks both image dimensions first (the smaller one decides the "too small" error), then
  // sizes the blocks; with `full_width_blocks` a block spans the whole width. Refuses at once
  // (Quorvale::Exception) a grid of more than 65536 blocks along a side, whose walk would not
  // end in reasonable time and whose coordinates the file could not all hold.
  BlockGrid(int width, int height, int block_size, int nlev, bool full_width_blocks);

  int width() const { return width_; }
  int height() const { return height_; }
  int block_width() const { return block_width_; }
  int block_height() const { return block_height_; }
  int columns() const { return columns_; }  // blocks across the image
  int rows() const { return rows_; }
  int64_t blocks_in_image() const { return int64_t(columns_) * rows_; }
  // Cells in Morton order: a power of 4.
  int64_t node_count() const { return node_count_; }

  static int64_t morton_index(int column, int row);
  static void morton_cell(int64_t index, int& column, int& row);
  bool in_image(int column, int row) const {
    return column >= 0 && row >= 0 && column < columns_ && row < rows_;
  }
  BlockRect rect(int column, int row) const;

 private:
  int width_, height_, block_width_, block_height_, columns_, rows_;
  int64_t node_count_;
};
