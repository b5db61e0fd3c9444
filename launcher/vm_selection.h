// Choosing the VM to launch.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "launcher/launcher_arguments.h"
#include "launcher/properties.h"
#include "launcher/vm_inspection.h"
#include "launcher/vm_record.h"
#include "platform/registry.h"

namespace kst {

struct VmSearch {
  const Quorvale::Registry* registry = nullptr;
  std::vector<std::string> path_folders;
  std::string properties_directory;  // base of a relative `kst.nl.current.vm`
};

// The VM named by the word after "KST_VM" (when it names an existing file) or else by
// `kst.nl.current.vm`, when that is a file: it must pass the valid list. Without one, the
// newest found VM that passes the list (among equal versions the last found). Raises terminal
// error 101 when no VM is acceptable.
std::unique_ptr<VmRecord> choose_vm(const Properties& properties,
                                    const LauncherArguments& arguments, const VmSearch& search);

// The explicitly named VM candidate, or an empty string.
std::string explicit_vm_candidate(const Properties& properties,
                                  const LauncherArguments& arguments,
                                  const std::string& properties_directory);

}  // namespace kst
