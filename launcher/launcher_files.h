// Where the launcher finds itself and its properties file.
#pragma once

#include <string>

namespace kst {

// Full path of the running launcher from the name it was started under: a name with a "/" is
// taken when it exists; a bare name is looked up in the folders of PATH (an empty entry is
// the current folder), as the shell did; /proc/self/exe is the last resort. Raises the
// terminal error "unable to locate executable" when none exists.
std::string locate_executable(const std::string& started_as);

// Full path of the properties file, the first that exists of: the executable's path with
// extension ".kst" (an ".exe" extension is replaced, any other name gets ".kst" appended);
// ".kst" in the current folder; the current folder, the executable's base name and ".kst".
// Raises terminal error 102 when there is none.
std::string locate_properties_file(const std::string& executable);

}  // namespace kst
