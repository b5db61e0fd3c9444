// The version of the Vexal library and programs. CMake reads the project version from here, so
// this is the one place to change it.
#pragma once

#define VEXAL_VERSION_MAJOR 1
#define VEXAL_VERSION_MINOR 3
#define VEXAL_VERSION_PATCH 1
#define VEXAL_VERSION_STRING "1.3.1"

// One number that grows with every release, for #if checks: 10301 for 1.3.1.
#define VEXAL_VERSION_NUMBER \
  (VEXAL_VERSION_MAJOR * 10000 + VEXAL_VERSION_MINOR * 100 + VEXAL_VERSION_PATCH)
