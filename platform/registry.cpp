#include "platform/registry.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "platform/java_release_file.h"

namespace Quorvale {
namespace fs = std::filesystem;

std::optional<std::string> Registry::value(const std::string& key, const std::string& name) const {
  const size_t cut = key.rfind('\\');
  if (cut == std::string::npos) return std::nullopt;
  const std::string child = key.substr(cut + 1);
  for (const RegistrySubkey& subkey : subkeys(key.substr(0, cut))) {
    if (subkey.name != child) continue;
    const auto found = subkey.values.find(name);
    if (found != subkey.values.end()) return found->second;
    return std::nullopt;
  }
  return std::nullopt;
}

void MemoryRegistry::add(const std::string& key, RegistrySubkey subkey) {
  keys_[key].push_back(std::move(subkey));
}

std::vector<RegistrySubkey> MemoryRegistry::subkeys(const std::string& key) const {
  const auto found = keys_.find(key);
  return found == keys_.end() ? std::vector<RegistrySubkey>() : found->second;
}

namespace {

// Subfolders of `root`, real folders first, then links, each group in name order.
std::vector<std::string> installation_candidates(const std::string& root) {
  std::vector<std::string> real, linked;
  std::error_code ec;
  for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_symlink(ec))
      linked.push_back(it->path().string());
    else if (it->is_directory(ec))
      real.push_back(it->path().string());
  }
  std::sort(real.begin(), real.end());
  std::sort(linked.begin(), linked.end());
  real.insert(real.end(), linked.begin(), linked.end());
  return real;
}

const char* key_for(const ReleaseFields& fields, bool development_kit) {
  const auto maker = fields.find("IMPLEMENTOR");
  const bool ibm = maker != fields.end() && maker->second.rfind("IBM", 0) == 0;
  if (ibm) return development_kit ? kIbmDevelopmentKitKey : kIbmRuntimeKey;
  return development_kit ? kJavaSoftDevelopmentKitKey : kJavaSoftRuntimeKey;
}

// Adds the installation in `home` unless it is not one or was listed already.
void add_installation(MemoryRegistry& registry, const std::string& home,
                      std::set<fs::path>& seen) {
  std::error_code ec;
  const fs::path dir(home);
  if (!fs::is_regular_file(dir / "bin" / "java", ec)) return;
  const fs::path real = fs::canonical(dir, ec);
  if (ec || !seen.insert(real).second) return;
  const auto fields = read_java_release_file(home);
  if (!fields) return;
  const auto version = fields->find("JAVA_VERSION");
  if (version == fields->end() || version->second.empty()) return;
  const bool development_kit = fs::is_regular_file(dir / "bin" / "javac", ec);
  registry.add(key_for(*fields, development_kit),
               RegistrySubkey{version->second, {{"JavaHome", home}}});
}

}  // namespace

MemoryRegistry java_installation_registry(const std::vector<std::string>& roots,
                                          const std::vector<std::string>& homes) {
  MemoryRegistry registry;
  std::set<fs::path> seen;
  for (const std::string& root : roots)
    for (const std::string& home : installation_candidates(root))
      add_installation(registry, home, seen);
  for (const std::string& home : homes) add_installation(registry, home, seen);
  return registry;
}

const Registry& system_registry() {
  static const MemoryRegistry registry = [] {
    const char* root = std::getenv("VEXAL_JVM_ROOT");
    const char* home = std::getenv("JAVA_HOME");
    std::vector<std::string> homes;
    if (home && *home) homes.push_back(home);
    return java_installation_registry({root && *root ? root : "/usr/lib/jvm"}, homes);
  }();
  return registry;
}

}  // namespace Quorvale
