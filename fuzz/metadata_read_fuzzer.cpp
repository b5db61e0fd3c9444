// libFuzzer entry point for the metadata block parser that the decoder runs on untrusted files.
// A block that parses must serialise back to exactly the bytes that were parsed.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "encoder/metadata/metadata.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MetadataList list;
  size_t consumed = 0;
  if (metadata_read(&list, data, size, &consumed) != 0) return 0;
  std::vector<uint8_t> again;
  if (metadata_serialize(&list, &again) != 0) __builtin_trap();
  if (again.size() != consumed || !std::equal(again.begin(), again.end(), data)) __builtin_trap();
  return 0;
}
