#include "image/image_region.h"

#include <cstdio>
#include <cstring>

#include "platform/error.h"

ImageRegion::ImageRegion(std::unique_ptr<Image> source, const int64_t region[4], int min_edge)
    : source_(std::move(source)) {
  Image& s = *source_;
  const int64_t x0 = region[0], y0 = region[1], x1 = region[2], y1 = region[3];
  if (x0 > x1 || y0 > y1)
    throw Error(format_message(
        "Error: region %lld %lld %lld %lld is empty: x0 must not pass x1, nor y0 y1.",
        (long long)x0, (long long)y0, (long long)x1, (long long)y1));
  if (x0 < 0 || y0 < 0 || x1 >= s.image_width || y1 >= s.image_height)
    throw Error(format_message(
        "Error: region %lld %lld %lld %lld reaches outside the image, whose pixels run from "
        "0 0 to %d %d.",
        (long long)x0, (long long)y0, (long long)x1, (long long)y1, s.image_width - 1,
        s.image_height - 1));
  image_width = static_cast<int>(x1 - x0 + 1);
  image_height = static_cast<int>(y1 - y0 + 1);
  if (image_width < min_edge || image_height < min_edge)
    throw Error(format_message(
        "Error: region %lld %lld %lld %lld is %d x %d pixels; the levels asked for need at "
        "least %d in each direction.",
        (long long)x0, (long long)y0, (long long)x1, (long long)y1, image_width, image_height,
        min_edge));
  x0_ = static_cast<int>(x0);
  y0_ = static_cast<int>(y0);
  nband = s.nband;
  data_type = s.data_type;
  color_scheme = s.color_scheme;
  signed_samples = s.signed_samples;
  separate_bands = s.separate_bands;
  nodata = s.nodata;

  // Everything that depends on the whole source is taken before it drops what lies outside.
  const double whole = double(s.image_width) * double(s.image_height);
  file_size_ = s.file_size() * (double(image_width) * double(image_height) / whole);
  georeferenced_ = s.is_georeferenced();
  if (georeferenced_) {
    x_scale_ = s.xscale();
    y_scale_ = s.yscale();
    // World-file convention: the map position of pixel (c, r) is origin + (c, r) * scale.
    x_coord_ = s.xcoord() + x0_ * x_scale_;
    y_coord_ = s.ycoord() + y0_ * y_scale_;
  }
  if (s.lut_size() > 0 && s.lut()) lut_.assign(s.lut(), s.lut() + 3 * s.lut_size());
  if (const uint8_t* n = s.no_data_value()) std::memcpy(no_data_, n, 3);
  if (const uint8_t* t = s.transparent_value()) {
    std::memcpy(transparent_, t, 3);
    has_transparent_ = true;
  }

  bool ok = metadata_merge(&metadata, &s.metadata) >= 0 &&
            metadata_add_long(&metadata, "IMAGE::WIDTH", image_width) >= 0 &&
            metadata_add_long(&metadata, "IMAGE::HEIGHT", image_height) >= 0;
  if (ok && metadata_find(&metadata, "IMAGE::INPUT_FILE_SIZE") >= 0)
    ok = metadata_add_double(&metadata, "IMAGE::INPUT_FILE_SIZE", file_size_) >= 0;
  if (ok && georeferenced_) {
    const double origin[2] = {x_coord_, y_coord_};
    ok = metadata_add_doubles(&metadata, "IMAGE::XY_ORIGIN", origin, 2) >= 0;
  }
  if (!ok) throw Error("Error initializing metadata.");

  int section[2][2] = {{x0_, static_cast<int>(x1)}, {y0_, static_cast<int>(y1)}};
  s.keep_only(section);
}

ImageRegion::~ImageRegion() = default;

void ImageRegion::shift(const int section[2][2], int out[2][2]) const {
  out[0][0] = section[0][0] + x0_;
  out[0][1] = section[0][1] + x0_;
  out[1][0] = section[1][0] + y0_;
  out[1][1] = section[1][1] + y0_;
}

void ImageRegion::extract(int section_support[2][2], unsigned char* pixels) {
  int s[2][2];
  shift(section_support, s);
  source_->extract(s, pixels);
}

void ImageRegion::extract(int section_support[2][2], uint16_t* pixels) {
  int s[2][2];
  shift(section_support, s);
  source_->extract(s, pixels);
}

void ImageRegion::extract(int section_support[2][2], int16_t* pixels) {
  int s[2][2];
  shift(section_support, s);
  source_->extract(s, pixels);
}

void ImageRegion::extract(int section_support[2][2], float* pixels) {
  int s[2][2];
  shift(section_support, s);
  source_->extract(s, pixels);
}

void ImageRegion::print_parameters() {
  source_->print_parameters();
  std::printf("\n  Region: columns %d to %d, rows %d to %d\n", x0_, x0_ + image_width - 1, y0_,
              y0_ + image_height - 1);
  std::fflush(stdout);
}
