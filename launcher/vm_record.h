// One Java VM candidate and the command-line dialect of its family: Java 2 and later, Java 1,
// or the Microsoft VM.
#pragma once

#include <memory>
#include <string>

#include "launcher/java_version.h"
#include "launcher/launch_settings.h"

namespace kst {

enum VmKind { kJdk = 0, kJre = 1, kMicrosoftVm = 2 };

class VmRecord {
 public:
  VmRecord(std::string path, JavaVersion version, std::string vendor, VmKind kind);
  virtual ~VmRecord() = default;

  const std::string& path() const { return path_; }
  // The installation folder: the parent of the executable's folder.
  const std::string& home() const { return home_; }
  const JavaVersion& version() const { return version_; }
  const std::string& vendor() const { return vendor_; }
  VmKind kind() const { return kind_; }

  // The VM command line in this family's dialect.
  virtual std::string command_line(const LaunchSettings& settings) const = 0;
  // Work that must precede the start (checks, environment); raises TerminalError.
  virtual void prepare(const LaunchSettings&) const {}

 private:
  std::string path_;
  std::string home_;
  JavaVersion version_;
  std::string vendor_;
  VmKind kind_;
};

class Java2Vm : public VmRecord {
 public:
  using VmRecord::VmRecord;
  std::string command_line(const LaunchSettings& settings) const override;
};

class Java1Vm : public VmRecord {
 public:
  using VmRecord::VmRecord;
  std::string command_line(const LaunchSettings& settings) const override;
};

class MicrosoftVm : public VmRecord {
 public:
  using VmRecord::VmRecord;
  std::string command_line(const LaunchSettings& settings) const override;
  // Raises error 101 below the minimum version and sets CLASSPATH to the class path.
  void prepare(const LaunchSettings& settings) const override;
};

// The record of a VM: Java 2 when `java2`, else the Microsoft VM for its kind, else Java 1.
// (Found VMs are Java 2 by JavaVersion::java2(); a VM named in the properties or on the
// command line is Java 2 from version 0x200 up, see is_java2_by_value.)
std::unique_ptr<VmRecord> make_vm_record(std::string path, JavaVersion version,
                                         std::string vendor, VmKind kind, bool java2);

// Version 0x200 or more (a modern version always is).
inline bool is_java2_by_value(const JavaVersion& version) {
  return compare(version, JavaVersion::packed(0x200)) >= 0;
}

}  // namespace kst
