#include "encoder/driver/encode_steps.h"

#include <cstdio>
#include <memory>

#include "encoder/driver/output_estimate.h"
#include "encoder/driver/written_file_check.h"
#include "platform/error.h"
#include "platform/output_target.h"
#include "platform/thread_pool.h"

using Quorvale::FileSpecification;

double estimate_for(Image& image, const EncodeOptions& o) {
  const int64_t samples = int64_t{image.image_width} * image.image_height * image.coded_bands();
  return estimated_output_bytes(samples, o.target_bit_rate);
}

void check_output_size(double estimate, const EncodeOptions& o) {
  const OutputSizeVerdict verdict = judge_output_size(estimate);
  if (verdict == OutputSizeVerdict::kFits) return;
  const double ratio = suggested_ratio(estimate, o.target_ratio);
  if (verdict == OutputSizeVerdict::kBeyond)
    throw Error(format_message(
        "Error: the output is estimated at %s, far beyond the 4 GiB one .vxl file can hold. Use "
        "a higher compression ratio (-c %g or more), or encode the image as a grid of files "
        "with python3 -m vexal_grid.",
        format_gib(estimate).c_str(), ratio));
  std::fprintf(stderr,
               "Warning: the output is estimated at %s, near the 4 GiB one .vxl file can hold; "
               "the encoding may fail at its end. -c %g, or a grid of files made with python3 -m "
               "vexal_grid, would leave room.\n",
               format_gib(estimate).c_str(), ratio);
}

void check_output_place(const FileSpecification& requested) {
  const platform::OutputKind kind = platform::output_kind(requested.str());
  if (kind == platform::OutputKind::kDirectory)
    throw Error(format_message("Error: the output %s is a folder; name a file.", requested.path()));
  if (kind != platform::OutputKind::kAbsent && kind != platform::OutputKind::kRegular)
    throw Error(format_message(
        "Error: the output %s is %s; vexal_encode writes a regular file, with its report beside "
        "it.",
        requested.path(), platform::output_kind_words(kind)));
  const FileSpecification folder = Quorvale::directory_of(requested);
  if (!Quorvale::is_directory(folder))
    throw Error(format_message("Error: the output folder %s does not exist.", folder.path()));
  if (!Quorvale::writable_directory(folder))
    throw Error(format_message("Error: the output folder %s is not writable.", folder.path()));
}

RunOutputs::RunOutputs(const FileSpecification& output) {
  if (!Quorvale::exists(output)) made_.push_back(output);
  for (const char* extension : {"txt", "vxw", "meta"}) {
    FileSpecification side(output);
    side.set_extension(extension);
    if (!Quorvale::exists(side)) made_.push_back(side);
  }
}

RunOutputs::~RunOutputs() {
  if (!kept_)
    for (const FileSpecification& name : made_) std::remove(name.path());
}

namespace {

Encoder::Mode mode_of(const EncodeOptions& o) {
  return o.rdo ? Encoder::Mode::kRateDistortion : Encoder::Mode::kDefault;
}

}  // namespace

void check_geometry(Image& image, const EncodeOptions& o) {
  const Encoder encoder(&image, o.nlev, o.block_size, o.target_bit_rate, nullptr, nullptr,
                        nullptr, o.weight, o.gamma, false, 0.25f);
  encoder.check_geometry(mode_of(o));
}

Encoder::RdOutcome run_encoder(Image& image, const EncodeOptions& o, const FileSpecification& output,
                               ProgressFunction progress, InterruptQuery interrupted) {
  std::unique_ptr<FileSpecification> temp_dir;
  if (o.temp_dir) temp_dir = std::make_unique<FileSpecification>(*o.temp_dir);
  Encoder encoder(&image, o.nlev, o.block_size, o.target_bit_rate, temp_dir.get(), progress,
                  interrupted, o.weight, o.gamma, o.dither != 0 && !o.rdo, 0.25f);
  encoder.set_threads(platform::thread_count(o.threads));
  encoder.set_record_statistics(o.statistics);
  if (o.input_name) encoder.set_source_name(*o.input_name);
  Encoder::RdOutcome achieved;
  if (o.rdo)
    achieved = encoder.encode_rd(output, {o.target_ratio, o.psnr, o.weights_given});
  else if (o.hit_target)
    encoder.hit_target(output, o.input_bit_rate, o.word_length);
  else
    encoder.encode(output);
  check_written_file(output, {image.image_width, image.image_height, image.coded_bands(), o.nlev});
  return achieved;
}
