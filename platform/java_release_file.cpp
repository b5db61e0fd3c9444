#include "platform/java_release_file.h"

#include <filesystem>
#include <fstream>

namespace Quorvale {
namespace fs = std::filesystem;

namespace {

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string unquoted(std::string value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    return value.substr(1, value.size() - 2);
  return value;
}

}  // namespace

std::optional<ReleaseFields> read_java_release_file(const std::string& installation) {
  const fs::path name = fs::path(installation) / "release";
  std::error_code ec;
  if (!fs::is_regular_file(name, ec)) return std::nullopt;
  std::ifstream in(name);
  if (!in) return std::nullopt;
  ReleaseFields fields;
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    fields[trimmed(line.substr(0, eq))] = unquoted(trimmed(line.substr(eq + 1)));
  }
  return fields;
}

std::string java_installation_of(const std::string& file) {
  std::error_code ec;
  fs::path dir = fs::canonical(file, ec).parent_path();
  if (ec) return "";
  for (int level = 0; level < 3 && !dir.empty(); ++level, dir = dir.parent_path()) {
    if (fs::is_regular_file(dir / "release", ec)) return dir.string();
    if (dir == dir.root_path()) break;
  }
  return "";
}

}  // namespace Quorvale
