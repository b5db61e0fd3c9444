// Writes GeoTIFF tie point, pixel scale and keys into an open TIFF. Kept apart from the metadata
// records because libgeotiff's value-type names clash with theirs.
#pragma once

#include <string>
#include <vector>

typedef struct tiff TIFF;

struct GeoKeyValue {
  int id;
  enum Kind { kShort, kDouble, kAscii } kind;
  std::vector<double> numbers;  // kShort: one value; kDouble: all values
  std::string text;
};

void write_geotiff_tags(TIFF* tif, double x_origin, double y_origin, double x_scale,
                        double y_scale, const std::vector<GeoKeyValue>& keys);

// A 1 x 1 8-bit GeoTIFF in memory with the tie point, pixel scale and keys, for GeoTIFF readers
// that take the coordinate system from a file; empty when libtiff fails.
std::vector<unsigned char> geotiff_in_memory(double x_origin, double y_origin, double x_scale,
                                             double y_scale, const std::vector<GeoKeyValue>& keys);

// TIFFOpen / TIFFClose with the GeoTIFF tags registered ("w8" for a BigTIFF).
TIFF* open_tiff_with_geotiff_tags(const char* name, const char* mode = "w");
void close_tiff_with_geotiff_tags(TIFF* tif);
