// Block-by-block decomposition with exact seams. Each block is transformed over its extended
// ranges as if the image were zero outside it (mirrored at image edges); by linearity the
// whole-image coefficients are the sums of these partial transforms. The partial coefficients a
// block computes beyond its own rectangle are added into the neighbouring blocks' leaves (at
// once when the neighbour is already transformed, else when its turn comes).
//
// Every leaf's own rectangle is kept as four regions: the main part, which is final as soon as
// the block is corrected, and the strips to which the right, lower and lower-right neighbours
// still contribute, each final once that neighbour is transformed. A dump of subband k gathers
// every final region not yet written into one record (their union is a rectangle, which is
// checked), so each coefficient is written exactly once and only when final. Memory holds the
// blocks of the pending groups and the strips along the frontier of the Morton walk.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "encoder/core/block_grid.h"
#include "encoder/core/subband_tree.h"
#include "platform/uninitialized_allocator.h"

// One subband record: the coefficients of a rectangle of subband `subband`, one row-major plane
// per band, with the statistics (index subband * bands + band, over every subband) of the
// blocks that contributed to it, from which its step sizes are allocated.
struct SubbandRecordData {
  int subband = 0;
  int x0 = 0, x1 = -1, y0 = 0, y1 = -1;
  std::vector<platform::FloatBuffer> bands;
  std::vector<CoefficientStatistics> statistics;
  // Before assemble(): the rectangles that tile the record, each with its planes per band.
  struct Part {
    int x0, x1, y0, y1;
    std::vector<platform::FloatBuffer> bands;
  };
  std::vector<Part> parts;

  int width() const { return x1 - x0 + 1; }
  int height() const { return y1 - y0 + 1; }
  // Puts the parts together into `bands` (nothing to do once they are). Throws Error
  // "Memory allocation error.".
  void assemble();
};

class RecordSink {
 public:
  virtual ~RecordSink() = default;
  virtual void write_record(SubbandRecordData& record) = 0;
  // True for a sink that assembles the records itself (on its worker threads), so that the
  // tiler hands them over in parts; other sinks receive them assembled.
  virtual bool takes_parts() const { return false; }
};

// A rectangle of one subband's coefficients that a block owns, with its planes per band.
struct BlockRegion {
  int x0 = 0, x1 = -1, y0 = 0, y1 = -1;
  int64_t finalizer = -1;  // the block whose transform makes this region final
  bool written = false;
  std::vector<platform::FloatBuffer> data;  // per band

  bool empty() const { return x1 < x0 || y1 < y0; }
  int64_t area() const { return empty() ? 0 : int64_t(x1 - x0 + 1) * (y1 - y0 + 1); }
};

// A block's partial coefficients over a rectangle that a neighbouring block owns.
struct BorderPiece {
  int subband, band, x0, x1, y0, y1;
  int64_t target;  // the Morton index of the block that owns the rectangle
  std::vector<float> data;
};

// The wavelet transform of one block, made apart from the tiler's bookkeeping so that several
// blocks can be transformed at once, and already cut as the tiler keeps it: per subband the
// four regions of the block's own rectangle (main part, then the strips to which the right,
// lower and lower-right neighbours still contribute), the statistics of the main parts, and
// the pieces for the neighbours in the order they are added.
struct TransformedBlock {
  int64_t index = -1;
  std::vector<std::array<BlockRegion, 4>> regions;
  std::vector<CoefficientStatistics> stats;  // subband * bands + band
  std::vector<BorderPiece> pieces;
};

namespace platform {
class ThreadPool;
}

class BlockTiler {
 public:
  BlockTiler(const BlockGrid& grid, int nlev, int bands);

  // Transforms the block at Morton index `index` (which must lie in the image); `planes` as
  // for transform_block. Touches no state of the tiler, so it may run on any thread.
  TransformedBlock transform(int64_t index, const float* planes) const;
  // Files a transformed block and exchanges its border contributions; blocks are added in
  // Morton order.
  void add_block(TransformedBlock& block);

  // Transforms the block at Morton index `index` (which must lie in the image) and exchanges
  // its border contributions. `planes` holds `bands` planes of the block's rectangle, each
  // row-major with the rectangle's width. Throws Error "Error encountered in subroutine
  // split." / "... correct.".
  void transform_block(int64_t index, const float* planes);

  // Writes the records of the subbands that set_dump_list names for `index` (-1: everything
  // left). `poll` runs before each record (the caller's interrupt check).
  void dump(int64_t index, RecordSink& sink, const std::function<void()>& poll = {});

  // Statistics of every coefficient counted so far, index subband * bands + band.
  const std::vector<CoefficientStatistics>& total_statistics() const { return totals_; }
  // Blocks whose data or statistics are still held.
  size_t held_blocks() const { return blocks_.size(); }
  // Coefficients still held (regions not yet written and contributions not yet added).
  size_t held_coefficients() const;

 private:
  using Region = BlockRegion;
  using Piece = BorderPiece;
  enum RegionKind { kMain, kRight, kLower, kCorner };
  struct BlockState {
    bool transformed = false;
    std::vector<std::array<Region, 4>> leaves;  // per subband
    std::vector<CoefficientStatistics> stats;          // subband * bands + band
    std::vector<Piece> pending;                 // contributions of blocks transformed earlier
  };

  void transform_band(int64_t index, const float* plane, SubbandNode& root) const;
  void cut_band(int band, SubbandNode& root, TransformedBlock& block) const;
  void set_regions(int64_t index, int subband, const SubbandNode& leaf,
                   TransformedBlock& block) const;
  void cut_borders(int64_t index, int subband, int band, SubbandNode& leaf,
                   TransformedBlock& block) const;
  void send_piece(int64_t index, Piece& piece);
  void add_piece(BlockState& target, const Piece& piece, bool pending_only);
  void dump_subband(int64_t index, int k, RecordSink& sink);
  void release_finished();

  BlockGrid grid_;
  int nlev_, bands_, subbands_;
  std::map<int64_t, BlockState> blocks_;
  std::vector<CoefficientStatistics> totals_;
};

// Pixels of one block: `bands` planes of the rectangle, row-major, plane after plane.
using BlockSource = std::function<void(const BlockRect& rect, platform::FloatBuffer& planes)>;
// Polled between steps; throws to stop the run.
using StepCheck = std::function<void()>;

// Visits the grid in Morton order: reports progress from `progress_start` to `progress_end` in
// equal steps per block of the image (before each), transforms each block, dumps after each
// cell and everything at the end. `check` runs before each block and each record. With a
// `pool` that has workers, blocks are read (one at a time, in Morton order) and transformed on
// the workers, at most one block ahead per worker, and filed here in Morton order, so the
// records are the same as without.
void decompose_blocks(const BlockGrid& grid, int bands, const BlockSource& source,
                      RecordSink& sink, BlockTiler& tiler, const StepCheck& check,
                      const std::function<void(float)>& progress, float progress_start,
                      float progress_end, platform::ThreadPool* pool = nullptr);
