// A small reader of the first TIFF directory (classic or BigTIFF), independent of libtiff,
// for the GeoTIFF tags: every field with its values in native byte order. Strip and tile
// offset tables are skipped (count 0, no values); they can be huge and are read by libtiff.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_specification.h"

struct TiffDirectoryEntry {
  uint16_t tag = 0;
  uint16_t type = 0;  // TIFF field type
  uint64_t count = 0;
  std::vector<uint8_t> values;  // count elements of type_size(type) bytes, host order
};

class TiffDirectory {
 public:
  // Reads the directory at once; failures raise Quorvale::Exception.
  explicit TiffDirectory(const Quorvale::FileSpecification& file);

  // The first entry with `tag`, or null.
  const TiffDirectoryEntry* find(uint16_t tag) const;
  const std::vector<TiffDirectoryEntry>& entries() const { return entries_; }
  bool big_tiff() const { return big_; }

 private:
  std::vector<TiffDirectoryEntry> entries_;
  bool big_ = false;
};

// Bytes of one value of a TIFF field type; Quorvale::Exception for unknown types.
int type_size(int type);
