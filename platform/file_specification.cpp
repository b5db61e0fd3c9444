#include "platform/file_specification.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"

namespace Quorvale {
namespace {

bool is_separator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

}  // namespace

size_t FileSpecification::file_name_start() const {
  for (size_t i = path_.size(); i > 0; --i)
    if (is_separator(path_[i - 1])) return i;
  return 0;
}

std::string FileSpecification::file_name() const { return path_.substr(file_name_start()); }

std::string FileSpecification::extension() const {
  const std::string name = file_name();
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

FileSpecification FileSpecification::without_extension() const {
  FileSpecification copy(*this);
  copy.set_extension(nullptr);
  return copy;
}

void FileSpecification::set_file_name(const std::string& name) {
  path_ = path_.substr(0, file_name_start()) + name;
}

void FileSpecification::set_extension(const char* extension) {
  const size_t start = file_name_start();
  const size_t dot = path_.rfind('.');
  if (dot != std::string::npos && dot >= start) path_.erase(dot);
  if (extension) {
    path_ += '.';
    path_ += extension;
  }
}

FILE* FileSpecification::open(const char* mode) const { return std::fopen(path_.c_str(), mode); }

int FileSpecification::rename_to(const FileSpecification& other) const {
  return std::rename(path_.c_str(), other.path_.c_str());
}

int FileSpecification::remove_file() const {
  const int result = std::remove(path_.c_str());
  if (result != 0) std::fprintf(stderr, "Error deleting file %s.", path_.c_str());
  return result;
}

bool exists(const FileSpecification& file) {
  struct stat st;
  return lstat(file.path(), &st) == 0;
}

bool accessible(const FileSpecification& file) {
  struct stat st;
  return stat(file.path(), &st) == 0;
}

bool is_directory(const FileSpecification& file) {
  struct stat st;
  return stat(file.path(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_regular_file(const FileSpecification& file) {
  struct stat st;
  return stat(file.path(), &st) == 0 && S_ISREG(st.st_mode);
}

bool writable_directory(const FileSpecification& folder) {
  return is_directory(folder) && access(folder.path(), W_OK | X_OK) == 0;
}

bool same_file(const FileSpecification& a, const FileSpecification& b) {
  struct stat sa, sb;
  return stat(a.path(), &sa) == 0 && stat(b.path(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

uint64_t file_size_of(const FileSpecification& file) {
  FILE* f = file.open("rb");
  if (!f) throw OpenError(file.str(), "read");
  int rc = fseeko(f, 0, SEEK_END);
  const off_t size = rc == 0 ? ftello(f) : -1;
  std::fclose(f);
  if (size < 0) throw ReadError(file.str());
  return static_cast<uint64_t>(size);
}

}  // namespace Quorvale
