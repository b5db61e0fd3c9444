#include "decoder/decode_command.h"

int main(int argc, char** argv) { return run_vexal_decode(argc, argv); }
