// The fixed texts that vexal_encode prints on standard error.
#pragma once

#include <cstdio>

#include "platform/program_help.h"

void print_banner(FILE* out);
void print_tiff_acknowledgement(FILE* out);
void print_version_display(FILE* out);
void print_usage(FILE* out);
// What --help and --version print: the usage text, then the options it does not list.
const ProgramHelp& encode_help();
