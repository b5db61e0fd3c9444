#include "launcher/vm_selection.h"

#include <filesystem>

#include "launcher/launcher_error.h"
#include "launcher/valid_vm_list.h"
#include "launcher/vm_discovery.h"
#include "platform/file_specification.h"
#include "platform/process_environment.h"

namespace kst {
namespace fs = std::filesystem;

namespace {
constexpr const char* kValidListKey = "kst.nl.valid.vm.list";
}

std::string explicit_vm_candidate(const Properties& properties,
                                  const LauncherArguments& arguments,
                                  const std::string& properties_directory) {
  if (const auto named = explicit_vm_argument(arguments))
    if (Quorvale::accessible(Quorvale::FileSpecification(*named))) return *named;
  const std::string current = properties.string("kst.nl.current.vm");
  if (current.empty()) return "";
  return Quorvale::resolve_against(properties_directory, current);
}

std::unique_ptr<VmRecord> choose_vm(const Properties& properties,
                                    const LauncherArguments& arguments, const VmSearch& search) {
  const std::string list = properties.string(kValidListKey);
  VmInspector inspector(*search.registry);
  const std::string named = explicit_vm_candidate(properties, arguments, search.properties_directory);
  std::error_code ec;
  if (!named.empty() && fs::exists(named, ec) && !fs::is_directory(named, ec)) {
    auto vm = inspector.inspect(named, true);
    if (!valid_list_accepts(list, *vm)) throw TerminalError::of(kNoValidVm);
    return vm;
  }
  VmList found = discover_vms(*search.registry, inspector, search.path_folders);
  for (auto it = found.rbegin(); it != found.rend(); ++it)
    if (valid_list_accepts(list, **it)) return std::move(*it);
  throw TerminalError::of(kNoValidVm);
}

}  // namespace kst
