// The `release` file at the top of a Java installation: lines of KEY="value" (or KEY=value)
// naming its version (JAVA_VERSION) and maker (IMPLEMENTOR). On POSIX it stands in for the
// registry entries and version resources a Windows installation carries.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace Quorvale {

using ReleaseFields = std::map<std::string, std::string>;

// Fields of `<installation>/release`, or nothing when the file cannot be read. Surrounding
// double quotes are removed from values; lines without "=" are skipped.
std::optional<ReleaseFields> read_java_release_file(const std::string& installation);

// The installation that holds an executable or library: the directory with a `release` file
// found walking up from the file's real (symbolic links resolved) directory, at most three
// levels (bin/java, jre/bin/java). Empty when there is none.
std::string java_installation_of(const std::string& file);

}  // namespace Quorvale
