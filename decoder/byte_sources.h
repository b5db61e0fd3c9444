// The library's byte sources as vexal's own programs open them: failures as the system's Error.
#pragma once

#include <memory>
#include <string>

#include "vexal/byte_source.h"

namespace vexal {

// A local file; throws OpenError "Error opening file <path> for read.", and ReadError when a
// read fails.
std::shared_ptr<ByteSource> open_local_file(const std::string& path);

}  // namespace vexal
