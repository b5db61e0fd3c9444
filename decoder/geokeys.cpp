#include "decoder/geokeys.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kRasterTypeKey = 1025;
constexpr int kRasterPixelIsArea = 1;
constexpr int kGeographicTypeKey = 2048;
constexpr int kProjectedCsTypeKey = 3072;
constexpr int kUserDefined = 32767;
// GeoTIFF's key numbers: those below are reserved, and libgeotiff indexes keys by number.
constexpr int kFirstKey = 1024, kLastKey = 65535;

}  // namespace

std::vector<GeoKeyValue> geokeys_of(const MetadataList& list) {
  std::vector<GeoKeyValue> keys;
  keys.push_back(GeoKeyValue{kRasterTypeKey, GeoKeyValue::kShort, {double(kRasterPixelIsArea)}, {}});
  for (const MetadataRecord& r : list.slots) {
    int id = 0;
    if (r.empty() || std::sscanf(r.key.c_str(), "GEOTIFF_NUM::%d::", &id) != 1) continue;
    if (id == kRasterTypeKey || id < kFirstKey || id > kLastKey) continue;
    // A key named twice keeps its first value: libgeotiff cannot take a key again with another
    // type (it frees the first value wrongly).
    if (std::any_of(keys.begin(), keys.end(), [id](const GeoKeyValue& k) { return k.id == id; }))
      continue;
    GeoKeyValue k{id, GeoKeyValue::kShort, {}, {}};
    if (r.type == TYPE_SHORT && r.count == 1) {
      uint16_t v;
      std::memcpy(&v, r.values.data(), 2);
      k.numbers.push_back(v);
    } else if (r.type == TYPE_DOUBLE && r.count >= 1) {
      k.kind = GeoKeyValue::kDouble;
      k.numbers.resize(size_t(r.count));
      std::memcpy(k.numbers.data(), r.values.data(), k.numbers.size() * sizeof(double));
    } else if (r.type == TYPE_ASCII && !r.strings.empty()) {
      k.kind = GeoKeyValue::kAscii;
      k.text = r.strings[0];
    } else {
      continue;
    }
    keys.push_back(std::move(k));
  }
  return keys;
}

int epsg_of(const std::vector<GeoKeyValue>& keys) {
  auto code = [&](int id) {
    for (const GeoKeyValue& k : keys)
      if (k.id == id && k.kind == GeoKeyValue::kShort && !k.numbers.empty()) {
        const int v = int(k.numbers[0]);
        return v > 0 && v < kUserDefined ? v : 0;
      }
    return 0;
  };
  const int projected = code(kProjectedCsTypeKey);
  return projected ? projected : code(kGeographicTypeKey);
}
