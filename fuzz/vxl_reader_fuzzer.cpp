// libFuzzer entry point for the .vxl reader: any bytes either open and decode (a small window
// at two levels and the structural walk) or fail with an exception, never worse.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

#include "decoder/decoded_image.h"
#include "decoder/vxl_check.h"
#include "decoder/vxl_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string name = "/tmp/vxl_reader_fuzzer." + std::to_string(getpid()) + ".vxl";
  FILE* f = std::fopen(name.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  try {
    const VxlFile file(name);
    check_vxl_structure(file);
    // Small windows only: a hostile header may announce an enormous image.
    decode_image(file, 0, Window{0, 0, std::min(file.width(), 64) - 1, std::min(file.height(), 64) - 1});
    decode_image(file, file.levels(), Window{0, 0, 0, 0});
  } catch (const std::exception&) {
  }
  std::remove(name.c_str());
  return 0;
}
