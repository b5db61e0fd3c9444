// Sun raster files: a 32-byte header in either byte order, an optional colour map, and
// uncompressed rows of 1, 8, 24 or 32 bits per pixel. Colour-mapped 8-bit files become grey
// scale (grey map) or RGB; requests are answered as 8-bit planes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/image.h"

class SunRastImage : public ImageFile {
 public:
  // Reads and checks the header; throws Error with the reason for every variant it refuses.
  SunRastImage(const Quorvale::FileSpecification& file, int x_origin, int y_origin,
               const uint8_t* no_data = nullptr, const uint8_t* transparent = nullptr);

  void print_parameters() override;
  using Image::extract;
  void extract(int section_support[2][2], unsigned char* pixels) override;
  bool is_georeferenced() override { return false; }
  int lut_size() override { return static_cast<int>(color_map_.size() / 3); }
  const uint8_t* lut() override { return color_map_.empty() ? nullptr : color_map_.data(); }
  void check_compatible(ImageFile& other) override;

  int depth() const { return depth_; }
  // Words describing the source ("CLUT " for a coloured map).
  const std::string& name() const { return name_; }

 private:
  void read_header(FILE* stream);
  void read_color_map(FILE* stream);
  void check_file_holds_pixels();
  int64_t row_bytes() const;
  int64_t pixel_offset() const { return 32 + static_cast<int64_t>(map_length_); }
  // Depth 1 and colour-mapped depth 8, which extract_raw cannot expand.
  void extract_expanded(int section_support[2][2], unsigned char* pixels);
  void expand_bits(const uint8_t* row, int first_column, int n, unsigned char* out) const;
  void expand_indices(const uint8_t* row, int n, unsigned char* out, int64_t plane_step) const;

  uint32_t depth_ = 0;
  uint32_t length_ = 0;
  uint32_t type_ = 0;
  uint32_t map_type_ = 0;
  uint32_t map_length_ = 0;
  std::vector<uint8_t> color_map_;  // red table, green table, blue table as in the file
  uint8_t red_[256] = {}, green_[256] = {}, blue_[256] = {};  // indices past the map read 0
  std::string name_;
};
