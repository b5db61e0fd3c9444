// One encoding of an image into a .vxl file: the side files, the block-by-block decomposition
// into temporary subband files, a second chained decomposition of the reduced image for more
// than five levels, and the file writer; `hit_target` repeats whole encodings to land near the
// requested compression ratio.
#pragma once

#include <memory>

#include "encoder/core/block_tiler.h"
#include "encoder/core/sample_range.h"
#include "encoder/core/subband_map.h"
#include "encoder/writer/vxl_writer.h"
#include "image/image.h"
#include "platform/callbacks.h"
#include "platform/file_specification.h"
#include "platform/thread_pool.h"

class Encoder {
 public:
  // Throws Error "Error: specified value for nlev must be <= 9." for nlev above 9.
  Encoder(Image* image, int nlev, int block_size, float target_rate,
          const Quorvale::FileSpecification* temp_dir, ProgressFunction progress,
          InterruptQuery interrupted, float weight, float gamma, bool dither,
          float fourth_band_weight);

  void encode(const Quorvale::FileSpecification& output);
  void hit_target(const Quorvale::FileSpecification& output, int input_bit_rate, int word_length);

  // Threads for the blocks, records and writer (1, the default: everything on the calling
  // thread). The output is the same for every count.
  void set_threads(int threads) { threads_ = threads < 1 ? 1 : threads; }
  // Records each band's minimum, maximum, mean and standard deviation of the source's pixels
  // ("IMAGE::STATISTICS"), taken as the blocks are read; off by default.
  void set_record_statistics(bool on);
  // The input's name, for the refusal of float samples the transform cannot carry.
  void set_source_name(const std::string& name) { sample_limit_.source = name; }

  // The rate-distortion mode (rd_encoder.cpp): one measuring pass over the image, one step
  // per subband and band for the whole image, then the coding of the kept coefficients.
  struct RdRequest {
    double ratio = 20.0;      // raw 8-bit sample bytes / output bytes, or
    double luma_psnr = 0.0;   // when > 0: the luma PSNR in dB to encode for
    bool perceptual = false;  // weigh errors by the weight and gamma, as the default mode does
  };
  struct RdOutcome {
    double luma_psnr = 0.0, rgb_psnr = 0.0;  // estimated from the coefficients' errors
  };
  RdOutcome encode_rd(const Quorvale::FileSpecification& output, const RdRequest& request);

  // Refuses, before anything is read or written, an image too small for the levels (also
  // in a second stage's reduced image), blocks too small, or more levels than -rdo takes:
  // the messages the encoding would end with.
  enum class Mode { kDefault, kRateDistortion };
  void check_geometry(Mode mode) const;

  float weight() const { return weight_; }
  float gamma() const { return gamma_; }

  // Decomposes the image into a subband map; with `rate_estimate`, also the bits per
  // coefficient that the low-pass subband needs (for a chained second pass).
  SubbandMap decompose(float* rate_estimate, float progress_start, float progress_end, int mode);

 private:
  Encoder with_target(Image* image, int nlev, float target_rate) const;
  // Runs the block-by-block decomposition, handing every record to `sink`; returns the
  // statistics of all coefficients.
  std::vector<CoefficientStatistics> decompose_to(RecordSink& sink, float progress_start,
                                                  float progress_end, platform::ThreadPool& pool);
  void encode_two_stages(const Quorvale::FileSpecification& output);
  void write(SubbandMap& map, const Quorvale::FileSpecification& output);
  // The coding parameters the file writer records, with or without dither.
  CompressionParameters parameters(bool dither) const;
  // One trial of hit_target: encodes at `ratio` into `file` and returns its error against `target`.
  float trial(float ratio, float target, int word_length, double source_size,
              const Quorvale::FileSpecification& file);
  void check_interrupt() const;
  const Quorvale::FileSpecification* temp_dir() const { return temp_dir_.get(); }

  Image* image_;
  int nlev_;
  int block_size_;
  float target_rate_;
  std::shared_ptr<Quorvale::FileSpecification> temp_dir_;
  ProgressFunction progress_;
  InterruptQuery interrupted_;
  float weight_, gamma_;
  bool dither_;
  float fourth_band_weight_;
  int threads_ = 1;
  bool record_statistics_ = false;
  SampleLimit sample_limit_;  // float inputs only
};

// The world and header files beside an output file (none for standard output).
void write_side_files(Image& image, const Quorvale::FileSpecification& output);
