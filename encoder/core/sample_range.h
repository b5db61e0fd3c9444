// The float samples the transform carries without leaving the float range: every lifting
// result is stored as a float, so a sample whose worst-case growth through the levels passes
// the largest float comes back as infinity or garbage, not as a coarser value.
#pragma once

#include <cstddef>
#include <limits>
#include <string>

// The largest sample magnitude that `nlev` levels (1 to 9) keep finite in every stored
// intermediate of the analysis and the synthesis.
double largest_codable_sample(int nlev);

struct SampleLimit {
  double magnitude = std::numeric_limits<double>::infinity();  // infinity: nothing checked
  int nlev = 0;
  std::string source;  // the input's name, for the message

  // Throws Error when a value of data[0 .. count) is infinite or its magnitude passes the
  // limit (not-a-number is left to the nodata fill).
  void check(const float* data, size_t count) const;
};
