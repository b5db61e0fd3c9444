// JPEG files through libjpeg. JPEG data decode only from top to bottom, so the reader keeps
// one decoder open for its whole life and asks the encoder for image-wide blocks in row
// order (full_width_blocks). A request above the decoder's row restarts the decoder; one
// further down decodes and drops the rows in between.
#pragma once

#include <cstdint>
#include <memory>

#include "image/image.h"
#include "image/jpeg_decoder.h"

class JpegImage : public ImageFile {
 public:
  // libjpeg's own failures (corrupt or unsupported data) come out as Error with its message.
  explicit JpegImage(const Quorvale::FileSpecification& file, const uint8_t* no_data = nullptr,
                     const uint8_t* transparent = nullptr);
  ~JpegImage() override;

  void print_parameters() override;
  using Image::extract;
  void extract(int section_support[2][2], unsigned char* pixels) override;
  bool is_georeferenced() override { return false; }

  // Rows the decoder has delivered since it was (re)started.
  int rows_delivered() const { return rows_delivered_; }
  // Times the decoder was started (1 after construction).
  int decoder_starts() const { return decoder_starts_; }


 private:
  void start_decoder();
  void place_row(const uint8_t* row, int first_column, int n, unsigned char* out,
                 int64_t plane_step) const;

  std::unique_ptr<JpegDecoder> decoder_;
  int rows_delivered_ = 0;
  int decoder_starts_ = 0;
  bool adobe_cmyk_ = false;  // Adobe-marked CMYK stores inverted ink values
};
