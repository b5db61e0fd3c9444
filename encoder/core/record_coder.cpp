#include "encoder/core/record_coder.h"

#include "encoder/core/quantizer.h"
#include "encoder/format/block_coder.h"
#include "encoder/format/ht_desc_io.h"
#include "encoder/format/huffman_table.h"
#include "encoder/format/symbol_alphabet.h"
#include "platform/error.h"

std::vector<double> variances_of(const std::vector<CoefficientStatistics>& statistics) {
  std::vector<double> v;
  v.reserve(statistics.size());
  for (const CoefficientStatistics& s : statistics) v.push_back(s.variance());
  return v;
}

RecordCoder::RecordCoder(SubbandMap& map, const StepAllocation& allocation, bool dither)
    : map_(map), allocation_(allocation), dither_(dither) {}

void RecordCoder::write_record(SubbandRecordData& record) {
  if (record.width() <= 0 || record.height() <= 0) return;
  std::vector<float> steps =
      allocate_steps(allocation_, variances_of(record.statistics), record.subband, false);
  bool any = false;
  for (float s : steps) any = any || s != 0.0f;
  if (!any) return;
  SubbandMapEntry& entry = map_.at(size_t(record.subband));
  SubbandRecordEntry dir;
  dir.x0 = record.x0;
  dir.x1 = record.x1;
  dir.y0 = record.y0;
  dir.y1 = record.y1;
  dir.offsets.assign(steps.size(), -1);
  for (int b = 0; b < int(steps.size()); ++b)
    if (steps[size_t(b)] != 0.0f) write_band(entry, record, b, steps[size_t(b)], dir.offsets[size_t(b)]);
  dir.steps = std::move(steps);
  entry.records.push_back(std::move(dir));
}

void RecordCoder::write_band(SubbandMapEntry& entry, SubbandRecordData& record, int band,
                             float& step, int64_t& offset) {
  std::vector<float>& data = record.bands.at(size_t(band));
  step = quantizer_step(data.data(), data.size(), step);
  if (band == 0 && dither_)
    add_dither(data.data(), record.x0, record.x1, record.y0, record.y1, step, &entry.offsets);
  std::vector<int16_t> indices(data.size());
  quantize_indices(data.data(), data.size(), step, indices.data());
  HuffmanTableDescriptor desc;
  HuffmanCodeTable table;
  if (GenHTDesc2(indices, kValueRange, kRunRange, desc) != 0 || GenCode2(desc, table) != 0)
    throw Error("Error encountered in subroutine output2disk.");
  FILE* f = entry.file.stream();
  offset = ftello(f);
  if (write_ht_desc(f, kTableDescriptorMarker, desc) != 0 || write_float(f, step) != 0 ||
      encode_block2(indices, table, kValueRange, kRunRange, f) != 0)
    throw Quorvale::Exception("Write error. Check that temporary directory is not full.");
}
