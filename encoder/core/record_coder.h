// Codes the subband records of a coding pass into the subbands' temporary files: allocates the
// step sizes from the statistics of the contributing blocks, quantises every band (dithering
// band 0 when asked), and appends the band payloads with their directory entries.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "encoder/core/block_tiler.h"
#include "encoder/core/step_allocation.h"
#include "encoder/core/subband_map.h"
#include "platform/thread_pool.h"

class RecordCoder : public RecordSink {
 public:
  // With a `pool` that has workers, records are coded there and appended to the files in the
  // order they arrived, at most one record ahead per worker; finish() appends the last ones.
  RecordCoder(SubbandMap& map, const StepAllocation& allocation, bool dither,
              platform::ThreadPool* pool = nullptr);
  // The rate-distortion mode: the step of every subband and band (index subband * bands +
  // band) is given, indices are chosen by its quantiser, and a band whose indices are all
  // zero is left uncoded.
  // With `error_per_byte` (same indexing), indices are then lowered where the bits they save
  // are worth more than the error they add.
  void use_chosen_steps(const std::vector<float>* steps,
                        const std::vector<double>* error_per_byte = nullptr) {
    chosen_steps_ = steps;
    error_per_byte_ = error_per_byte;
  }
  void write_record(SubbandRecordData& record) override;
  // Records are assembled where they are coded, on the workers.
  bool takes_parts() const override { return true; }
  // Appends every record still being coded. Call before the files are ended.
  void finish();

 private:
  // One record, coded but not yet appended: per band its step and payload bytes.
  struct CodedRecord {
    int subband = 0;
    SubbandRecordEntry entry;
    std::vector<std::vector<uint8_t>> payloads;
  };
  CodedRecord code(SubbandRecordData& record) const;
  std::vector<float> chosen_steps_for(int subband, int bands) const;
  std::vector<uint8_t> code_band(const SubbandMapEntry& entry, SubbandRecordData& record,
                                 int band, float& step) const;
  void append(CodedRecord coded);

  SubbandMap& map_;
  StepAllocation allocation_;
  bool dither_;
  platform::ThreadPool* pool_;
  const std::vector<float>* chosen_steps_ = nullptr;
  const std::vector<double>* error_per_byte_ = nullptr;
  // Last member: destroyed first, waiting for the tasks that use the others.
  std::unique_ptr<platform::OrderedResults<CodedRecord>> coding_;
};

// Variances indexed subband * bands + band from per-subband statistics.
std::vector<double> variances_of(const std::vector<CoefficientStatistics>& statistics);
