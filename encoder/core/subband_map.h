// The subband map of one coding pass: per subband (in subband number order) its dither offsets,
// its temporary file of coded band payloads (block-and-band parts as the output file holds
// them) and the directory of the records written there. The block coder fills it; the file
// writer copies the parts from the temporary files into the output.
#pragma once

#include <cstdint>
#include <vector>

#include "codec/dither.h"
#include "platform/temp_file.h"

// One record of a subband in its temporary file.
struct SubbandRecordEntry {
  std::vector<float> steps;       // per band; 0: band not coded
  int x0 = 0, x1 = -1, y0 = 0, y1 = -1;  // inclusive, in the subband's coordinates
  std::vector<int64_t> offsets;   // per band: where its payload starts, -1 when not coded
  std::vector<int64_t> sizes;     // per band: bytes of its payload
};

struct SubbandMapEntry {
  DitherOffsets offsets;
  Quorvale::ScopedTempFile file;  // open "w+b"; removed with the entry
  std::vector<SubbandRecordEntry> records;
};

using SubbandMap = std::vector<SubbandMapEntry>;

// Draws the dither offsets (a fresh generator per pass) and creates one temporary file per
// subband, 3 nlev + 1 of them, in `temp_dir` (or $TMPDIR). On failure every file made so far
// is removed.
SubbandMap subband_map_init(int nlev, const Quorvale::FileSpecification* temp_dir);

// Ends every temporary file with 0xFF 0xA9 and rewinds it for reading. Throws Error
// TempWriteError naming the file when a write fails.
void write_eof(SubbandMap& map);
