// A structural walk over a whole .vxl file: every block-and-band header and every record that
// the offset tables name must start with its marker and decode to exactly its rectangle, and
// every subband's dither offsets must lie in 0..127.
#pragma once

#include <string>
#include <vector>

#include "decoder/vxl_file.h"

struct VxlCheckReport {
  // "subband <i>: <what is wrong>", without the file's name; empty when the file is sound.
  std::vector<std::string> problems;
  int block_parts = 0;
  int records = 0;
};

VxlCheckReport check_vxl_structure(const VxlFile& file);
