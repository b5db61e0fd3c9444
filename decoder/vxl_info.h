// The -info listing of a .vxl file, for people.
#pragma once

#include <cstdio>

#include "decoder/vxl_file.h"

void print_vxl_info(const VxlFile& file, FILE* out);
