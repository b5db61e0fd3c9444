// libgeotiff's names of GeoTIFF keys and key values ("Unknown-%d" for numbers its tables do
// not know). Kept apart because libgeotiff's header defines type names that clash with ours.
#pragma once

#include <string>

std::string geo_key_name(int key);
std::string geo_value_name(int key, int value);
