// ERDAS LAN files: a 128-byte little-endian header ("HEAD74", or "HEADER" for the older
// release) followed by 8-bit samples interleaved by line.
#pragma once

#include <optional>

#include "image/image.h"

class LANImage : public ImageFile {
 public:
  static constexpr int64_t kHeaderBytes = 128;

  // xstart/ystart, when given, replace the header's values (image databases pass the tile's
  // offset in the tree).
  LANImage(const Quorvale::FileSpecification& file, std::optional<int> xstart = std::nullopt,
           std::optional<int> ystart = std::nullopt, const uint8_t* no_data = nullptr,
           const uint8_t* transparent = nullptr);

  void print_parameters() override;
  using Image::extract;
  void extract(int section_support[2][2], unsigned char* pixels) override;
  double xcoord() override { return xmap_; }
  double ycoord() override { return ymap_; }
  double xscale() override { return xcell_; }
  double yscale() override { return -ycell_; }
  bool is_georeferenced() override { return true; }
  void place_by_georeference() override;
  void check_compatible(ImageFile& other) override;

  int pack_type() const { return pack_type_; }
  int xstart() const { return xstart_; }
  int ystart() const { return ystart_; }

 private:
  void read_header();
  void check_file_size();

  int pack_type_ = 0;
  int xstart_ = 0;
  int ystart_ = 0;
  double xmap_ = 0.0;
  double ymap_ = 0.0;
  double xcell_ = 1.0;
  double ycell_ = 1.0;
};
