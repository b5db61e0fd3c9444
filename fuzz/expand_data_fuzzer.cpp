// libFuzzer entry point for the coded-stream reader: the input is a table (BITS, HUFFVAL) and a
// coded stream, as the file writer and the decoder read them from untrusted files.
#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_entries::expand_data_entry(data, size);
  return 0;
}
