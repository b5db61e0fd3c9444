#include "launcher/vm_discovery.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "platform/process_environment.h"

namespace kst {
namespace fs = std::filesystem;
namespace {

struct JavaKey {
  const char* key;
  const char* vendor;
  VmKind kind;
};

// IBM's runtime key lists runtimes and its development-kit key development kits, as the
// JavaSoft keys do.
constexpr JavaKey kJavaKeys[] = {
    {Quorvale::kJavaSoftDevelopmentKitKey, "Sun", kJdk},
    {Quorvale::kJavaSoftRuntimeKey, "Sun", kJre},
    {Quorvale::kIbmRuntimeKey, "IBM", kJre},
    {Quorvale::kIbmDevelopmentKitKey, "IBM", kJdk},
};

constexpr const char* kPathNames[] = {"java", "jre", "javaw", "jrew", "jview"};

JavaVersion registry_version(const Quorvale::RegistrySubkey& subkey) {
  JavaVersion version = parse_version_string(subkey.name);
  const auto micro = subkey.values.find("MicroVersion");
  if (version.is_modern() || micro == subkey.values.end()) return version;
  const unsigned micro_number = static_cast<unsigned>(std::atoi(micro->second.c_str()));
  return JavaVersion::packed(static_cast<uint16_t>((version.word() & 0xF0F) | (micro_number << 4)));
}

void add_registry_vms(const Quorvale::Registry& registry, VmList& found) {
  for (const JavaKey& key : kJavaKeys) {
    for (const Quorvale::RegistrySubkey& subkey : registry.subkeys(key.key)) {
      const auto home = subkey.values.find("JavaHome");
      if (home == subkey.values.end()) continue;
      const std::string path = (fs::path(home->second) / "bin" / "java").string();
      if (!Quorvale::is_executable_file(path)) continue;
      const JavaVersion version = registry_version(subkey);
      found.push_back(make_vm_record(path, version, key.vendor, key.kind, version.java2()));
    }
  }
}

void add_path_vms(VmInspector& inspector, const std::vector<std::string>& folders,
                  VmList& found) {
  for (const std::string& folder : folders)
    for (const char* name : kPathNames) {
      const std::string path = Quorvale::full_path_name((fs::path(folder) / name).string());
      if (Quorvale::is_executable_file(path)) found.push_back(inspector.inspect(path));
    }
}

void remove_duplicates(VmList& vms) {
  std::set<std::string> seen;
  VmList kept;
  for (auto& vm : vms) {
    std::error_code ec;
    fs::path real = fs::canonical(vm->path(), ec);
    if (ec) real = vm->path();
    if (seen.insert(real.string()).second) kept.push_back(std::move(vm));
  }
  vms = std::move(kept);
}

}  // namespace

VmList discover_vms(const Quorvale::Registry& registry, VmInspector& inspector,
                    const std::vector<std::string>& path_folders) {
  VmList vms;
  add_registry_vms(registry, vms);
  add_path_vms(inspector, path_folders, vms);
  remove_duplicates(vms);
  std::stable_sort(vms.begin(), vms.end(), [](const auto& a, const auto& b) {
    return compare(a->version(), b->version()) < 0;
  });
  return vms;
}

}  // namespace kst
