// The launcher's run: find the properties, choose a VM, hand the settings over, start the VM
// on this console, wait for it and report its exit code.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "launcher/launcher_arguments.h"
#include "launcher/properties.h"
#include "launcher/temp_properties_file.h"
#include "platform/registry.h"

namespace kst {

// The system services the launcher uses, replaceable in tests.
struct LauncherServices {
  const Quorvale::Registry* registry = nullptr;
  std::vector<std::string> path_folders;
  std::function<bool()> control_key_held;
};

LauncherServices system_launcher_services();

class Launcher {
 public:
  // Locates the executable (from `started_as`) and the properties file, reads it, sets the
  // console title and notes a held Control key in the hand-off file. Raises TerminalError
  // or the file error of an unreadable properties file.
  Launcher(const std::string& started_as, LauncherArguments arguments, LauncherServices services);

  // Chooses the VM, writes the hand-off file, starts the VM and waits; returns its exit code.
  // `service`: the run of service mode (" -Xrs", a stop request ends the VM).
  int run(bool service);

  // Shows the closing prompt and waits for a key when the properties ask for it or Control
  // is held.
  void pause_if_wanted();

  const std::string& properties_file() const { return properties_file_; }
  const Properties& properties() const { return properties_; }

 private:
  LauncherArguments arguments_;
  LauncherServices services_;
  std::string properties_file_;
  std::string properties_directory_;
  Properties properties_;
  TempPropertiesFile temp_file_;
};

}  // namespace kst
