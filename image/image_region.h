// A rectangle of another image presented as an image of its own: the encoder codes it like any
// input, and its georeferencing and metadata say where the rectangle lies. Pieces of one large
// input encoded separately (a grid of files) line up because each keeps its true position.
#pragma once

#include <memory>
#include <vector>

#include "image/image.h"

class ImageRegion : public Image {
 public:
  // `region` holds x0, y0, x1, y1: inclusive pixels of `source`. Throws Error when the
  // rectangle is empty or reaches outside the source, or when an edge is shorter than
  // `min_edge` pixels. Once placed, the source is told to keep only what the rectangle needs.
  ImageRegion(std::unique_ptr<Image> source, const int64_t region[4], int min_edge);
  ~ImageRegion() override;

  void print_parameters() override;
  void extract(int section_support[2][2], unsigned char* pixels) override;
  void extract(int section_support[2][2], uint16_t* pixels) override;
  void extract(int section_support[2][2], int16_t* pixels) override;
  void extract(int section_support[2][2], float* pixels) override;
  std::optional<double> source_nodata() override { return source_->source_nodata(); }
  void use_nodata() override {
    source_->use_nodata();
    Image::use_nodata();
  }
  using Image::extract;
  // The source's size scaled to the rectangle's share of its pixels, so ratios (the report,
  // rate control by trials) refer to the part encoded.
  double file_size() override { return file_size_; }
  double xcoord() override { return x_coord_; }
  double ycoord() override { return y_coord_; }
  double xscale() override { return x_scale_; }
  double yscale() override { return y_scale_; }
  bool is_georeferenced() override { return georeferenced_; }
  int lut_size() override { return static_cast<int>(lut_.size() / 3); }
  const uint8_t* lut() override { return lut_.empty() ? nullptr : lut_.data(); }
  const uint8_t* no_data_value() override { return no_data_; }
  const uint8_t* transparent_value() override { return has_transparent_ ? transparent_ : nullptr; }
  bool full_width_blocks() override { return source_->full_width_blocks(); }
  void set_full_width_blocks(bool on) override { source_->set_full_width_blocks(on); }
  void write_header_file(const Quorvale::FileSpecification& file) override {
    source_->write_header_file(file);
  }
  void add_metadata(MetadataList* list) override { source_->add_metadata(list); }
  void set_temp_directory(const Quorvale::FileSpecification* folder) override {
    source_->set_temp_directory(folder);
  }

 private:
  // The section in the source's pixels.
  void shift(const int section[2][2], int out[2][2]) const;

  std::unique_ptr<Image> source_;
  int x0_ = 0, y0_ = 0;
  double file_size_ = 0;
  double x_coord_ = 0, y_coord_ = 0, x_scale_ = 0, y_scale_ = 0;
  bool georeferenced_ = false;
  std::vector<uint8_t> lut_;
  uint8_t no_data_[3] = {0, 0, 0};
  uint8_t transparent_[3] = {0, 0, 0};
  bool has_transparent_ = false;
};
