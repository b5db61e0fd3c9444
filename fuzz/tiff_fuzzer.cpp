// libFuzzer entry point for the TIFF reader: header checks and pixel reads of hostile files,
// through the reader factory; the body is shared with the corpus replay.
#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_entries::image_reader_entry("TIFF", data, size);
  return 0;
}
