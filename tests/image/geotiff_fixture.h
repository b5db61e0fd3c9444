// GeoTIFF files for the reader tests, written with libtiff after registering the GeoTIFF tags.
#pragma once

#include <string>
#include <vector>

#include "tiff_fixture.h"

namespace vexal_test {

struct GeoTags {
  std::vector<double> pixel_scale = {1, 1, 0};
  std::vector<double> tie_point = {0, 0, 0, 500000, 4000000, 0};
  std::vector<uint16_t> key_directory;  // empty: no key directory
  std::vector<double> double_params;
  std::string ascii_params;
};

inline TIFFExtendProc& parent_extender() {
  static TIFFExtendProc parent = nullptr;
  return parent;
}

inline void geotiff_extender(TIFF* tif) {
  static const TIFFFieldInfo kFields[] = {
      {33550, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("ModelPixelScale")},
      {33922, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("ModelTiepoint")},
      {34735, -1, -1, TIFF_SHORT, FIELD_CUSTOM, 1, 1, const_cast<char*>("GeoKeyDirectory")},
      {34736, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("GeoDoubleParams")},
      {34737, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char*>("GeoASCIIParams")},
  };
  TIFFMergeFieldInfo(tif, kFields, sizeof kFields / sizeof kFields[0]);
  if (parent_extender()) parent_extender()(tif);
}

inline void register_geotiff_tags() {
  static bool done = false;
  if (done) return;
  parent_extender() = TIFFSetTagExtender(geotiff_extender);
  done = true;
}

// Key directory of `keys` (each: id, location, count, value) with the usual header.
inline std::vector<uint16_t> key_directory(const std::vector<std::vector<uint16_t>>& keys) {
  std::vector<uint16_t> d = {1, 1, 0, static_cast<uint16_t>(keys.size())};
  for (const auto& k : keys) d.insert(d.end(), k.begin(), k.end());
  return d;
}

inline void write_geotiff(const std::string& path, const TiffSpec& layout, const GeoTags& g) {
  register_geotiff_tags();
  write_tiff(path, layout, pattern(layout), [&](TIFF* tif) {
    if (!g.pixel_scale.empty())
      TIFFSetField(tif, 33550, int(g.pixel_scale.size()), g.pixel_scale.data());
    if (!g.tie_point.empty())
      TIFFSetField(tif, 33922, int(g.tie_point.size()), g.tie_point.data());
    if (!g.key_directory.empty())
      TIFFSetField(tif, 34735, int(g.key_directory.size()), g.key_directory.data());
    if (!g.double_params.empty())
      TIFFSetField(tif, 34736, int(g.double_params.size()), g.double_params.data());
    if (!g.ascii_params.empty()) TIFFSetField(tif, 34737, g.ascii_params.c_str());
  });
}

}  // namespace vexal_test
