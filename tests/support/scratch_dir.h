// A fresh private folder per test, removed with everything in it at the end.
#pragma once

#include <filesystem>
#include <set>
#include <string>

namespace vexal_test {

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// The names of the entries of `dir`, to see that a run left nothing behind.
std::set<std::string> names_in(const std::filesystem::path& dir);

}  // namespace vexal_test
