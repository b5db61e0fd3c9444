#include "platform/output_target.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/error.h"

namespace platform {

OutputKind output_kind(const std::string& name) {
  struct stat s;
  if (::stat(name.c_str(), &s) != 0) return OutputKind::kAbsent;
  if (S_ISREG(s.st_mode)) return OutputKind::kRegular;
  if (S_ISDIR(s.st_mode)) return OutputKind::kDirectory;
  if (S_ISCHR(s.st_mode)) return OutputKind::kCharacterDevice;
  if (S_ISFIFO(s.st_mode)) return OutputKind::kFifo;
  return OutputKind::kOther;
}

const char* output_kind_words(OutputKind kind) {
  switch (kind) {
    case OutputKind::kDirectory: return "a folder";
    case OutputKind::kCharacterDevice: return "a device";
    case OutputKind::kFifo: return "a FIFO";
    default: return "not a regular file";
  }
}

std::string link_target(const std::string& name) {
  constexpr int kMaxLinks = 40;  // as the kernel's own limit on a path
  std::string path = name;
  std::vector<char> target(4096);
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    struct stat s;
    if (::lstat(path.c_str(), &s) != 0 || !S_ISLNK(s.st_mode)) return path;
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n <= 0 || size_t(n) >= target.size()) break;
    const std::string next(target.data(), size_t(n));
    const size_t slash = path.rfind('/');
    // A relative target is relative to the link's own folder.
    path = next.front() == '/' || slash == std::string::npos ? next : path.substr(0, slash + 1) + next;
  }
  throw Error(format_message("Error: the output %s is a symbolic link that leads nowhere.",
                             name.c_str()));
}

}  // namespace platform
