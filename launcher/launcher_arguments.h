// The launcher's own command line: what it forwards to the Java application, and the service
// mode switch.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kst {

struct LauncherArguments {
  std::vector<std::string> forwarded;  // for the Java application, in order
  bool service = false;
  std::string service_name;
  bool console = false;  // "-i console" was given
};

// Parses the words after the program name. "-zgkstservice NAME" selects service mode and is
// not forwarded; every other word is, a word naming an existing file or folder as its full
// path.
LauncherArguments parse_launcher_arguments(const std::vector<std::string>& words);

// The word after "KST_VM" in the forwarded list, when there is one.
std::optional<std::string> explicit_vm_argument(const LauncherArguments& arguments);

}  // namespace kst
