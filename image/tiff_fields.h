// The fields of a TIFF directory that the TIFF readers use, read through libtiff and checked
// against what the encoder can take.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <tiffio.h>

struct TiffFields {
  uint32_t width = 0;
  uint32_t length = 0;
  uint16_t compression = 0;
  uint16_t photometric = 0;
  uint32_t rows_per_strip = 0;
  bool has_x_resolution = false;
  bool has_y_resolution = false;
  float x_pixel_size = 1.0f;  // 1 / XResolution
  float y_pixel_size = 1.0f;  // 1 / YResolution
  uint16_t resolution_unit = 1;
  uint16_t bits_per_sample = 1;
  uint16_t sample_format = SAMPLEFORMAT_UINT;  // 16 bits: UINT or INT; 32 bits: IEEEFP
  uint16_t samples_per_pixel = 1;
  int32_t tile_width = -1;
  int32_t tile_length = -1;
  uint16_t ink_set = 1;
  uint16_t fill_order = FILLORDER_MSB2LSB;
  bool tiled = false;
  // PlanarConfiguration 2: each sample of a pixel lies in its own plane of strips or tiles.
  bool planar = false;
  // Red, green and blue tables of 256 bytes each (high bytes of the TIFF values); empty
  // without a colour map. Entries past the file's 2^bits entries are 0.
  std::vector<uint8_t> color_map;
  int palette_size3 = 0;  // 768 for a colour (not grey) palette, else 0
  int nband = 0;
  int color_scheme = -1;
  // Bands that are not grey, RGB or CMYK, coded one by one (see Image::separate_bands).
  bool separate_bands = false;
  // What each band is, in GDAL's colour interpretation names ("Red", "Alpha", "Undefined"...);
  // filled for separately coded bands.
  std::vector<std::string> band_colors;
  std::string name;  // compression word, and "CLUT " for colour palettes
};

// Reads and checks the current directory of `tif`; `file` names the file in messages. For
// JPEG-compressed YCbCr files it asks libtiff to deliver RGB.
TiffFields read_tiff_fields(TIFF* tif, const std::string& file);

// The word appended to an image's name for a TIFF compression code.
const char* compression_word(uint16_t compression);
