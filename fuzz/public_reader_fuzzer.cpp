// libFuzzer entry point for the public vexal::Reader: any bytes either open and read a few
// small windows at a few levels, equal however they are cut, or fail with vexal::Error.
#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_entries::public_reader_entry(data, size);
  return 0;
}
