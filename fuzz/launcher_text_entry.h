// The body of launcher_text_fuzzer, shared with the corpus replay in the test suite: the
// launcher's text parsers (the properties file with its continuation lines and escapes, the
// typed getters, the valid-VM list with its version constraints, and the Windows command-line
// splitting). The first input byte chooses how the rest is cut between them. Returns whether
// the properties part held at least one entry.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>

#include "launcher/java_version.h"
#include "launcher/properties.h"
#include "launcher/valid_vm_list.h"
#include "launcher/vm_record.h"
#include "platform/windows_command_line.h"

namespace fuzz_entries {

inline bool launcher_text_entry(const uint8_t* data, size_t size) {
  if (size == 0) return false;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t cut = text.size() * data[0] / 255;

  std::istringstream in(text.substr(0, cut));
  kst::Properties properties;
  properties.read(in);
  for (const auto& [key, value] : properties.table()) {
    (void)properties.boolean(key);
    (void)properties.size(key);
    (void)properties.integer(key);
  }

  const std::string rest = text.substr(cut);
  const kst::JavaVersion version = kst::parse_version_string(rest);
  const kst::Java2Vm vm("/j/bin/java", version, "", kst::kJdk);
  (void)kst::valid_list_accepts(rest, vm);
  if (Quorvale::split_windows_command_line(rest).empty()) __builtin_trap();  // the program name is always there
  return !properties.table().empty();
}

}  // namespace fuzz_entries
