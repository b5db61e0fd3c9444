#include "decoder/tiff_output.h"

#include <tiffio.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "decoder/geokey_writer.h"
#include "decoder/geokeys.h"
#include "platform/error.h"
#include "platform/interrupt.h"

namespace {

bool read_doubles(const MetadataList& list, const char* key, double* out, int n) {
  const MetadataRecord* r = metadata_record(&list, key);
  if (!r || r->type != TYPE_DOUBLE || r->count < n) return false;
  std::memcpy(out, r->values.data(), sizeof(double) * size_t(n));
  return true;
}

// A plain TIFF stores the origin (0, height x pixel width) and its resolution tags, and a raw
// raster whose header has no map fields the origin (0, 0) with unit pixels (pixel coordinates,
// like GDAL's default transform). Only a map reader's records or another origin mean map
// georeferencing.
bool carries_map_georeference(const MetadataList& list, const double origin[2], double xres,
                              double yres) {
  for (const MetadataRecord& r : list.slots) {
    if (r.empty()) continue;
    if (r.key.rfind("GEOTIFF_", 0) == 0 || r.key.rfind("GEO::", 0) == 0 ||
        r.key == "IMAGE::Z_ORIGIN" || r.key == "IMAGE::HORIZONTAL_UNITS")
      return true;
  }
  if (origin[0] != 0.0) return true;
  if (origin[1] == 0.0 && xres == 1.0 && yres == 1.0) return false;
  const int32_t height = metadata_long(list, "IMAGE::HEIGHT", -1);
  return height < 0 || origin[1] != double(height) * xres;
}

uint16_t photometric_for(const DecodedImage& img) {
  if (img.bands >= 4 && img.color_scheme == 2) return PHOTOMETRIC_SEPARATED;
  if (img.bands >= 3) return PHOTOMETRIC_RGB;
  return PHOTOMETRIC_MINISBLACK;
}

// Interleaves one row of every plane.
template <typename T>
void interleave_row(const std::vector<T>& planes, const DecodedImage& img, int row,
                    std::vector<T>& out) {
  const size_t n = size_t(img.width) * size_t(img.height);
  for (int x = 0; x < img.width; ++x)
    for (int b = 0; b < img.bands; ++b)
      out[size_t(x) * size_t(img.bands) + size_t(b)] =
          planes[size_t(b) * n + size_t(row) * size_t(img.width) + size_t(x)];
}

template <typename T>
void write_rows(TIFF* tif, const std::string& name, const std::vector<T>& planes,
                const DecodedImage& img) {
  std::vector<T> row(size_t(img.width) * size_t(img.bands));
  for (int y = 0; y < img.height; ++y) {
    platform::throw_if_interrupted();
    interleave_row(planes, img, y, row);
    if (TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) < 0) throw WriteError(name);
  }
}

}  // namespace

bool georeference_for(const MetadataList& metadata, int level, const Window& window,
                      Georeference& out) {
  double origin[2], xres, yres;
  if (!read_doubles(metadata, "IMAGE::XY_ORIGIN", origin, 2) ||
      !read_doubles(metadata, "IMAGE::X_RESOLUTION", &xres, 1) ||
      !read_doubles(metadata, "IMAGE::Y_RESOLUTION", &yres, 1) ||
      !carries_map_georeference(metadata, origin, xres, yres))
    return false;
  const double f = std::ldexp(1.0, level);
  out.x_scale = xres * f;
  out.y_scale = yres * f;
  // The stored origin is the centre of the full-size upper-left pixel, and sample i of level k
  // is the low-pass centred on full-size pixel 2^k i: each sample's square is centred there.
  out.x_origin = origin[0] + (window.x0 - 0.5) * out.x_scale;
  out.y_origin = origin[1] - (window.y0 - 0.5) * out.y_scale;
  return true;
}

void write_tiff(const std::string& name, const DecodedImage& img, const MetadataList& metadata,
                const Georeference* georef) {
  TIFF* tif = georef ? open_tiff_with_geotiff_tags(name.c_str()) : TIFFOpen(name.c_str(), "w");
  if (!tif) throw OpenError(name, "write");
  const int bits = img.data_type == 1 ? 32 : img.data_type == 2 ? 16 : 8;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(img.width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(img.height));
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(img.bands));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(bits));
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT,
               uint16_t(img.data_type == 1 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT));
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric_for(img));
  TIFFSetField(tif, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_NONE));
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  const int extra = img.bands - (photometric_for(img) == PHOTOMETRIC_MINISBLACK ? 1
                                 : photometric_for(img) == PHOTOMETRIC_RGB    ? 3
                                                                              : 4);
  if (extra > 0) {
    std::vector<uint16_t> kinds(size_t(extra), EXTRASAMPLE_UNSPECIFIED);
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(extra), kinds.data());
  }
  if (georef)
    write_geotiff_tags(tif, georef->x_origin, georef->y_origin, georef->x_scale, georef->y_scale,
                       geokeys_of(metadata));
  try {
    if (img.data_type == 1) write_rows(tif, name, img.f32, img);
    else if (img.data_type == 2) write_rows(tif, name, img.u16, img);
    else write_rows(tif, name, img.u8, img);
  } catch (...) {
    georef ? close_tiff_with_geotiff_tags(tif) : TIFFClose(tif);
    std::remove(name.c_str());
    throw;
  }
  georef ? close_tiff_with_geotiff_tags(tif) : TIFFClose(tif);
}

std::string world_file_name(const std::string& tiff_name) {
  std::string name = tiff_name;
  const size_t slash = name.rfind('/');
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) name.erase(dot);
  return name + ".tfw";
}

void write_world_file(FILE* f, const std::string& name, const Georeference& g) {
  const double values[6] = {g.x_scale, 0, 0, -g.y_scale, g.x_origin + g.x_scale / 2,
                            g.y_origin - g.y_scale / 2};
  for (double v : values)
    if (std::fprintf(f, "%30.15lf\n", v) < 0) throw WriteError(name);
  if (std::fflush(f) != 0) throw WriteError(name);
}
