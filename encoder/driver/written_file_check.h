// A .vxl file just written, opened as its readers open it (header, offset tables, block
// tables, metadata; no pixel is decoded): an encoding is never reported done for a file they
// would refuse.
#pragma once

#include "platform/file_specification.h"

struct WrittenShape {
  int width = 0, height = 0, bands = 0, levels = 0;
};

// Throws Error naming `output` when it does not open or does not hold `shape`. Standard
// output, devices and FIFOs, which cannot be read back, are taken as written.
void check_written_file(const Quorvale::FileSpecification& output, const WrittenShape& shape);
