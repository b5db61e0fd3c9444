// libFuzzer entry point for the BIL/BIP/BSQ reader: the bytes are both the text header (the
// ".hdr" file) and the raw samples, so header parsing meets untrusted text and every size it
// derives is checked against a file of that length.
#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_entries::image_reader_entry("BBB", data, size, "hdr");
  return 0;
}
