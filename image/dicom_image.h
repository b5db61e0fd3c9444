// Uncompressed 16-bit DICOM images. The data set is not parsed: the reader scans the file in
// 2-byte steps for the few image-pixel attributes it needs, in a fixed order, and reads the
// pixel data as raw little-endian samples (complemented for MONOCHROME1).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "image/image.h"

class DICOMImage : public ImageFile {
 public:
  // Throws Quorvale::Exception for files it cannot read; ReadError when the pixel data run
  // past the end of the file.
  explicit DICOMImage(const Quorvale::FileSpecification& file);

  void print_parameters() override;
  using Image::extract;
  void extract(int section_support[2][2], uint16_t* pixels) override;
  // The 8-bit view of a grey image: the high byte of each sample.
  void extract(int section_support[2][2], unsigned char* pixels) override;
  bool is_georeferenced() override { return false; }

  int bits_per_sample() const { return bits_per_sample_; }
  int pixel_representation() const { return pixel_representation_; }
  const std::string& photometric() const { return photometric_; }
  int64_t pixel_offset() const { return pixel_offset_; }

 private:
  void read_attributes(FILE* stream);
  void read_photometric(FILE* stream);
  void read_planar_configuration(FILE* stream, int64_t from, int64_t to);
  void read_pixel_data_header(FILE* stream);
  void add_dicom_metadata();
  bool monochrome1() const;

  int bits_per_sample_ = 0;
  int pixel_representation_ = 0;
  int planar_configuration_ = 0;  // three-band files: 0 interleaved, 1 plane after plane
  std::string photometric_;
  int64_t pixel_offset_ = 0;
};
