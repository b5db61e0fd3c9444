// The launcher's failures. A terminal error ends the launch with one text from the launcher's
// string table (or a fixed text); main prints it after the string "Kestrun Error".
#pragma once

#include <exception>
#include <string>

namespace kst {

enum LauncherString {
  kNoValidVm = 101,
  kPropertiesMissing = 102,
  kVmStartFailed = 103,  // takes the system's error number
  kInvalidProperties = 104,
  kErrorTitle = 110,
};

// The English text of a string-table entry; empty for an unknown identifier.
std::string launcher_string(int id);

class TerminalError : public std::exception {
 public:
  explicit TerminalError(std::string text) : text_(std::move(text)) {}
  // The error of a string-table entry.
  static TerminalError of(LauncherString id) { return TerminalError(launcher_string(id)); }
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::string text_;
};

}  // namespace kst
