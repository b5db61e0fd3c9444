#include "image/geotiff_names.h"

#include <geotiff.h>

std::string geo_key_name(int key) {
  const char* name = GTIFKeyName(static_cast<geokey_t>(key));
  return name ? name : "";
}

std::string geo_value_name(int key, int value) {
  const char* name = GTIFValueName(static_cast<geokey_t>(key), value);
  return name ? name : "";
}
