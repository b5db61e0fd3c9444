// What an executable found on disk is: its VM kind and its version, from its name, its version
// resource, the registry and the files beside it.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "launcher/java_version.h"
#include "launcher/vm_record.h"
#include "platform/registry.h"
#include "platform/version_resource.h"

namespace kst {

// "jview"/"wjview": Microsoft VM; "jre"/"jrew": JRE; otherwise a JDK when "javac" sits in the
// same folder, else a JRE.
VmKind kind_of_executable(const std::string& path);

class VmInspector {
 public:
  explicit VmInspector(const Quorvale::Registry& registry) : registry_(registry) {}

  // The version of the executable at `path` of kind `kind`; `vendor` receives the company of
  // its version resource when it has one.
  JavaVersion version_of(const std::string& path, VmKind kind, std::string& vendor);

  // A VM record for the executable at `path`. A VM named explicitly (properties or command
  // line) is a Java 2 VM from version 0x200 up; a found one by JavaVersion::java2.
  std::unique_ptr<VmRecord> inspect(const std::string& path, bool named_explicitly = false);

 private:
  // Version resources are read once per file.
  const std::optional<Quorvale::VersionResource>& resource(const std::string& file);
  JavaVersion from_registry_default();
  JavaVersion from_neighbours(const std::string& path, VmKind kind);

  const Quorvale::Registry& registry_;
  std::map<std::string, std::optional<Quorvale::VersionResource>> resources_;
};

// The version a product version a.b.c.d of `company` stands for. Sun numbered Java 5 to 8 as
// 5.0.x to 8.0.x with the micro number times ten in c; a major number above 1 otherwise is a
// modern version.
JavaVersion version_of_product(const Quorvale::VersionResource& resource);

}  // namespace kst
