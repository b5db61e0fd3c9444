// An image whose pixels come from a function of the program that encodes it (the public
// encoding API, the GDAL driver): its description is given, not read from a file, and every
// section the encoder extracts is asked for as it comes.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "image/geotiff_keys.h"
#include "image/image.h"

// Where the image lies: the centre of its upper-left pixel and the pixel size (both positive
// when north is up), and the GeoTIFF keys of its coordinate system.
struct CallbackGeoreference {
  double x_centre = 0, y_centre = 0;
  double x_size = 0, y_size = 0;
  std::vector<GeoKey> keys;
};

struct CallbackImageDescription {
  int width = 0, height = 0, bands = 0;
  int data_type = kImage8Bit;
  bool signed_samples = false;
  // GDAL's colour names, one per band; empty: grey for one band, RGB for three.
  std::vector<std::string> band_colors;
  std::optional<double> nodata;
  std::optional<CallbackGeoreference> georeference;
  std::string name;
  // Fills `pixels` with the inclusive section (inside the image), planar as PixelData lays it
  // out; raises Error when it cannot.
  std::function<void(const int section[2][2], void* pixels)> fill;
};

class CallbackImage : public Image {
 public:
  // Raises Error naming `description.name` for a size, band count or type it cannot code.
  explicit CallbackImage(CallbackImageDescription description);

  void print_parameters() override;
  void extract(int section_support[2][2], unsigned char* pixels) override { fill(section_support, pixels); }
  void extract(int section_support[2][2], uint16_t* pixels) override { fill(section_support, pixels); }
  void extract(int section_support[2][2], int16_t* pixels) override { fill(section_support, pixels); }
  void extract(int section_support[2][2], float* pixels) override { fill(section_support, pixels); }
  // The encoder's estimate of the source's size: its raw samples.
  double file_size() override;
  // Georeferencing travels in the metadata records only: no world file beside the output.
  bool is_georeferenced() override { return false; }
  double xcoord() override { return 0; }
  double ycoord() override { return 0; }
  double xscale() override { return 0; }
  double yscale() override { return 0; }
  const uint8_t* no_data_value() override { return nullptr; }
  const uint8_t* transparent_value() override { return nullptr; }
  std::optional<double> source_nodata() override { return description_.nodata; }

 private:
  void set_bands();
  void add_records();
  void fill(const int section[2][2], void* pixels);

  CallbackImageDescription description_;
  int sample_bytes_ = 1;
};
