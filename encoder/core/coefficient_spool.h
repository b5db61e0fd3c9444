// Subband records kept unquantised in a temporary file, so that a coding pass can follow a
// measuring pass without transforming the image again. Memory holds one record at a time.
#pragma once

#include <functional>

#include "encoder/core/block_tiler.h"
#include "platform/temp_file.h"

class CoefficientSpool : public RecordSink {
 public:
  CoefficientSpool(const Quorvale::FileSpecification* temp_dir, int bands);
  void write_record(SubbandRecordData& record) override;
  // Hands every record back, in the order written, to `sink`; `poll` runs before each.
  void replay(RecordSink& sink, const std::function<void()>& poll);

 private:
  Quorvale::ScopedTempFile file_;
  int bands_;
};
