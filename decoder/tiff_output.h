// Where a decoded rectangle lies on the map: the GeoTIFF tie point and pixel scale that follow
// the chosen level and window, and the world file beside the TIFF (decoder/tiff_writer.h writes
// the TIFF itself).
#pragma once

#include <cstdio>
#include <string>

#include "decoder/decoded_image.h"
#include "metadata/metadata.h"

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

// The world file beside a TIFF: its extension replaced by "tfw".
std::string world_file_name(const std::string& tiff_name);
// Six lines: x scale, 0, 0, -y scale, x and y of the upper-left pixel's centre; WriteError
// naming `name` on failure.
void write_world_file(FILE* f, const std::string& name, const Georeference& georef);
