// Each band's statistics over the pixels the encoder reads, gathered block by block: every pixel
// once (a block's own rectangle, not the margin read around it), nodata samples and samples that
// are not finite left out. Integer samples are summed exactly; the blocks' partial results of
// float samples are combined pairwise (Chan, Golub and LeVeque) in the blocks' Morton order, so
// that the result does not depend on the order in which workers hand the blocks in. 8-bit
// samples are counted value by value as well, for the exact histogram.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "encoder/core/block_grid.h"
#include "image/pixel_data.h"
#include "metadata/band_histogram.h"
#include "metadata/band_statistics.h"

class SourceStatistics {
 public:
  SourceStatistics(const BlockGrid& grid, int bands, std::optional<double> nodata);

  // Counts the samples of the first `bands` planes of `pixels`, which cover `extent`, that lie
  // in `block`, a block of the grid. May be called from several threads at once.
  void add(const PixelData& pixels, const BlockRect& extent, const BlockRect& block);
  // Per band; empty when a band has no sample to count.
  std::vector<BandStatistics> result() const;
  // Per band, the counts of the 8-bit values counted; empty for other sample types.
  const std::vector<BandHistogram>& histograms() const { return histograms_; }

  // The moments of a set of samples.
  struct Moments {
    uint64_t count = 0;
    double minimum = 0, maximum = 0;
    __int128 sum = 0;               // integer samples, exactly
    unsigned __int128 squares = 0;  // integer samples, exactly
    double mean = 0, deviations = 0;  // float samples: the mean and the sum of squared deviations
    void merge(const Moments& other);
  };

 private:
  void fold_ready();

  BlockGrid grid_;
  int bands_;
  bool integer_ = true;  // the samples' type, the same in every block
  std::optional<double> nodata_;
  std::mutex lock_;
  std::map<int64_t, std::vector<Moments>> waiting_;  // blocks handed in ahead of their turn
  int64_t next_ = 0;                                 // Morton index of the next block to fold
  std::vector<Moments> totals_;
  std::vector<BandHistogram> histograms_;  // 8-bit samples; sums, so in any order
};
