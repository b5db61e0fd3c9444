#include "decoder/tiff_output.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/error.h"

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
