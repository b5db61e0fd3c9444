// What an output name stands for before a program writes it. The programs write regular files
// under a temporary name beside them and rename it into place; anything else that already
// carries the name (a device, a FIFO, a folder) must be written into directly or refused, never
// replaced, and a symbolic link keeps pointing where it did.
#pragma once

#include <string>

namespace platform {

enum class OutputKind { kAbsent, kRegular, kDirectory, kCharacterDevice, kFifo, kOther };

// The kind of what `name` leads to, symbolic links followed.
OutputKind output_kind(const std::string& name);
// "a folder", "a device", "a FIFO", "not a regular file" as a message puts it.
const char* output_kind_words(OutputKind kind);
// The name with every symbolic link on its end followed to the final target (which need not
// exist yet): renaming a finished file onto it then replaces the target, not the link. Error
// for a loop of links.
std::string link_target(const std::string& name);

}  // namespace platform
