#include "image/epsg_system.h"

#include <geo_normalize.h>

EpsgSystem epsg_system(int code) {
  // GeoTIFF keys are 16-bit; 32767 means "user defined", not a code.
  if (code <= 0 || code >= 32767) return EpsgSystem::kUnknown;
  if (GTIFGetPCSInfo(code, nullptr, nullptr, nullptr, nullptr)) return EpsgSystem::kProjected;
  if (GTIFGetGCSInfo(code, nullptr, nullptr, nullptr, nullptr)) return EpsgSystem::kGeographic;
  return EpsgSystem::kUnknown;
}
