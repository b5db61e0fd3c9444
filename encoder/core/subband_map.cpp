#include "encoder/core/subband_map.h"

#include <cstdio>

#include "platform/error.h"

SubbandMap subband_map_init(int nlev, const Quorvale::FileSpecification* temp_dir) {
  const int count = 3 * nlev + 1;
  const std::vector<DitherOffsets> offsets = dither_offsets(count);
  SubbandMap map;
  map.reserve(size_t(count));
  for (int k = 0; k < count; ++k) {
    SubbandMapEntry entry{offsets[size_t(k)], Quorvale::ScopedTempFile(temp_dir), {}};
    map.push_back(std::move(entry));
  }
  return map;
}

void write_eof(SubbandMap& map) {
  static const unsigned char kEnd[2] = {0xFF, 0xA9};
  for (SubbandMapEntry& e : map) {
    FILE* f = e.file.stream();
    if (!f) throw Error("Error encountered in write_eof.");
    // Buffered records reach the disk here: a full disk shows first at this flush.
    if (std::fwrite(kEnd, 1, 2, f) != 2 || std::fflush(f) != 0)
      throw TempWriteError(e.file.name().str());
    if (std::fseek(f, 0, SEEK_SET) != 0) throw Error("Error encountered in write_eof.");
  }
}
