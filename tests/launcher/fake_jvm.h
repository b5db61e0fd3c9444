// Fixtures for the launcher tests: fake Java installations (shell scripts that print their
// arguments), files, and environment variables set for the length of a test.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace launcher_test {
namespace fs = std::filesystem;

inline void write_file(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void make_executable(const fs::path& path, const std::string& text) {
  write_file(path, text);
  ::chmod(path.c_str(), 0755);
}

// A VM stand-in: prints "[arg]" per argument (and "cwd=" its folder), prints the hand-off
// file when it meets an argument naming one, and exits with `exit_code`.
inline std::string fake_java_script(int exit_code) {
  return "#!/bin/sh\n"
         "echo \"cwd=$(pwd)\"\n"
         "for a in \"$@\"; do\n"
         "  printf '[%s]\\n' \"$a\"\n"
         "  case \"$a\" in */kst*) /bin/cat \"$a\";; esac\n"
         "done\n"
         "exit " + std::to_string(exit_code) + "\n";
}

// An installation in `home`: bin/java (the stand-in above), bin/javac when `jdk`, and a
// release file when `version` is not empty.
inline fs::path make_fake_jvm(const fs::path& home, const std::string& version, bool jdk,
                              int exit_code = 0, const std::string& implementor = "Debian") {
  make_executable(home / "bin" / "java", fake_java_script(exit_code));
  if (jdk) make_executable(home / "bin" / "javac", "#!/bin/sh\nexit 0\n");
  if (!version.empty())
    write_file(home / "release",
               "IMPLEMENTOR=\"" + implementor + "\"\nJAVA_VERSION=\"" + version + "\"\n");
  return home / "bin" / "java";
}

// Sets (or with nullopt, removes) an environment variable until the end of the scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_.c_str(), old_->c_str(), 1);
    else
      unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Changes the current folder until the end of the scope.
class ScopedCurrentDir {
 public:
  explicit ScopedCurrentDir(const fs::path& dir) : old_(fs::current_path()) {
    fs::current_path(dir);
  }
  ~ScopedCurrentDir() {
    std::error_code ignored;
    fs::current_path(old_, ignored);
  }
  ScopedCurrentDir(const ScopedCurrentDir&) = delete;
  ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;

 private:
  fs::path old_;
};

}  // namespace launcher_test
