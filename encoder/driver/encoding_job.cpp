#include "encoder/driver/encoding_job.h"

#include <cstdio>
#include <memory>

#include "encoder/core/block_grid.h"
#include "encoder/core/encoder.h"
#include "encoder/driver/output_estimate.h"
#include "encoder/driver/progress.h"
#include "encoder/driver/report.h"
#include "encoder/image/image_factory.h"
#include "encoder/image/image_region.h"
#include "platform/error.h"
#include "platform/thread_pool.h"

using Quorvale::FileSpecification;

namespace {

// IDB, RFI and DICOM readers take neither a background nor a transparent colour.
bool takes_colours(int type) { return type != kTypeIDB && type != kTypeRFI && type != kTypeDICOM; }

double estimate_for(Image& image, const EncodeOptions& o) {
  const int64_t samples = int64_t{image.image_width} * image.image_height * image.coded_bands();
  return estimated_output_bytes(samples, o.target_bit_rate);
}

// Refuses at once an output that cannot fit in one file, and warns when it may not.
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

// -info: what the input is and what its encoding would take, for people and for planners.
void describe(Image& image, const EncodeOptions& o) {
  image.print_parameters();
  std::printf("\nInput: %d x %d pixels, %d coded band(s)\n", image.image_width,
              image.image_height, image.coded_bands());
  std::printf("Estimated output: %.0f bytes\n", estimate_for(image, o));
  std::printf("Estimated bytes per pixel: %.6f\n",
              image.coded_bands() * estimated_bytes_per_sample(o.target_bit_rate));
  std::fflush(stdout);
}

}  // namespace

void run_encoding_job(const EncodeOptions& o, time_t start_time) {
  const FileSpecification input(*o.input_name);
  const FileSpecification requested(*o.output_name);
  std::unique_ptr<FileSpecification> temp_dir;
  if (o.temp_dir) temp_dir = std::make_unique<FileSpecification>(*o.temp_dir);
  const std::string word = type_word(o.image_type, o.mosaic != 0);
  const bool colours = takes_colours(o.image_type);
  std::unique_ptr<Image> image =
      create_image(input, word.c_str(), colours ? o.background.data() : nullptr,
                   colours && o.transparency ? o.transparency->data() : nullptr);
  if (o.region) {
    // Levels out of range are left to the encoder's own message.
    const int min_edge = o.nlev >= 1 && o.nlev <= 9 ? minimum_block_extent(o.nlev) : 1;
    image = std::make_unique<ImageRegion>(std::move(image), o.region->data(), min_edge);
  }
  // Readers that cache decoded data keep it beside the encoder's own temporary files.
  if (temp_dir) image->set_temp_directory(temp_dir.get());
  if (o.info_only) {
    describe(*image, o);
    return;
  }
  check_output_size(estimate_for(*image, o), o);
  const FileSpecification output = unique_output_name(requested);
  Encoder encoder(image.get(), o.nlev, o.block_size, o.target_bit_rate, temp_dir.get(),
                  show_progress, interrupt_requested, o.weight, o.gamma,
                  o.dither != 0 && !o.rdo, 0.25f);
  encoder.set_threads(platform::thread_count(o.threads));
  Encoder::RdOutcome achieved;
  if (o.rdo)
    achieved = encoder.encode_rd(output, {o.target_ratio, o.psnr, o.weights_given});
  else if (o.hit_target)
    encoder.hit_target(output, o.input_bit_rate, o.word_length);
  else
    encoder.encode(output);
  const time_t completion_time = std::time(nullptr);
  write_report(ReportInputs{o.input_name->c_str(), output, image->file_size(), o.image_type,
                            o.target_ratio, o.input_bit_rate, o.word_length, start_time,
                            completion_time, encoder.weight(), encoder.gamma()});
  show_progress(1.0f);
  std::fputs("\n", stdout);
  if (o.rdo)
    std::printf("Estimated PSNR: luma %.2f dB, RGB %.2f dB\n", achieved.luma_psnr,
                achieved.rgb_psnr);
}
