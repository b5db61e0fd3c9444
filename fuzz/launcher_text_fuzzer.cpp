// libFuzzer entry point for the launcher's text parsers (properties, valid-VM list, Windows
// command lines); the body is shared with the corpus replay.
#include "fuzz/launcher_text_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_entries::launcher_text_entry(data, size);
  return 0;
}
