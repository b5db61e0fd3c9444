// A structural walk over a whole .vxl file: every block-and-band header and every record that
// the offset tables name must start with its marker and decode to exactly its rectangle.
#pragma once

#include <string>
#include <vector>

#include "decoder/vxl_file.h"

struct VxlCheckReport {
  std::vector<std::string> problems;  // empty when the file is sound
  int block_parts = 0;
  int records = 0;
};

VxlCheckReport check_vxl_structure(const VxlFile& file);
