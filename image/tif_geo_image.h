// GeoTIFF input (type word "TIFG", option -tifg): a TIFF image georeferenced by its
// ModelPixelScale, its first ModelTiepoint and its GeoTIFF keys, which travel into the output
// as metadata records.
#pragma once

#include <string>
#include <vector>

#include "image/tiff_image.h"

class TiffDirectory;
struct GeoKey;

class TIFGeoImage : public TIFFImage {
 public:
  TIFGeoImage(const Quorvale::FileSpecification& file, const uint8_t* no_data = nullptr,
              const uint8_t* transparent = nullptr);

  void print_parameters() override;
  // Map position of the centre of the upper-left pixel, and the pixel size (yscale negative
  // for north-up images).
  double xcoord() override { return origin_x_; }
  double ycoord() override { return origin_y_; }
  double xscale() override { return x_scale_; }
  double yscale() override { return -y_scale_; }
  bool is_georeferenced() override { return true; }
  void add_metadata(MetadataList* list) override;
  void place_by_georeference() override;
  void check_compatible(ImageFile& other) override;

 private:
  void read_geotiff();
  void read_scale(const TiffDirectory& dir);
  void read_tie_point(const TiffDirectory& dir);
  void add_key_lookups(const std::vector<GeoKey>& keys);

  int key_count_ = 0;
  double x_scale_ = 0, y_scale_ = 0, z_scale_ = 0;
  double origin_x_ = 0, origin_y_ = 0, origin_z_ = 0;
};

// Support rectangle origin from a georeferenced position: trunc(coord / scale + 0.5), checked
// to give a usable pixel position. `file` names the file in the error.
int pixel_position(double coord, double scale, const std::string& file);
