#include "launcher/launcher_files.h"

#include <filesystem>

#include "launcher/launcher_error.h"
#include "platform/file_specification.h"
#include "platform/process_environment.h"

namespace kst {
namespace fs = std::filesystem;
namespace {

std::string search_path(const std::string& name) {
  for (const std::string& folder : Quorvale::search_path_folders()) {
    const std::string candidate = folder + "/" + name;
    if (Quorvale::is_executable_file(candidate)) return Quorvale::full_path_name(candidate);
  }
  return "";
}

// The file name without a trailing ".exe".
std::string stem_of(const std::string& executable) {
  std::string name = fs::path(executable).filename().string();
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0) name.resize(name.size() - 4);
  return name;
}

}  // namespace

std::string locate_executable(const std::string& started_as) {
  if (started_as.find('/') != std::string::npos) {
    if (Quorvale::is_executable_file(started_as)) return Quorvale::full_path_name(started_as);
  } else if (!started_as.empty()) {
    if (std::string found = search_path(started_as); !found.empty()) return found;
  }
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec && Quorvale::is_executable_file(self.string())) return self.string();
  throw TerminalError("unable to locate executable");
}

std::string locate_properties_file(const std::string& executable) {
  const std::string stem = stem_of(executable);
  const std::string here = Quorvale::current_directory();
  const std::string candidates[] = {
      (fs::path(executable).parent_path() / (stem + ".kst")).string(),
      Quorvale::full_path_name(".kst"),
      (fs::path(here) / (stem + ".kst")).string(),
  };
  for (const std::string& candidate : candidates)
    if (Quorvale::accessible(Quorvale::FileSpecification(candidate))) return candidate;
  throw TerminalError::of(kPropertiesMissing);
}

}  // namespace kst
