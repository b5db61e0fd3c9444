// libFuzzer entry point for the metadata block parser that the decoder runs on untrusted files.
// A block that parses must serialise back to exactly the bytes that were parsed.
#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_entries::metadata_read_entry(data, size);
  return 0;
}
