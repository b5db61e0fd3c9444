// The vexal_decode program: options, the decode or the listing, one catch point.
#pragma once

int run_vexal_decode(int argc, const char* const* argv);
