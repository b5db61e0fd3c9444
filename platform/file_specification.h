// A file or directory name as a value. It splits the name into directory part, file name and
// extension, and offers a few thin file operations that report failure through their results.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace Quorvale {

class FileSpecification {
 public:
  // Held by an object that has not been given a name yet.
  static constexpr const char* kUninitialized = "///:::\\\\\\UNITIALIZED_FILESPEC";

  FileSpecification() : path_(kUninitialized) {}
  FileSpecification(const char* text) : path_(text ? text : "") {}  // NOLINT: implicit by design
  FileSpecification(std::string text) : path_(std::move(text)) {}   // NOLINT
  FileSpecification(const FileSpecification&) = default;
  FileSpecification& operator=(const FileSpecification&) = default;
  FileSpecification& operator=(const char* text) {
    path_ = text ? text : "";
    return *this;
  }
  virtual ~FileSpecification() = default;

  const char* path() const { return path_.c_str(); }
  const std::string& str() const { return path_; }
  std::string file_name() const;
  std::string extension() const;
  FileSpecification without_extension() const;
  bool is_uninitialized() const { return path_ == kUninitialized; }

  void set_file_name(const std::string& name);
  // With a text: replace (or add) the extension; with null: remove the extension and its dot.
  void set_extension(const char* extension);

  FILE* open(const char* mode) const;
  int rename_to(const FileSpecification& other) const;
  // Prints "Error deleting file %s." on standard error when the file cannot be removed.
  int remove_file() const;

 private:
  // Index just past the last directory separator (0 when there is none).
  size_t file_name_start() const;

  std::string path_;
};

// True when a directory entry of that name exists (files, directories, links alike).
bool exists(const FileSpecification& file);
// True when stat() succeeds on the path.
bool accessible(const FileSpecification& file);
// Size of the named file in bytes; OpenError when it cannot be opened.
uint64_t file_size_of(const FileSpecification& file);
// True when the name leads to a directory (links followed).
bool is_directory(const FileSpecification& file);
// True when the name leads to a regular file (links followed).
bool is_regular_file(const FileSpecification& file);
// True when `folder` is a directory in which this process may create files.
bool writable_directory(const FileSpecification& folder);
// True when both names lead to one existing file (same device and inode), however spelled.
bool same_file(const FileSpecification& a, const FileSpecification& b);

}  // namespace Quorvale
