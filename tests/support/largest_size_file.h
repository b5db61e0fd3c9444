// Turns a small .vxl file into one whose header states the largest size there is,
// 2147483647 x 2147483647, with its one low-pass block stretched to match, so that it still
// opens: what every reader must describe and refuse without overflowing.
#pragma once

#include <string>

namespace vexal_test {

// `path`: a file of one band whose low-pass subband is one block (a small image coded with
// 2 levels). Returns false when it is not such a file.
bool stretch_to_largest_size(const std::string& path);

}  // namespace vexal_test
