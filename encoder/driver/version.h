// The program version, kept as three integers.
#pragma once

struct Version {
  int major, minor, patch;
};

Version program_version();
