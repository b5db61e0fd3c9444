#include "image/geotiff_keys.h"

#include <cstdio>
#include <cstring>

#include "image/geotiff_names.h"
#include "platform/error.h"

namespace {

constexpr uint16_t kGeoKeyDirectory = 34735;
constexpr int kTypeRational = 4;  // metadata code of TIFF RATIONAL, which records cannot hold

uint16_t short_at(const std::vector<uint8_t>& values, size_t index) {
  uint16_t v;
  std::memcpy(&v, values.data() + 2 * index, 2);
  return v;
}

[[noreturn]] void bad_count() {
  throw Error("Error: Incorrect value count in GeoTIFF key directory.");
}

// The key's values are `count` values of another field, from index `offset` on.
void take_from_field(GeoKey& key, const TiffDirectoryEntry& field, uint16_t offset) {
  key.type = field.type;
  if (uint64_t{offset} + key.count > field.count) bad_count();
  if (field.type == 2) {
    std::string text(reinterpret_cast<const char*>(field.values.data()) + offset, key.count);
    text = text.substr(0, text.find('\0'));
    if (!text.empty() && text.back() == '|') text.pop_back();
    key.text = text;
    return;
  }
  size_t size = static_cast<size_t>(type_size(field.type));
  auto first = field.values.begin() + static_cast<ptrdiff_t>(offset * size);
  key.values.assign(first, first + static_cast<ptrdiff_t>(key.count * size));
}

}  // namespace

std::vector<GeoKey> parse_geo_keys(const TiffDirectory& dir) {
  std::vector<GeoKey> keys;
  const TiffDirectoryEntry* directory = dir.find(kGeoKeyDirectory);
  if (!directory) return keys;
  if (directory->type != 3)
    throw Error("Error: Incorrect data type encountered for GeoTIFF key directory.");
  const auto& v = directory->values;
  if (directory->count < 4 || directory->count != 4ull * short_at(v, 3) + 4) bad_count();
  for (size_t k = 1; k <= short_at(v, 3); ++k) {
    GeoKey key;
    key.id = short_at(v, 4 * k);
    uint16_t location = short_at(v, 4 * k + 1);
    key.count = short_at(v, 4 * k + 2);
    uint16_t value = short_at(v, 4 * k + 3);
    if (location == 0) {
      key.type = 3;
      key.count = 1;
      key.values.resize(2);
      std::memcpy(key.values.data(), &value, 2);
    } else {
      const TiffDirectoryEntry* field = dir.find(location);
      if (!field) throw Quorvale::Exception("Error: missing GeoTIFF directory-specified TIFF field.");
      take_from_field(key, *field, value);
    }
    keys.push_back(std::move(key));
  }
  return keys;
}

const GeoKey* find_geo_key(const std::vector<GeoKey>& keys, uint16_t id) {
  for (const auto& key : keys)
    if (key.id == id) return &key;
  return nullptr;
}

int tifftype2libgeotifftype(int tiff_type) {
  switch (tiff_type) {
    case 1: return TYPE_BYTE;
    case 2: return TYPE_ASCII;
    case 3: return TYPE_SHORT;
    case 4: return TYPE_LONG;
    case 5: return kTypeRational;
    case 6: return TYPE_SBYTE;
    case 8: return TYPE_SSHORT;
    case 9: return TYPE_SLONG;
    case 11: return TYPE_FLOAT;
    case 12: return TYPE_DOUBLE;
    default:
      throw Quorvale::Exception("Error: unknown datatype passed to tifftype2libgeotifftype().");
  }
}

namespace {

const char* failure_text(int type) {
  switch (type) {
    case TYPE_BYTE: return "Failed to add TYPE_BYTE tag in GeoTiff image\n";
    case TYPE_SHORT: return "Failed to add TYPE_SHORT tag in GeoTiff image\n";
    case TYPE_LONG: return "Failed to add TYPE_LONG tag in GeoTiff image.";
    case TYPE_ASCII: return "Failed to add TYPE_ASCII tag in GeoTiff image.";
    default: return "Failed to add TYPE_DOUBLE tag in GeoTiff image.";
  }
}

void add_numbers(MetadataList* list, const std::string& name, int type, const GeoKey& key) {
  int dims[1] = {static_cast<int>(key.count)};
  if (metadata_add(list, name.c_str(), type, 1, dims, key.values.data()) < 0)
    throw Quorvale::Exception(failure_text(type));
}

// A single short value also gets its name, for instance that of a coordinate system code.
void add_value_name(MetadataList* list, const GeoKey& key, const std::string& key_name) {
  std::string value_name = geo_value_name(key.id, short_at(key.values, 0));
  std::string name = "GEOTIFF_CHAR::" + key_name;
  if (metadata_add_ascii(list, name.c_str(), value_name.c_str()) < 0)
    throw Quorvale::Exception("Failed to add TYPE_BYTE tag in GeoTiff image.");
}

void add_key_record(MetadataList* list, const GeoKey& key) {
  int type = tifftype2libgeotifftype(key.type);
  std::string key_name = geo_key_name(key.id);
  std::string name = format_message("GEOTIFF_NUM::%d::%s", key.id, key_name.c_str());
  switch (type) {
    case TYPE_BYTE: case TYPE_SHORT: case TYPE_LONG: case TYPE_DOUBLE:
      add_numbers(list, name, type, key);
      if (type == TYPE_SHORT && key.count == 1) add_value_name(list, key, key_name);
      break;
    case TYPE_ASCII:
      if (metadata_add_ascii(list, name.c_str(), key.text.c_str()) < 0)
        throw Quorvale::Exception(failure_text(TYPE_ASCII));
      break;
    case kTypeRational:
      std::fprintf(stderr, "Type TYPE_RATIONAL (%d) not implemented yet!!\n", kTypeRational);
      break;
    case TYPE_SBYTE:
      std::fprintf(stderr, "Type TYPE_SBYTE (%d) not implemented yet!!\n", TYPE_SBYTE);
      break;
    case TYPE_SSHORT:
      std::fprintf(stderr, "Type TYPE_SSHORT (%d) not implemented yet!!\n", TYPE_SSHORT);
      break;
    case TYPE_SLONG:
      std::fprintf(stderr, "Type TYPE_SLONG (%d) not implemented yet!!\n", TYPE_SLONG);
      break;
    default:  // TYPE_FLOAT keys are not carried
      break;
  }
}

}  // namespace

void add_geo_key_records(MetadataList* list, const std::vector<GeoKey>& keys) {
  for (const auto& key : keys) add_key_record(list, key);
}
