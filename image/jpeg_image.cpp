#include "image/jpeg_image.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/error.h"

JpegImage::JpegImage(const Quorvale::FileSpecification& file, const uint8_t* no_data,
                     const uint8_t* transparent)
    : ImageFile(file, 0, 0, no_data, transparent) {
  set_full_width_blocks(true);
  decoder_ = std::make_unique<JpegDecoder>(file_.str());
  image_width = decoder_->width();
  image_height = decoder_->height();
  nband = decoder_->components();
  if (nband != 1 && nband != 3 && nband != 4) {
    throw Error(format_message("Error: this program can't read JPEG files with %d color components.",
                               nband));
  }
  data_type = kImage8Bit;
  color_scheme = nband == 1 ? kSchemeGray : nband == 3 ? kSchemeRGB : kSchemeUnknown;
  if (nband == 4 && decoder_->cmyk()) color_scheme = kSchemeCMYK;
  adobe_cmyk_ = nband == 4 && decoder_->adobe_marker();
  set_support_from_size();
  add_image_metadata();
  decoder_->start();
  decoder_starts_ = 1;
}

// libjpeg's finish step would insist on every row having been read; destroying the
// decompressor is enough to release it and its file.
JpegImage::~JpegImage() = default;

void JpegImage::start_decoder() {
  decoder_.reset();
  rows_delivered_ = 0;
  decoder_ = std::make_unique<JpegDecoder>(file_.str());
  if (decoder_->width() != image_width || decoder_->height() != image_height ||
      decoder_->components() != nband) {
    throw ReadError(file_.str());
  }
  decoder_->start();
  ++decoder_starts_;
}

void JpegImage::extract(int section_support[2][2], unsigned char* pixels) {
  if (!sections_intersect(section_support, support)) return;
  const int x0 = std::max(section_support[0][0], support[0][0]);
  const int x1 = std::min(section_support[0][1], support[0][1]);
  const int y0 = std::max(section_support[1][0], support[1][0]);
  const int y1 = std::min(section_support[1][1], support[1][1]);
  const int first_row = y0 - support[1][0];
  if (first_row < rows_delivered_ || !decoder_) start_decoder();

  std::vector<uint8_t> row(static_cast<size_t>(image_width) * nband);
  for (; rows_delivered_ < first_row; ++rows_delivered_) decoder_->read_row(row.data());
  const int64_t section_width =
      static_cast<int64_t>(section_support[0][1]) - section_support[0][0] + 1;
  const int64_t plane_step =
      section_width * (static_cast<int64_t>(section_support[1][1]) - section_support[1][0] + 1);
  for (int y = y0; y <= y1; ++y) {
    decoder_->read_row(row.data());
    ++rows_delivered_;
    unsigned char* out = pixels + (y - section_support[1][0]) * section_width +
                         (x0 - section_support[0][0]);
    place_row(row.data(), x0 - support[0][0], x1 - x0 + 1, out, plane_step);
  }
}

// Splits interleaved pixels into planes. Pixels equal to the transparent colour are left
// unwritten (grey: its first component); CMYK pixels are always written.
void JpegImage::place_row(const uint8_t* row, int first_column, int n, unsigned char* out,
                          int64_t plane_step) const {
  const uint8_t* t = has_transparent_ ? transparent_ : nullptr;
  const uint8_t* p = row + static_cast<size_t>(first_column) * nband;
  for (int i = 0; i < n; ++i, p += nband) {
    if (nband == 1) {
      if (!t || p[0] != t[0]) out[i] = p[0];
    } else if (nband == 3) {
      if (t && p[0] == t[0] && p[1] == t[1] && p[2] == t[2]) continue;
      for (int k = 0; k < 3; ++k) out[i + k * plane_step] = p[k];
    } else {
      for (int k = 0; k < 4; ++k) out[i + k * plane_step] = adobe_cmyk_ ? 255 - p[k] : p[k];
    }
  }
}

void JpegImage::print_parameters() {
  std::printf("***** %s *****\n\n", file_.path());
  std::printf("  image_width: %d\n", image_width);
  std::printf("  image_height: %d\n", image_height);
  std::printf("  nband: %d\n", nband);
  std::printf("  bits per sample: 8\n");
  std::fflush(stdout);
}
