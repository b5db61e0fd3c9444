#include "encoder/driver/version.h"

Version program_version() { return {1, 3, 1}; }
