// libFuzzer entry point for the GDAL driver: any bytes either open through GDAL and read the
// first and last block of every band and overview, or end in a GDAL error.
#include "fuzz/gdal_driver_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_entries::gdal_driver_entry(data, size);
  return 0;
}
