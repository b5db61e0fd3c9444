// One rectangle of samples cut out of an image: planar, plane after plane, rows top to bottom.
// Sample (x, y) of plane b is element b * width * height + y * width + x.
#pragma once

#include <cstdint>
#include <cstdlib>

class PixelData {
 public:
  enum DataType { kUInt8 = 0, kUInt16 = 1, kFloat = 2, kInt16 = 3 };
  // kSeparateBands: several bands that are not colours of one pixel (no colour transform).
  enum BandStructure { kSingleBand = 0, kMultiBand = 1, kSeparateBands = 2 };

  // Each takes ownership of a buffer allocated with malloc.
  PixelData(uint8_t* data, int width, int height, int band_structure, int band_count);
  PixelData(uint16_t* data, int width, int height, int band_structure, int band_count);
  PixelData(float* data, int width, int height, int band_structure, int band_count);
  PixelData(int16_t* data, int width, int height, int band_structure, int band_count);
  ~PixelData();
  PixelData(const PixelData&) = delete;
  PixelData& operator=(const PixelData&) = delete;

  // Converts the samples to float in place; true when they already were float.
  bool convert2float();
  // RGB to Y/I/Q on planes 0..2 of a colour block (converting to float first); grey: nothing.
  void yiq();
  // The float planes that yiq() and convert2float() would leave, written to `out` (width x
  // height x bands floats) in one pass, the buffer unchanged; 8- and 16-bit unsigned samples.
  void yiq_into(float* out) const;
  // Hands the buffer over to the caller (who frees it with free()).
  void* release();

  int width() const { return width_; }
  int height() const { return height_; }
  int band_count() const { return band_count_; }
  int band_structure() const { return band_structure_; }
  int data_type() const { return data_type_; }
  void* data() const { return data_; }
  float* float_data() const { return static_cast<float*>(data_); }

 private:
  void* data_;
  void* extra_ = nullptr;
  int width_, height_, band_structure_, band_count_, data_type_;
};
