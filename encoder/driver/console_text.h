// The fixed texts that vexal_encode prints on standard error.
#pragma once

#include <cstdio>

void print_banner(FILE* out);
void print_tiff_acknowledgement(FILE* out);
void print_version_display(FILE* out);
void print_usage(FILE* out);
