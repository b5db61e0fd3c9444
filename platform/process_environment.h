// This process's environment, current folder, full path names and the system's folder for
// temporary files.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Quorvale {

// Every variable as (name, value), in the environment's order.
std::vector<std::pair<std::string, std::string>> environment_variables();
std::optional<std::string> environment_variable(const std::string& name);
void set_environment_variable(const std::string& name, const std::string& value);

// The folders listed in PATH, in order; an empty entry is the current folder ("."). None when
// PATH is unset or empty.
std::vector<std::string> search_path_folders();

// True for a regular file (links followed) that this process may execute.
bool is_executable_file(const std::string& path);

// The current folder; empty when it cannot be read (removed meanwhile).
std::string current_directory();

// The absolute form of `name` against the current folder, with "." and ".." parts and doubled
// separators removed; symbolic links are kept as they are.
std::string full_path_name(const std::string& name);

// `name` itself when absolute, else `name` resolved against `base`, normalised as above.
std::string resolve_against(const std::string& base, const std::string& name);

// Creates a new empty file named `prefix` plus six unique characters in $TMPDIR (else /tmp),
// readable by the user only, and returns its path. Raises Error when none can be created.
std::string make_system_temp_file(const std::string& prefix);

}  // namespace Quorvale
