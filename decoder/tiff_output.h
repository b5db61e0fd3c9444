// Writes a decoded rectangle as a TIFF (8-bit grey/RGB/CMYK, 16-bit or float as the source was);
// when the file carries georeferencing, as a GeoTIFF whose tie point and pixel scale follow the
// chosen level and window, with the GeoTIFF keys the metadata carries, and optionally a world
// file beside it.
#pragma once

#include <cstdio>
#include <string>

#include "decoder/decoded_image.h"
#include "encoder/metadata/metadata.h"

struct Georeference {
  // Upper-left corner of the upper-left pixel (the GeoTIFF tie point, pixel-is-area); the
  // metadata and world files give that pixel's centre instead.
  double x_origin, y_origin;
  double x_scale, y_scale;    // pixel width, pixel height (positive for north-up)
};

// The file's georeference moved to `window` at `level`; false when the source carried no map
// georeferencing.
bool georeference_for(const MetadataList& metadata, int level, const Window& window,
                      Georeference& out);

void write_tiff(const std::string& name, const DecodedImage& image, const MetadataList& metadata,
                const Georeference* georef);

// The world file beside a TIFF: its extension replaced by "tfw".
std::string world_file_name(const std::string& tiff_name);
// Six lines: x scale, 0, 0, -y scale, x and y of the upper-left pixel's centre; WriteError
// naming `name` on failure.
void write_world_file(FILE* f, const std::string& name, const Georeference& georef);
