#include "encoder/driver/run_sequence.h"

int main(int argc, char** argv) { return run_vexal_encode(argc, argv); }
