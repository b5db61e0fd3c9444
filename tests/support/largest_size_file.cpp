#include "support/largest_size_file.h"

#include <cstdint>
#include <fstream>

namespace vexal_test {

bool stretch_to_largest_size(const std::string& path) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  auto get = [&](std::streamoff at) {
    unsigned char b[4] = {};
    f.seekg(at);
    f.read(reinterpret_cast<char*>(b), 4);
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
  };
  auto put = [&](std::streamoff at, uint32_t v) {
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    f.seekp(at);
    f.write(b, 4);
  };
  // After the 7-byte signature: bands, levels, width, height, then the subbands' offsets.
  if (get(7) != 1 || get(11) != 2) return false;
  const uint32_t low_pass = get(23);
  if (get(low_pass + 4) != 1) return false;
  put(15, 0x7FFFFFFF);
  put(19, 0x7FFFFFFF);
  // The block's x1 and y1 (after its band offset, x0 and y0): level 2 is 2^29 wide.
  put(low_pass + 20, (1u << 29) - 1);
  put(low_pass + 24, (1u << 29) - 1);
  return bool(f);
}

}  // namespace vexal_test
