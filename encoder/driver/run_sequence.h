// The program entry of vexal_encode: parses the command line, runs one encoding and turns every
// failure into one message on standard error and exit status 1.
#pragma once

int run_vexal_encode(int argc, const char* const* argv);
