// The rate-distortion mode of Encoder: the image is transformed once; the records go both to
// the rate-distortion model and, unquantised, to a spool. The steps are then chosen for the
// whole image and the spooled records coded with them. Nothing the decoder reads changes: only
// the steps, tables and records differ from the default mode's, and there is no dither.
#include <cmath>
#include <cstdio>
#include <memory>

#include "encoder/core/coefficient_spool.h"
#include "encoder/core/encoder.h"
#include "encoder/core/rd_allocation.h"
#include "encoder/core/rd_model.h"
#include "encoder/core/record_coder.h"
#include "encoder/core/subband_tree.h"
#include "encoder/format/band_payload.h"
#include "encoder/format/vxl_writer.h"
#include "encoder/metadata/metadata.h"
#include "platform/error.h"

using Quorvale::FileSpecification;

namespace {

constexpr int kMaxLevels = 5;  // one decomposition stage
constexpr float kMeasureEnd = 0.6f;
constexpr float kCodeEnd = 0.94f;
// A file further than this from the size asked for is coded again with the rates measured.
constexpr double kSizeTolerance = 0.012;

// Hands each record to the spool and to the model. With workers, the records are measured
// there, at most one ahead per worker, and added to the model in the order they came.
class MeasuringSink : public RecordSink {
 public:
  MeasuringSink(RdModel& model, CoefficientSpool& spool, std::vector<int>& records,
                platform::ThreadPool& pool)
      : model_(model), spool_(spool), records_(records), pool_(pool) {
    if (pool_.workers() > 0)
      measuring_ = std::make_unique<platform::OrderedResults<Measured>>(size_t(pool_.workers()));
  }
  void write_record(SubbandRecordData& record) override {
    if (record.width() <= 0 || record.height() <= 0) return;
    records_.at(size_t(record.subband))++;
    spool_.write_record(record);
    if (!measuring_) {
      add(measure(record));
      return;
    }
    if (measuring_->full()) add(measuring_->take());
    auto owned = std::make_shared<SubbandRecordData>(std::move(record));
    measuring_->add(pool_.submit([owned] { return measure(*owned); }));
  }
  // Adds the records still being measured.
  void finish() {
    while (measuring_ && !measuring_->empty()) add(measuring_->take());
  }

 private:
  struct Measured {
    int subband = 0;
    std::vector<BandRates> bands;
  };
  static Measured measure(const SubbandRecordData& record) {
    thread_local RdBandMeter meter(kRecordSize, kRecordSize);
    Measured m;
    m.subband = record.subband;
    for (const std::vector<float>& plane : record.bands)
      m.bands.push_back(meter.measure(plane.data(), record.width(), record.height()));
    return m;
  }
  void add(const Measured& m) {
    for (size_t b = 0; b < m.bands.size(); ++b) model_.add(m.subband, int(b), m.bands[b]);
  }

  RdModel& model_;
  CoefficientSpool& spool_;
  std::vector<int>& records_;
  platform::ThreadPool& pool_;
  // Last member: destroyed first, waiting for the tasks that use the others.
  std::unique_ptr<platform::OrderedResults<Measured>> measuring_;
};

// Bytes of the file that do not depend on the steps: header, subband offsets, the record
// directories, the metadata block and the end marker.
double fixed_bytes(const Image& image, const CompressionParameters& p,
                   const std::vector<int>& records, int bands) {
  double bytes = 4 + 3 + 16 + 4.0 * double(records.size()) + 2 + 4 + 2;
  for (int n : records) bytes += 2 + 2 + 4 + 4.0 * n * (bands + 4);
  MetadataList metadata;
  build_output_metadata(image, p, &metadata);
  const uint16_t one = 1;
  metadata_add(&metadata, "IMAGE::EOM", TYPE_SHORT, 1, std::array<int, 1>{1}.data(), &one);
  std::vector<uint8_t> block;
  if (metadata_serialize(&metadata, &block) == 0) bytes += double(block.size());
  metadata_destroy(&metadata);
  return bytes;
}

double psnr_of(double mse) { return mse > 0.0 ? 10.0 * std::log10(255.0 * 255.0 / mse) : 99.0; }

}  // namespace

Encoder::RdOutcome Encoder::encode_rd(const FileSpecification& output, const RdRequest& request) {
  if (nlev_ > kMaxLevels) throw Error("Error: -rdo takes at most 5 levels (-n 5).");
  if (!(request.ratio > 0.0) || !std::isfinite(request.ratio))
    throw Error("Error: the target compression ratio must be a positive number.");
  if (request.luma_psnr < 0.0 || !std::isfinite(request.luma_psnr))
    throw Error("Error: the PSNR target must be a positive number of dB.");
  write_side_files(*image_, output);
  const int bands = image_->coded_bands();
  const int subbands = subband_count(nlev_);
  RdModel model(subbands, bands, kRecordSize, kRecordSize);
  CoefficientSpool spool(temp_dir(), bands);
  std::vector<int> records(size_t(subbands), 0);
  platform::ThreadPool pool(threads_);
  {
    MeasuringSink sink(model, spool, records, pool);
    decompose_to(sink, 0.0f, kMeasureEnd, pool);
    sink.finish();
  }
  check_interrupt();

  RdWeights weights;
  weights.nlev = nlev_;
  weights.colour = bands >= 3 && image_->data_type != kImageFloat;
  weights.perceptual = request.perceptual;
  weights.weight = weight_;
  weights.gamma = gamma_;
  const double pixels = double(image_->image_width) * double(image_->image_height);
  const CompressionParameters p = parameters(false);
  const double fixed = fixed_bytes(*image_, p, records, bands);
  RdTarget target;
  target.luma_psnr = request.luma_psnr;
  const double wanted = pixels * bands / request.ratio;
  target.bytes = std::max(wanted - fixed, 1.0);
  RdChoice choice = choose_steps(model, weights, target, pixels);

  const auto poll = [this] { check_interrupt(); };
  auto code = [&](const RdChoice& c) {
    SubbandMap map = subband_map_init(nlev_, temp_dir());
    {
      StepAllocation allocation;
      allocation.nlev = nlev_;
      allocation.bands = bands;
      RecordCoder coder(map, allocation, false, &pool);
      coder.use_chosen_steps(&c.steps);
      spool.replay(coder, poll);
      coder.finish();
    }
    write_eof(map);
    if (progress_) progress_(kCodeEnd);
    write_vxl_file(*image_, map, output, interrupted_, progress_, kCodeEnd, 0.99f, p);
  };
  code(choice);
  // The model's bytes are estimates; when the file misses the size, the steps are chosen
  // again for the budget scaled by how far the estimate was off, and coded once more.
  if (request.luma_psnr <= 0.0 && !output.is_uninitialized()) {
    const double actual = double(Quorvale::file_size_of(output));
    if (std::fabs(actual - wanted) > kSizeTolerance * wanted && actual > fixed) {
      target.bytes *= choice.bytes / (actual - fixed);
      choice = choose_steps(model, weights, target, pixels);
      code(choice);
    }
  }
  return {psnr_of(choice.luma_mse), psnr_of(choice.rgb_mse)};
}
