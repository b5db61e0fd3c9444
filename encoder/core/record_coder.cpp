#include "encoder/core/record_coder.h"

#include <algorithm>
#include <cstdio>

#include "codec/quantizer.h"
#include "encoder/core/rd_indices.h"
#include "encoder/core/rd_model.h"
#include "encoder/writer/band_payload.h"
#include "platform/error.h"
#include "platform/uninitialized_allocator.h"

std::vector<double> variances_of(const std::vector<CoefficientStatistics>& statistics) {
  std::vector<double> v;
  v.reserve(statistics.size());
  for (const CoefficientStatistics& s : statistics) v.push_back(s.variance());
  return v;
}

RecordCoder::RecordCoder(SubbandMap& map, const StepAllocation& allocation, bool dither,
                         platform::ThreadPool* pool)
    : map_(map), allocation_(allocation), dither_(dither), pool_(pool) {
  if (pool_ && pool_->workers() > 0)
    coding_ = std::make_unique<platform::OrderedResults<CodedRecord>>(size_t(pool_->workers()));
}

void RecordCoder::write_record(SubbandRecordData& record) {
  if (record.width() <= 0 || record.height() <= 0) return;
  if (!coding_) {
    append(code(record));
    return;
  }
  if (coding_->full()) append(coding_->take());
  auto owned = std::make_shared<SubbandRecordData>(std::move(record));
  coding_->add(pool_->submit([this, owned] { return code(*owned); }));
}

void RecordCoder::finish() {
  while (coding_ && !coding_->empty()) append(coding_->take());
}

std::vector<float> RecordCoder::chosen_steps_for(int subband, int bands) const {
  const auto first = chosen_steps_->begin() + ptrdiff_t(subband) * bands;
  return std::vector<float>(first, first + bands);
}

RecordCoder::CodedRecord RecordCoder::code(SubbandRecordData& record) const {
  record.assemble();
  CodedRecord coded;
  coded.subband = record.subband;
  std::vector<float> steps =
      chosen_steps_ ? chosen_steps_for(record.subband, allocation_.bands)
                    : allocate_steps(allocation_, variances_of(record.statistics), record.subband, false);
  bool any = false;
  for (float s : steps) any = any || s != 0.0f;
  if (!any) return coded;
  const SubbandMapEntry& entry = map_.at(size_t(record.subband));
  SubbandRecordEntry& dir = coded.entry;
  dir.x0 = record.x0;
  dir.x1 = record.x1;
  dir.y0 = record.y0;
  dir.y1 = record.y1;
  dir.offsets.assign(steps.size(), -1);
  dir.sizes.assign(steps.size(), 0);
  coded.payloads.resize(steps.size());
  for (int b = 0; b < int(steps.size()); ++b)
    if (steps[size_t(b)] != 0.0f)
      coded.payloads[size_t(b)] = code_band(entry, record, b, steps[size_t(b)]);
  if (chosen_steps_) {
    any = false;
    for (float s : steps) any = any || s != 0.0f;
    if (!any) return CodedRecord{};
  }
  dir.steps = std::move(steps);
  return coded;
}

std::vector<uint8_t> RecordCoder::code_band(const SubbandMapEntry& entry,
                                            SubbandRecordData& record, int band,
                                            float& step) const {
  platform::FloatBuffer& data = record.bands.at(size_t(band));
  step = quantizer_step(data.data(), data.size(), step);
  if (band == 0 && dither_)
    add_dither(data.data(), record.x0, record.x1, record.y0, record.y1, step, &entry.offsets);
  // Every index is written by the quantiser, so the buffer is not cleared first.
  std::vector<int16_t, platform::UninitializedAllocator<int16_t>> indices(data.size());
  if (chosen_steps_) {
    bool any = rd_quantize_all(data.data(), data.size(), step, indices.data());
    if (any && error_per_byte_) {
      rd_choose_indices(data.data(), record.width(), record.height(), step,
                        (*error_per_byte_)[size_t(record.subband) * allocation_.bands + size_t(band)],
                        indices.data());
      any = std::any_of(indices.begin(), indices.end(), [](int16_t q) { return q != 0; });
    }
    // The low-pass subband's first band is coded even when all its indices are zero: readers
    // take its blocks as the tiling of the image, so leaving one out leaves an unreadable file.
    if (!any && !(record.subband == 0 && band == 0)) {
      step = 0.0f;  // nothing to code
      return {};
    }
    return code_band_part(indices, record.width(), record.height(), step);
  }
  quantize_indices(data.data(), data.size(), step, indices.data());
  return code_band_part(indices, record.width(), record.height(), step);
}

void RecordCoder::append(CodedRecord coded) {
  if (coded.entry.steps.empty()) return;  // every band uncoded: no directory entry
  SubbandMapEntry& entry = map_.at(size_t(coded.subband));
  FILE* f = entry.file.stream();
  for (size_t b = 0; b < coded.payloads.size(); ++b) {
    const std::vector<uint8_t>& bytes = coded.payloads[b];
    if (coded.entry.steps[b] == 0.0f) continue;
    coded.entry.offsets[b] = ftello(f);
    coded.entry.sizes[b] = int64_t(bytes.size());
    if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
      throw TempWriteError(entry.file.name().str());
  }
  entry.records.push_back(std::move(coded.entry));
}
