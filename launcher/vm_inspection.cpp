#include "launcher/vm_inspection.h"

#include <filesystem>

#include "platform/file_specification.h"

namespace kst {
namespace fs = std::filesystem;
namespace {

bool present(const fs::path& path) {
  return Quorvale::accessible(Quorvale::FileSpecification(path.string()));
}

std::string file_name(const std::string& path) { return fs::path(path).filename().string(); }

}  // namespace

VmKind kind_of_executable(const std::string& path) {
  const std::string name = file_name(path);
  if (name == "jview" || name == "wjview") return kMicrosoftVm;
  if (name == "jre" || name == "jrew") return kJre;
  return present(fs::path(path).parent_path() / "javac") ? kJdk : kJre;
}

JavaVersion version_of_product(const Quorvale::VersionResource& resource) {
  const auto [a, b, c, d] = resource.product;
  const bool sun = resource.company == "Sun";
  if (a > 1 && !(sun && a <= 8)) return JavaVersion::modern(a, b, c, d);
  if (sun && a == 1) return JavaVersion::packed(pack_version(b, c / 10, d));
  if (sun) return JavaVersion::packed(pack_version(a, b, c / 10));
  return JavaVersion::packed(pack_version(b, c, d));
}

const std::optional<Quorvale::VersionResource>& VmInspector::resource(const std::string& file) {
  auto found = resources_.find(file);
  if (found == resources_.end())
    found = resources_.emplace(file, Quorvale::read_version_resource(file)).first;
  return found->second;
}

JavaVersion VmInspector::from_registry_default() {
  const std::string key = Quorvale::kJavaSoftRuntimeKey;
  const auto current = registry_.value(key, "CurrentVersion");
  if (!current) return parse_version_string("0.0.0.0");
  const auto micro = registry_.value(key + "\\" + *current, "MicroVersion");
  if (!micro) return parse_version_string("0.0.0.0");
  return parse_version_string(*current + "." + *micro + "_0");
}

JavaVersion VmInspector::from_neighbours(const std::string& path, VmKind kind) {
  const fs::path dir = fs::path(path).parent_path();
  const fs::path jre_bin = dir / ".." / "jre" / "bin";
  uint16_t word = 0;
  if (present(dir / "pack200"))
    word = 0x500;
  else if (present(dir / "client") || present(jre_bin / "client") || present(dir / "server") ||
           present(jre_bin / "server"))
    word = 0x400;
  else if (present(dir / "hotspot") || present(jre_bin / "hotspot"))
    word = 0x300;
  else if (present(dir / "classic"))
    word = 0x200;
  if (word != 0) {
    const fs::path plugin = (kind == kJre ? dir : jre_bin) / "NPJava32.dll";
    if (present(plugin)) {
      if (const auto& res = resource(plugin.string())) {
        const auto [a, b, c, d] = res->product;
        const unsigned e = b > 3 ? d / 10u : d;
        word = static_cast<uint16_t>(((((b & 0xFu) << 8) | (unsigned{c} << 4)) & 0xFF0u) | (e & 0xFu));
      }
    }
    return JavaVersion::packed(word);
  }
  const std::string name = file_name(path);
  if (name == "jre" || name == "jrew" || present(dir / "jre") || present(dir / "jrew"))
    return JavaVersion::packed(0x100);
  return JavaVersion::packed(0);
}

JavaVersion VmInspector::version_of(const std::string& path, VmKind kind, std::string& vendor) {
  if (kind != kMicrosoftVm) {
    if (const auto& res = resource(path)) {
      vendor = res->company;
      return version_of_product(*res);
    }
  }
  if (kind == kMicrosoftVm) return JavaVersion::packed(0x140);
  if (fs::path(path).parent_path().filename() == "system32") return from_registry_default();
  return from_neighbours(path, kind);
}

std::unique_ptr<VmRecord> VmInspector::inspect(const std::string& path, bool named_explicitly) {
  const VmKind kind = kind_of_executable(path);
  std::string vendor;
  const JavaVersion version = version_of(path, kind, vendor);
  const bool java2 = named_explicitly ? is_java2_by_value(version) : version.java2();
  return make_vm_record(path, version, vendor, kind, java2);
}

}  // namespace kst
