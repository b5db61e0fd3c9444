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
#include "encoder/core/rd_budget.h"
#include "encoder/core/rd_indices.h"
#include "encoder/core/rd_model.h"
#include "encoder/core/record_coder.h"
#include "encoder/core/subband_tree.h"
#include "encoder/writer/band_payload.h"
#include "encoder/writer/vxl_writer.h"
#include "metadata/metadata.h"
#include "platform/error.h"

using Quorvale::FileSpecification;

namespace {

constexpr float kMeasureEnd = 0.6f;
constexpr float kCodeEnd = 0.94f;
// A file further than this from the size asked for is coded again with the rates measured,
// at most kSizeTrials times: each coding costs about as much as the whole default mode, so
// the tolerance takes most of the 2 % promised.
constexpr double kSizeTolerance = 0.018;
constexpr int kSizeTrials = 8;
// Budgets in a row that change no step before the size counts as out of the steps' reach
// (choosing costs microseconds; from the coarsest steps the budget grows about 20 times each).
constexpr int kSameSteps = 12;
// One piece in kSampleEvery is tried with the choice of indices before coding; and how the
// bytes it leaves grow with the bytes the model is asked for, until two samples measure it.
constexpr size_t kSampleEvery = 8;
constexpr double kBytesElasticity = 1.25;

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
    for (const platform::FloatBuffer& plane : record.bands)
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

// The choice of indices tried on some records at the steps chosen: the model prices the plain
// quantiser, so its bytes and errors are scaled by what the choice of indices does there.
class IndexChoiceSample : public RecordSink {
 public:
  IndexChoiceSample(const RdChoice& choice, int subbands, int bands)
      : choice_(choice),
        bands_(bands),
        added_(size_t(subbands) * size_t(bands), 0.0),
        sampled_(added_.size(), 0.0),
        before_(added_.size(), 0.0),
        after_(added_.size(), 0.0) {}
  void write_record(SubbandRecordData& record) override {
    for (int b = 0; b < bands_; ++b) {
      const size_t term = size_t(record.subband) * size_t(bands_) + size_t(b);
      const float step = choice_.steps.at(term);
      if (step == 0.0f) continue;
      const platform::FloatBuffer& plane = record.bands[size_t(b)];
      // Every subband and band is sampled evenly, whatever the size of its records.
      size_t& seen = pieces_[term];
      const auto take = [&seen](size_t) { return seen++ % kSampleEvery == 0; };
      const RdIndexEffect effect = rd_index_effect(plane.data(), record.width(), record.height(),
                                                   step, choice_.error_per_byte.at(term), take);
      sampled_[term] += effect.coefficients;
      before_[term] += effect.bits_before;
      after_[term] += effect.bits_after;
      added_[term] += effect.added_error;
    }
  }
  // The bytes the choice of indices leaves of the model's estimate, per subband and band
  // where sampled, elsewhere as in all the samples together.
  double bytes_left() const {
    double before = 0.0, after = 0.0;
    for (size_t i = 0; i < before_.size(); ++i) before += before_[i], after += after_[i];
    const double overall = before > 0.0 ? after / before : 1.0;
    double left = 0.0;
    for (size_t i = 0; i < before_.size(); ++i)
      left += choice_.term_bytes[i] * (before_[i] > 0.0 ? after_[i] / before_[i] : overall);
    return left;
  }
  // Squared error added over the whole image, weighted per subband and band by `weight`.
  template <class Weight>
  double added_error(const RdModel& model, Weight weight) const {
    double e = 0.0;
    for (int k = 0; k < model.subbands(); ++k)
      for (int b = 0; b < bands_; ++b) {
        const size_t term = size_t(k) * size_t(bands_) + size_t(b);
        if (sampled_[term] > 0.0)
          e += weight(k, b) * added_[term] * model.count(k, b) / sampled_[term];
      }
    return e;
  }

 private:
  const RdChoice& choice_;
  int bands_;
  std::vector<double> added_, sampled_, before_, after_;  // per subband and band
  std::vector<size_t> pieces_ = std::vector<size_t>(added_.size(), 0);  // seen

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
  check_geometry(Mode::kRateDistortion);
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
  LeastBudget least(model, weights, target, pixels);
  target.bytes = least.at_least(wanted - fixed);
  RdChoice choice = choose_steps(model, weights, target, pixels);

  const auto poll = [this] { check_interrupt(); };
  // The choice of indices saves bytes and adds error: sampled at the steps chosen, it moves
  // the target the steps are chosen for, twice (the second time along the measured slope).
  const auto luma_weight = [&](int k, int b) { return b == 0 ? synthesis_gain(k, nlev_) : 0.0; };
  const auto rgb_weight = [&](int k, int b) {
    return synthesis_gain(k, nlev_) * (weights.colour ? colour_gain(b) : 1.0);
  };
  double elasticity = kBytesElasticity;
  double added_luma = 0.0, added_rgb = 0.0;
  double asked = target.bytes, got = 0.0;  // the model's target and the bytes it would leave
  for (int round = 0; round < 2; ++round) {
    IndexChoiceSample sample(choice, subbands, bands);
    spool.replay(sample, poll);
    added_luma = sample.added_error(model, luma_weight) / pixels;
    added_rgb = sample.added_error(model, rgb_weight) / (pixels * bands);
    if (request.luma_psnr > 0.0) {
      const double mse = 255.0 * 255.0 * std::pow(10.0, -request.luma_psnr / 10.0);
      target.luma_psnr = psnr_of(std::max(mse - added_luma, 0.5 * mse));
    } else {
      const double left = sample.bytes_left();
      if (round == 1 && got > 0.0 && left != got && target.bytes != asked) {
        const double slope = std::log(left / got) / std::log(target.bytes / asked);
        if (std::isfinite(slope)) elasticity = std::clamp(slope, 0.5, 2.0);
      }
      asked = target.bytes, got = left;
      if (left > 0.0)
        target.bytes = least.at_least(
            target.bytes * std::pow(std::max(wanted - fixed, 1.0) / left, 1.0 / elasticity));
    }
    choice = choose_steps(model, weights, target, pixels);
  }
  auto code = [&](const RdChoice& c) {
    SubbandMap map = subband_map_init(nlev_, temp_dir());
    {
      StepAllocation allocation;
      allocation.nlev = nlev_;
      allocation.bands = bands;
      RecordCoder coder(map, allocation, false, &pool);
      coder.use_chosen_steps(&c.steps, &c.error_per_byte);
      spool.replay(coder, poll);
      coder.finish();
    }
    write_eof(map);
    if (progress_) progress_(kCodeEnd);
    write_vxl_file(*image_, map, output, interrupted_, progress_, kCodeEnd, 0.99f, p);
  };
  code(choice);
  if (request.luma_psnr <= 0.0 && !output.is_uninitialized()) {
    SizeTrials trials(wanted, kSizeTolerance,
                      fixed_bytes(*image_, p, std::vector<int>(records.size(), 0), bands),
                      elasticity);
    // The model's bytes are estimates: while the file misses the size, the steps are chosen
    // again for a budget corrected by the files made so far. A budget that changes no step
    // changes no byte either, and the next one goes further; where several in a row change
    // nothing, the size is as near as the steps reach.
    double file = double(Quorvale::file_size_of(output));
    bool near = trials.add(target.bytes, file);
    for (int coded = 0, unchanged = 0; !near && coded < kSizeTrials && unchanged < kSameSteps;) {
      target.bytes = least.at_least(trials.next_budget());
      RdChoice next = choose_steps(model, weights, target, pixels);
      if (next.steps == choice.steps) {
        ++unchanged;
      } else {
        unchanged = 0;
        choice = std::move(next);
        code(choice);
        ++coded;
        file = double(Quorvale::file_size_of(output));
      }
      near = trials.add(target.bytes, file);
    }
    // The last file is not always the nearest: the nearest is made again (the same steps
    // give the same file).
    if (!trials.last_is_nearest()) {
      target.bytes = trials.nearest_budget();
      choice = choose_steps(model, weights, target, pixels);
      code(choice);
    }
  }
  return {psnr_of(choice.luma_mse + added_luma), psnr_of(choice.rgb_mse + added_rgb)};
}
