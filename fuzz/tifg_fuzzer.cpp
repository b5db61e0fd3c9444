// libFuzzer entry point for the GeoTIFF reader: header checks and pixel reads of hostile files,
// through the reader factory; the body is shared with the corpus replay.
#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_entries::image_reader_entry("TIFG", data, size);
  return 0;
}
