#include "platform/version.h"

Version program_version() { return {1, 3, 1}; }
