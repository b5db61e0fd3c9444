// libFuzzer entry point for the ERDAS LAN reader: the header is parsed from untrusted bytes and a
// small section extracted, ending in pixels or an exception, never worse.
#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_entries::image_reader_entry("LAN", data, size);
  return 0;
}
