#include "platform/process_environment.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/error.h"

extern char** environ;

namespace Quorvale {
namespace fs = std::filesystem;

std::vector<std::pair<std::string, std::string>> environment_variables() {
  std::vector<std::pair<std::string, std::string>> variables;
  for (char** entry = environ; entry && *entry; ++entry) {
    const std::string text(*entry);
    const size_t eq = text.find('=');
    if (eq == std::string::npos) continue;
    variables.emplace_back(text.substr(0, eq), text.substr(eq + 1));
  }
  return variables;
}

std::optional<std::string> environment_variable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (!value) return std::nullopt;
  return std::string(value);
}

void set_environment_variable(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
}

std::vector<std::string> search_path_folders() {
  const char* env = std::getenv("PATH");
  const std::string list = env ? env : "";
  std::vector<std::string> folders;
  if (list.empty()) return folders;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    folders.push_back(end > start ? list.substr(start, end - start) : ".");
    start = end + 1;
  }
  return folders;
}

bool is_executable_file(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

std::string current_directory() {
  std::error_code ec;
  const fs::path here = fs::current_path(ec);
  return ec ? std::string() : here.string();
}

std::string resolve_against(const std::string& base, const std::string& name) {
  const fs::path path(name);
  if (path.is_absolute()) return path.lexically_normal().string();
  return (fs::path(base) / path).lexically_normal().string();
}

std::string full_path_name(const std::string& name) {
  return resolve_against(current_directory(), name);
}

std::string make_system_temp_file(const std::string& prefix) {
  const char* env = std::getenv("TMPDIR");
  std::string pattern = (fs::path(env && *env ? env : "/tmp") / (prefix + "XXXXXX")).string();
  const int fd = mkstemp(pattern.data());
  if (fd < 0) throw Error(format_message("Error creating temporary file %s.", pattern.c_str()));
  ::close(fd);
  return pattern;
}

}  // namespace Quorvale
