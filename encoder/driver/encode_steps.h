// The steps every encoding into a file shares, whatever its pixels come from (an input file of
// vexal_encode, a caller's function through the public API): the checks made before a pixel is
// read, the encoder run in the chosen mode, and the removal of what a failed run made.
#pragma once

#include <vector>

#include "encoder/core/encoder.h"
#include "encoder/driver/encode_options.h"
#include "image/image.h"
#include "platform/callbacks.h"
#include "platform/file_specification.h"

// The estimated size of the encoding of `image` with the options' bit rate.
double estimate_for(Image& image, const EncodeOptions& options);

// Refuses at once an output that cannot fit in one file, and warns when it may not.
void check_output_size(double estimate, const EncodeOptions& options);

// The output may not be a folder, and its folder must take new files: found before the input
// is read rather than after the whole encoding. A device or FIFO is refused: the .vxl is made
// by seeking and renaming, and its report and world file would land beside the device.
void check_output_place(const Quorvale::FileSpecification& requested);

// Removes, unless the run completes, every file it made beside the output: the output, its
// report, world file and header copy (names that existed before the run are left alone).
class RunOutputs {
 public:
  explicit RunOutputs(const Quorvale::FileSpecification& output);
  ~RunOutputs();
  RunOutputs(const RunOutputs&) = delete;
  RunOutputs& operator=(const RunOutputs&) = delete;
  void keep() { kept_ = true; }

 private:
  std::vector<Quorvale::FileSpecification> made_;
  bool kept_ = false;
};

// Refuses, with the encoder's own message, an image too small for the levels or blocks, or
// levels the mode does not take.
void check_geometry(Image& image, const EncodeOptions& options);

// Encodes `image` into `output` in the mode the options choose (default, -ht or -rdo), with the
// options' temporary folder and threads, then opens the file as its readers would and fails
// when they would refuse it; the outcome is the rdo mode's estimate.
Encoder::RdOutcome run_encoder(Image& image, const EncodeOptions& options,
                               const Quorvale::FileSpecification& output,
                               ProgressFunction progress, InterruptQuery interrupted);
