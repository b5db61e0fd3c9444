// USGS digital orthophoto quarter-quadrangles: raw 8-bit rasters of one or three interleaved
// bands after a keyword or fixed-field header. Only the quadrangle is presented: the image is
// cropped to the bounding box of its four corners, and extract delivers just the pixels inside
// the quadrilateral they form, so that neighbouring quadrangles of a mosaic fill each other's
// collars.
#pragma once

#include "image/doq_header.h"
#include "image/image.h"

class DOQImage : public ImageFile {
 public:
  DOQImage(const Quorvale::FileSpecification& file, const uint8_t* no_data = nullptr,
           const uint8_t* transparent = nullptr);

  void print_parameters() override;
  using Image::extract;
  void extract(int section_support[2][2], unsigned char* pixels) override;
  double xcoord() override;
  double ycoord() override;
  double xscale() override { return header_.x_resolution; }
  double yscale() override { return -header_.y_resolution; }
  bool is_georeferenced() override { return true; }
  void add_metadata(MetadataList* list) override;
  void write_header_file(const Quorvale::FileSpecification& file) override;
  void place_by_georeference() override;
  void check_compatible(ImageFile& other) override;

  const DOQHeader& header() const { return header_; }
  int projected_cs() const { return projected_cs_; }
  int crop_x() const { return crop_x_; }
  int crop_y() const { return crop_y_; }
  int quad_width() const { return quad_width_; }
  int quad_height() const { return quad_height_; }

 private:
  void locate_corners();
  void check_corners();
  void crop();
  void add_reader_metadata();
  // Columns [*left, *right] of bounding-box row r that lie inside the quadrangle.
  void row_span(int r, int* left, int* right) const;

  DOQHeader header_;
  int projected_cs_ = 0;
  // Corner positions relative to the crop: pixel (rounded) and exact (fractional).
  int corner_column_[4] = {}, corner_row_[4] = {};
  double corner_c_[4] = {}, corner_q_[4] = {};
  int crop_x_ = 0, crop_y_ = 0, quad_width_ = 0, quad_height_ = 0;
};
