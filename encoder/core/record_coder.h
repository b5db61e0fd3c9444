// Codes the subband records of a coding pass into the subbands' temporary files: allocates the
// step sizes from the statistics of the contributing blocks, quantises every band (dithering
// band 0 when asked), and appends the band payloads with their directory entries.
#pragma once

#include "encoder/core/block_tiler.h"
#include "encoder/core/step_allocation.h"
#include "encoder/core/subband_map.h"

class RecordCoder : public RecordSink {
 public:
  RecordCoder(SubbandMap& map, const StepAllocation& allocation, bool dither);
  void write_record(SubbandRecordData& record) override;

 private:
  void write_band(SubbandMapEntry& entry, SubbandRecordData& record, int band, float& step,
                  int64_t& offset);

  SubbandMap& map_;
  StepAllocation allocation_;
  bool dither_;
};

// Variances indexed subband * bands + band from per-subband statistics.
std::vector<double> variances_of(const std::vector<CoefficientStatistics>& statistics);
