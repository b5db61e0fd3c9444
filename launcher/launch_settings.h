// What the VM command line is made of, gathered from the properties before a VM family turns
// it into its own dialect.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "launcher/launcher_arguments.h"
#include "launcher/properties.h"

namespace kst {

struct LaunchSettings {
  std::string main_class;
  std::vector<std::string> class_path;  // entries, absolute where they were relative
  std::string working_directory;        // empty: the launcher's
  int64_t initial_heap = 0;             // bytes; 0 = not given
  int64_t max_heap = 0;
  bool verbose = false;
  std::string verbosity;  // "gc", "class" or empty
  bool debug = false;
  bool no_async_gc = false;
  bool jit_off = false;
  bool no_class_gc = false;
  bool verify = false;
  std::string additional_options;
  int microsoft_min_version = 0;
  std::vector<std::string> launcher_arguments;  // properties file, temporary properties file
  std::vector<std::string> application_arguments;
};

// Where the properties and the two hand-off files are.
struct LaunchFiles {
  std::string properties_file;       // full path
  std::string properties_directory;  // base of relative paths in the file
  std::string temp_properties_file;
};

// Fills the settings; in service mode " -Xrs" joins the additional options. An unknown
// verbosity selection is reported on standard error and turns verbosity off.
LaunchSettings build_launch_settings(const Properties& properties, const LaunchFiles& files,
                                     const LauncherArguments& arguments, bool service);

// Applies a `kst.nl.java.option.verbose` value; returns the warning for an unknown one.
std::optional<std::string> apply_verbosity(LaunchSettings& settings, const std::string& value);

// Splits a class path at ";" (and at ":", the POSIX separator), trims blanks around entries,
// drops empty ones and resolves relative ones against `base`.
std::vector<std::string> split_class_path(const std::string& text, const std::string& base);

// The class path as the VM takes it, entries joined by ":".
std::string class_path_text(const std::vector<std::string>& entries);

// The launcher arguments with "/" for "\" and each in quotes followed by a space, then the
// application arguments separated by spaces, quoted when they contain a space.
std::string application_argument_string(const LaunchSettings& settings);

}  // namespace kst
