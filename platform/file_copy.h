// Copies a finished file, front to back, into a stream that cannot seek or be renamed onto
// (standard output, a device).
#pragma once

#include <cstdio>
#include <string>

#include "platform/file_specification.h"

namespace platform {

// Appends the bytes of `from` to `to` and flushes it; ReadError naming `from`, or WriteError
// naming `to_name` (with the errno's cause).
void copy_file_into(const Quorvale::FileSpecification& from, FILE* to, const std::string& to_name);

}  // namespace platform
