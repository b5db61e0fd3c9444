// The GeoTIFF keys that the encoder carried into the metadata as "GEOTIFF_NUM::<id>::<name>"
// records, turned back into keys for a GeoTIFF writer, and the EPSG code they name.
#pragma once

#include <vector>

#include "decoder/geokey_writer.h"
#include "metadata/metadata.h"

// Every key record, GTRasterTypeGeoKey first and always PixelIsArea: the tie points written
// from these records are always at a pixel's corner.
std::vector<GeoKeyValue> geokeys_of(const MetadataList& list);

// The projected coordinate system's EPSG code, else the geographic one's, else 0 (none, or
// user-defined).
int epsg_of(const std::vector<GeoKeyValue>& keys);
