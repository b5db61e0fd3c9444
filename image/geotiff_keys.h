// The GeoTIFF key directory (tag 34735) and the metadata records made from its keys:
// "GEOTIFF_NUM::<number>::<key name>" with the values and, for single short values,
// "GEOTIFF_CHAR::<key name>" with the value's name, both names from libgeotiff's tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/tiff_directory.h"
#include "metadata/metadata.h"

struct GeoKey {
  uint16_t id = 0;
  uint16_t type = 0;  // TIFF field type
  uint32_t count = 0;
  std::vector<uint8_t> values;  // numeric keys, host order
  std::string text;             // ASCII keys, without the closing '|'
};

// Parses the key directory of `dir`; no keys when the tag is absent.
std::vector<GeoKey> parse_geo_keys(const TiffDirectory& dir);
// The key with `id`, or null.
const GeoKey* find_geo_key(const std::vector<GeoKey>& keys, uint16_t id);
// Metadata type code of a TIFF field type; Quorvale::Exception for types keys cannot have.
int tifftype2libgeotifftype(int tiff_type);
// Adds the GEOTIFF_NUM and GEOTIFF_CHAR records of every key, in directory order.
void add_geo_key_records(MetadataList* list, const std::vector<GeoKey>& keys);
