// What kind of coordinate system an EPSG code names, from libgeotiff's tables (kept apart from
// the metadata records, whose value-type names clash with libgeotiff's).
#pragma once

enum class EpsgSystem { kUnknown, kProjected, kGeographic };

EpsgSystem epsg_system(int code);
