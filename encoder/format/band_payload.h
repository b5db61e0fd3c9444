// Reading a band payload back from a subband's temporary file: table descriptor (0xFF 0xA6),
// big-endian step, coded stream. The file is read strictly in the order it was written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

struct BandPayload {
  float step = 0;
  std::vector<int16_t> indices;  // the record's rectangle, row-major
};

// Reads the payload that starts at `offset` (which must be the stream's position) and holds
// `count` indices. Throws Error with the failing step's message.
BandPayload read_band_payload(FILE* in, int64_t offset, size_t count);
