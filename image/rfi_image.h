// The system's own raw float raster: a 12-byte little-endian header (width, height, bands as
// 32-bit integers) followed by the samples as 32-bit floats, band after band, each band rows
// top to bottom. Read as direct input, as mosaic tiles and as the encoder's reduced image.
#pragma once

#include "image/image.h"

class RFIImage : public ImageFile {
 public:
  static constexpr int64_t kHeaderBytes = 12;

  // Reads and checks the header: the file must hold exactly the samples it announces.
  RFIImage(const Quorvale::FileSpecification& file, int x_origin, int y_origin);

  void print_parameters() override;
  using Image::extract;
  void extract(int section_support[2][2], float* pixels) override;
  void extract(int section_support[2][2], unsigned char* pixels) override;
  bool is_georeferenced() override { return false; }
};
