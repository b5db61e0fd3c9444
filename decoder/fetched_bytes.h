// Pieces of a file read in one batch: the wanted ranges sorted, those that touch or lie within
// `gap` bytes of each other merged (one request instead of two costs more than a few bytes
// between them), and read through the source's multi-range read.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "vexal/byte_source.h"

struct ByteRange {
  uint64_t offset, end;  // end exclusive
};

class FetchedBytes {
 public:
  // Reads `ranges` (which must lie inside the source) from `source`.
  void fetch(vexal::ByteSource& source, std::vector<ByteRange> ranges, uint64_t gap);
  // The bytes offset .. offset + length - 1 when one piece holds them all, else an empty span.
  std::span<const uint8_t> find(uint64_t offset, uint64_t length) const;
  // Bytes read so far.
  uint64_t bytes() const { return bytes_; }

 private:
  std::map<uint64_t, std::vector<uint8_t>> pieces_;  // by offset
  uint64_t bytes_ = 0;
  uint64_t longest_ = 0;  // of the pieces
};
