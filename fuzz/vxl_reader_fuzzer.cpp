// libFuzzer entry point for the .vxl reader: any bytes either open and decode (a small window
// at two levels and the structural walk) or fail with an exception, never worse.
#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_entries::vxl_reader_entry(data, size);
  return 0;
}
