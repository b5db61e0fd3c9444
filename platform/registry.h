// Read access to the machine's registry (HKEY_LOCAL_MACHINE) for the keys the launcher uses to
// find Java installations. Key names keep their Windows form with backslashes.
//
// The POSIX stand-in lists the Java installations of the system: every folder directly under
// the search root (/usr/lib/jvm, or $VEXAL_JVM_ROOT when set) and $JAVA_HOME, when it holds
// bin/java and a `release` file naming its JAVA_VERSION, becomes one subkey named by that
// version, with the value "JavaHome" its folder. It sits under the development-kit key of its
// maker when bin/javac exists and under the runtime key otherwise; the maker is IBM when the
// IMPLEMENTOR field starts with "IBM" and JavaSoft for everyone else.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Quorvale {

inline constexpr const char* kJavaSoftDevelopmentKitKey = "SOFTWARE\\JavaSoft\\Java Development Kit";
inline constexpr const char* kJavaSoftRuntimeKey = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
inline constexpr const char* kIbmRuntimeKey = "SOFTWARE\\IBM\\Java2 Runtime Environment";
inline constexpr const char* kIbmDevelopmentKitKey = "SOFTWARE\\IBM\\Java Development Kit";

struct RegistrySubkey {
  std::string name;
  std::map<std::string, std::string> values;  // string values only
};

class Registry {
 public:
  virtual ~Registry() = default;
  // The subkeys of `key` in enumeration order; none when the key cannot be opened.
  virtual std::vector<RegistrySubkey> subkeys(const std::string& key) const = 0;
  // A string value of `key` (its last backslash part may name a subkey); nothing when the key
  // or the value is absent.
  virtual std::optional<std::string> value(const std::string& key, const std::string& name) const;
};

// A registry held in memory: keys with their subkeys, filled by the owner.
class MemoryRegistry : public Registry {
 public:
  void add(const std::string& key, RegistrySubkey subkey);
  std::vector<RegistrySubkey> subkeys(const std::string& key) const override;

 private:
  std::map<std::string, std::vector<RegistrySubkey>> keys_;
};

// The installations under `roots` (each subfolder is a candidate; real folders before links,
// each in name order) and the folders `homes`, one subkey per distinct installation.
MemoryRegistry java_installation_registry(const std::vector<std::string>& roots,
                                          const std::vector<std::string>& homes);

// The registry of this system, as described above; read once, on first use.
const Registry& system_registry();

}  // namespace Quorvale
