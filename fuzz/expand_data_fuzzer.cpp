// libFuzzer entry point for the coded-stream reader: the input is a table (BITS, HUFFVAL) and a
// coded stream, as the file writer and the decoder read them from untrusted files.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "encoder/format/block_coder.h"
#include "encoder/format/ht_desc_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  FILE* in = fmemopen(bytes.data(), bytes.size(), "rb");
  if (in == nullptr) return 0;
  HuffmanTableDescriptor desc;
  if (read_ht_desc_fields(in, desc) == 0) {
    std::vector<int16_t> out(128 * 128);
    size_t count = 0;
    // Successive streams, as records follow one another in a file.
    while (expand_data(in, desc, out, count) == 0 && count > 0) {
      if (count > out.size()) __builtin_trap();
    }
  }
  fclose(in);
  return 0;
}
