#include "encoder/driver/encoding_job.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

#include "encoder/core/block_grid.h"
#include "encoder/driver/encode_steps.h"
#include "encoder/driver/output_estimate.h"
#include "encoder/driver/progress.h"
#include "encoder/driver/report.h"
#include "encoder/driver/written_file_check.h"
#include "image/image_factory.h"
#include "image/image_region.h"
#include "image/tiff_directory.h"
#include "platform/error.h"
#include "platform/temp_file.h"

using Quorvale::FileSpecification;

namespace {

// How far a file may land from -c without a note: -rdo meets it within 2 %, -ht within 10 %
// where it can. The plain default mode only aims at it.
constexpr double kRdRatioSlack = 1.02;
constexpr double kHitTargetSlack = 1.1;
constexpr double kPsnrSlack = 0.5;  // dB

// IDB, RFI and DICOM readers take neither a background nor a transparent colour.
bool takes_colours(int type) { return type != kTypeIDB && type != kTypeRFI && type != kTypeDICOM; }

// A target the rate-controlled modes could not reach (a flat image has no bytes to spend on
// -c 200, and no step of -rdo gives -psnr 150) gets one note with what was reached.
void note_target_missed(Image& image, const EncodeOptions& o, const FileSpecification& output,
                        double luma_psnr) {
  if (o.rdo && o.psnr_given) {
    if (luma_psnr < o.psnr - kPsnrSlack)
      std::fprintf(stderr, "Note: the estimated luma PSNR is %.2f dB against -psnr %g: as near "
                           "as -rdo comes for this image.\n", luma_psnr, o.psnr);
    return;
  }
  std::error_code ec;
  if ((!o.rdo && !o.hit_target) || output.is_uninitialized() ||
      !std::filesystem::is_regular_file(output.str(), ec))
    return;
  // -rdo counts raw 8-bit samples; -ht the input file's bytes.
  const double raw = o.rdo ? double(image.image_width) * image.image_height * image.coded_bands()
                           : image.file_size();
  const double ratio = raw / double(Quorvale::file_size_of(output));
  const double off = ratio / o.target_ratio;
  const double slack = o.rdo ? kRdRatioSlack : kHitTargetSlack;
  if (off > 1.0 / slack && off < slack) return;
  std::fprintf(stderr, "Note: %s has a compression ratio of %.4g against -c %g: as near as %s "
                       "comes for this image.\n",
               output.path(), ratio, double(o.target_ratio), o.rdo ? "-rdo" : "-ht");
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

// Plain -tif leaves georeferencing out; a GeoTIFF given that way gets a note, not silence.
void note_geotiff_tags(const FileSpecification& input) {
  constexpr uint16_t kGeoTiffTags[] = {33550, 33922, 34264, 34735};  // scale, tie points,
                                                                      // transformation, keys
  try {
    const TiffDirectory directory(input);
    for (uint16_t tag : kGeoTiffTags) {
      if (!directory.find(tag)) continue;
      std::fprintf(stderr, "Note: %s has GeoTIFF tags, which -tif ignores; -tifg keeps its "
                           "georeferencing.\n", input.path());
      return;
    }
  } catch (const std::exception&) {
    // The TIFF reader has already accepted the file; a note is not worth a failure.
  }
}

// 8-bit pixels keep their nodata value only on request: one note when the source declares one,
// since viewers would otherwise draw those pixels as a black collar.
void note_unkept_nodata(Image& image, const FileSpecification& input) {
  const std::optional<double> value = image.source_nodata();
  if (image.nodata || !value) return;
  char text[32];
  const std::to_chars_result end = std::to_chars(text, text + sizeof text - 1, *value);
  *end.ptr = '\0';
  std::fprintf(stderr, "Note: %s declares nodata value %s, which is not kept; give -nodata to "
                       "keep it transparent.\n", input.path(), text);
}

}  // namespace

void run_encoding_job(const EncodeOptions& o, time_t start_time,
                      const std::function<void()>& announce) {
  const FileSpecification input(*o.input_name);
  const FileSpecification requested(*o.output_name);
  std::unique_ptr<FileSpecification> temp_dir;
  if (o.temp_dir) temp_dir = std::make_unique<FileSpecification>(*o.temp_dir);
  if (!o.info_only) check_output_place(requested);
  // The readers' own message for an input that is not there, before any banner.
  if (!Quorvale::accessible(input)) throw OpenError(input.str(), "read");
  announce();
  const std::string word = type_word(o.image_type, o.mosaic != 0);
  const bool colours = takes_colours(o.image_type);
  std::unique_ptr<Image> image =
      create_image(input, word.c_str(), colours ? o.background.data() : nullptr,
                   colours && o.transparency ? o.transparency->data() : nullptr);
  // The transparent colour is an 8-bit colour, which readers of other samples do not look for.
  if (colours && o.transparency && (image->data_type != kImage8Bit || image->separate_bands))
    std::fprintf(stderr, "Note: -tpc applies to 8-bit grey and RGB pixels only and is ignored for "
                         "%s; a tile's nodata value leaves what lies below it instead.\n",
                 input.path());
  if (o.region) {
    // Levels out of range are left to the encoder's own message.
    const int min_edge = o.nlev >= 1 && o.nlev <= 9 ? minimum_block_extent(o.nlev) : 1;
    image = std::make_unique<ImageRegion>(std::move(image), o.region->data(), min_edge);
  }
  if (o.image_type == kTypeTIFF && !o.mosaic) note_geotiff_tags(input);
  // Readers that cache decoded data keep it beside the encoder's own temporary files.
  if (temp_dir) image->set_temp_directory(temp_dir.get());
  if (o.nodata && !image->nodata) image->use_nodata();
  if (!o.nodata && !o.mosaic && is_tiff_family(o.image_type)) note_unkept_nodata(*image, input);
  // -info refuses what the encoding would refuse, with the same message.
  check_geometry(*image, o);
  if (o.info_only) {
    describe(*image, o);
    return;
  }
  check_output_size(estimate_for(*image, o), o);
  const FileSpecification output = unique_output_name(requested);
  RunOutputs outputs(output);
  const Encoder::RdOutcome achieved =
      run_encoder(*image, o, output, show_progress, interrupt_requested);
  const time_t completion_time = std::time(nullptr);
  write_report(ReportInputs{o.input_name->c_str(), output, image->file_size(), o.image_type,
                            o.target_ratio, o.input_bit_rate, o.word_length, start_time,
                            completion_time, o.weight, o.gamma});
  outputs.keep();
  show_progress(1.0f);
  end_progress();
  if (o.rdo)
    std::printf("Estimated PSNR: luma %.2f dB, RGB %.2f dB\n", achieved.luma_psnr,
                achieved.rgb_psnr);
  note_target_missed(*image, o, output, achieved.luma_psnr);
}
