// Finding the installed Java VMs: the registry's four Java keys, then the folders of PATH.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "launcher/vm_inspection.h"
#include "launcher/vm_record.h"
#include "platform/registry.h"

namespace kst {

using VmList = std::vector<std::unique_ptr<VmRecord>>;

// Every VM found, without duplicates (the same executable reached twice, through links or
// twice in PATH, counts once: the first stays), sorted by version from oldest to newest with
// found order kept among equal versions. Registry entries whose executable is missing are
// skipped. `path_folders` are searched for java, jre, javaw, jrew and jview.
VmList discover_vms(const Quorvale::Registry& registry, VmInspector& inspector,
                    const std::vector<std::string>& path_folders);

}  // namespace kst
