// libFuzzer entry point for the SunRastImage reader: header checks and pixel reads of hostile files.
#include <memory>

#include "encoder/image/sun_rast_image.h"
#include "reader_fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz_input_file(data, size);
  fuzz_reader([&] { return std::make_unique<SunRastImage>(path, 0, 0); });
  return 0;
}
