// TIFF input georeferenced by a world file beside it (type word "TIFW", option -tifw): the
// image's name with extension "tifw", else "tfw", holding x scale, two rotation terms (read,
// not used), y scale, and the map position of the centre of the upper-left pixel.
#pragma once

#include "image/tiff_image.h"

class TIFWImage : public TIFFImage {
 public:
  TIFWImage(const Quorvale::FileSpecification& file, const uint8_t* no_data = nullptr,
            const uint8_t* transparent = nullptr);

  void print_parameters() override;
  double xcoord() override { return x_coord_; }
  double ycoord() override { return y_coord_; }
  double xscale() override { return x_scale_; }
  double yscale() override { return y_scale_; }
  bool is_georeferenced() override { return true; }
  // Rows of the resulting support run upwards (y1 below y0) for north-up images.
  void place_by_georeference() override;
  void check_compatible(ImageFile& other) override;

 private:
  void read_world_file();

  double x_scale_ = 0, rotation_1_ = 0, rotation_2_ = 0, y_scale_ = 0;
  double x_coord_ = 0, y_coord_ = 0;
};
