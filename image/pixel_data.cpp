#include "image/pixel_data.h"

#include <algorithm>
#include <vector>

#include "platform/avx2_clones.h"
#include "platform/error.h"

PixelData::PixelData(uint8_t* data, int width, int height, int band_structure, int band_count)
    : data_(data), width_(width), height_(height), band_structure_(band_structure),
      band_count_(band_count), data_type_(kUInt8) {}

PixelData::PixelData(uint16_t* data, int width, int height, int band_structure, int band_count)
    : data_(data), width_(width), height_(height), band_structure_(band_structure),
      band_count_(band_count), data_type_(kUInt16) {}

PixelData::PixelData(float* data, int width, int height, int band_structure, int band_count)
    : data_(data), width_(width), height_(height), band_structure_(band_structure),
      band_count_(band_count), data_type_(kFloat) {}

PixelData::PixelData(int16_t* data, int width, int height, int band_structure, int band_count)
    : data_(data), width_(width), height_(height), band_structure_(band_structure),
      band_count_(band_count), data_type_(kInt16) {}

PixelData::~PixelData() {
  std::free(data_);
  std::free(extra_);
}

namespace {

// Integer samples go through a table of their float values, one entry per possible sample
// (the 16-bit table keeps one spare entry past 65535).
template <typename T>
void convert_through_table(const T* in, float* out, size_t n, size_t table_size) {
  std::vector<float> table(table_size);
  for (size_t i = 0; i < table_size; ++i) table[i] = static_cast<float>(i);
  for (size_t i = 0; i < n; ++i) out[i] = table[in[i]];
}

}  // namespace

bool PixelData::convert2float() {
  if (data_type_ == kFloat) return true;
  if (data_type_ != kUInt8 && data_type_ != kUInt16 && data_type_ != kInt16)
    throw Quorvale::Exception("Internal error in PixelData::convert2float().");
  const size_t n = static_cast<size_t>(width_) * height_ * band_count_;
  float* converted = static_cast<float*>(std::malloc(n ? n * sizeof(float) : 1));
  if (!converted) throw Quorvale::OutOfMemoryException();
  if (data_type_ == kUInt8)
    convert_through_table(static_cast<const uint8_t*>(data_), converted, n, 256);
  else if (data_type_ == kUInt16)
    convert_through_table(static_cast<const uint16_t*>(data_), converted, n, 65537);
  else
    for (size_t i = 0; i < n; ++i) converted[i] = static_cast<const int16_t*>(data_)[i];
  std::free(data_);
  data_ = converted;
  data_type_ = kFloat;
  return false;
}

namespace {

// Integer samples: the products of a float coefficient (24-bit mantissa, ulp at least 2^-27
// here) and a sample below 2^16, and their sums below 2^18, are exact in double, so this gives
// the extended-precision result bit for bit, converting and transforming in one pass.
template <typename T>
VEXAL_AVX2_CLONES void yiq_from_integers(const T* __restrict in, float* __restrict out,
                                         size_t plane, int bands) {
  // The input and output buffers are apart, so the loop runs on vectors in one pass.
  const T* r = in;
  const T* g = in + plane;
  const T* b = in + 2 * plane;
  float* y = out;
  float* i = out + plane;
  float* q = out + 2 * plane;
  for (size_t k = 0; k < plane; ++k) {
    const double R = r[k], G = g[k], B = b[k];
    y[k] = static_cast<float>(double(0.3f) * R + double(0.6f) * G + double(0.1f) * B);
    i[k] = static_cast<float>(double(0.6f) * R - double(0.28f) * G - double(0.32f) * B);
    q[k] = static_cast<float>(double(0.21f) * R - double(0.53f) * G + double(0.32f) * B);
  }
  for (size_t k = 3 * plane; k < plane * size_t(bands); ++k) out[k] = static_cast<float>(in[k]);
}

}  // namespace

void PixelData::yiq() {
  if (band_structure_ == kSingleBand || band_structure_ == kSeparateBands) return;
  // A colour block needs its three planes; fewer would be read and written past the buffer.
  if (band_structure_ != kMultiBand || band_count_ < 3)
    throw Error("Error: unsupported band structure in PixelData::yiq.");
  const size_t plane = static_cast<size_t>(width_) * height_;
  if (data_type_ == kUInt8 || data_type_ == kUInt16) {
    const size_t n = plane * band_count_;
    float* converted = static_cast<float*>(std::malloc(n ? n * sizeof(float) : 1));
    if (!converted) throw Quorvale::OutOfMemoryException();
    if (data_type_ == kUInt8)
      yiq_from_integers(static_cast<const uint8_t*>(data_), converted, plane, band_count_);
    else
      yiq_from_integers(static_cast<const uint16_t*>(data_), converted, plane, band_count_);
    std::free(data_);
    data_ = converted;
    data_type_ = kFloat;
    return;
  }
  convert2float();
  float* r = float_data();
  float* g = r + plane;
  float* b = g + plane;
  // Single-precision coefficients, products and sums in extended precision.
  using X = long double;
  for (size_t i = 0; i < plane; ++i) {
    const X R = r[i], G = g[i], B = b[i];
    r[i] = static_cast<float>(X(0.3f) * R + X(0.6f) * G + X(0.1f) * B);
    g[i] = static_cast<float>(X(0.6f) * R - X(0.28f) * G - X(0.32f) * B);
    b[i] = static_cast<float>(X(0.21f) * R - X(0.53f) * G + X(0.32f) * B);
  }
}

void PixelData::yiq_into(float* out) const {
  const size_t plane = static_cast<size_t>(width_) * height_;
  const bool colour = band_structure_ == kMultiBand;
  if (colour && band_count_ < 3)
    throw Error("Error: unsupported band structure in PixelData::yiq.");
  if (band_structure_ != kSingleBand && band_structure_ != kSeparateBands && !colour)
    throw Error("Error: unsupported band structure in PixelData::yiq.");
  if (data_type_ == kUInt8 && colour)
    yiq_from_integers(static_cast<const uint8_t*>(data_), out, plane, band_count_);
  else if (data_type_ == kUInt16 && colour)
    yiq_from_integers(static_cast<const uint16_t*>(data_), out, plane, band_count_);
  else if (data_type_ == kUInt8)
    convert_through_table(static_cast<const uint8_t*>(data_), out, plane * band_count_, 256);
  else if (data_type_ == kUInt16)
    convert_through_table(static_cast<const uint16_t*>(data_), out, plane * band_count_, 65537);
  else
    throw Quorvale::Exception("Internal error in PixelData::yiq_into().");
}

void* PixelData::release() {
  void* taken = data_;
  data_ = nullptr;
  return taken;
}
