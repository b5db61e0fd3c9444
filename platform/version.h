// The program version, kept as three integers; every program of the system reports it.
#pragma once

struct Version {
  int major, minor, patch;
};

Version program_version();
