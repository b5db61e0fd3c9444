// Builds the .vxl file from the subband map of an encoding: header, subband offset table, one
// section per subband with the table of its blocks and their block-and-band parts (as the record
// coder made them: 128 x 128 records with one Huffman table per block and band), then the
// metadata block. The subband temporary files are consumed (closed and removed) as their
// subbands are written.
#pragma once

#include "encoder/core/subband_map.h"
#include "image/image.h"
#include "platform/callbacks.h"
#include "platform/file_specification.h"

struct CompressionParameters {
  bool dither = true;
  int nlev = 4;
  int block_size = 512;
  float target_rate = 0.4f;
  float weight = 4.0f;
  float fourth_band_weight = 0.25f;
  float gamma = 2.0f;
};

// Writes the file under `output`; an uninitialised name writes it to standard output. The file
// is written under a temporary name beside `output` and renamed when complete, so a failure or
// an interrupt never leaves a partial file under the final name.
void write_vxl_file(Image& image, SubbandMap& map, const Quorvale::FileSpecification& output,
                    InterruptQuery interrupted,
                    ProgressFunction progress, float progress_start, float progress_end,
                    const CompressionParameters& parameters);

// The output metadata: the image's records followed by the compression parameters.
void build_output_metadata(const Image& image, const CompressionParameters& parameters,
                           MetadataList* out);
