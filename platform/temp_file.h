// Temporary files. Every temporary file is created exclusively (O_CREAT|O_EXCL, mode 0600), so an
// existing file or link is never opened or followed. In a given directory the names are tmp0,
// tmp1, ... from one process-wide counter; without a directory, a fresh tmp... name in $TMPDIR
// (else the current directory).
#pragma once

#include <cstdio>

#include "platform/file_specification.h"

namespace Quorvale {

// Creates a new empty temporary file and returns its name; the caller owns (and removes) it.
// Raises Error when the directory is not accessible or no name can be had.
FileSpecification make_temp_name(const FileSpecification* temp_dir);

// The directory part of `file` ("." when it names none): a temporary stand-in for `file` is made
// there, so that renaming it into place stays on one file system.
FileSpecification directory_of(const FileSpecification& file);

// A temporary file open for update ("w+b"), closed and removed when the object goes away unless
// `release` was called.
class ScopedTempFile {
 public:
  explicit ScopedTempFile(const FileSpecification* temp_dir);
  ~ScopedTempFile();
  ScopedTempFile(const ScopedTempFile&) = delete;
  ScopedTempFile& operator=(const ScopedTempFile&) = delete;
  ScopedTempFile(ScopedTempFile&& other) noexcept;
  ScopedTempFile& operator=(ScopedTempFile&& other) noexcept;

  FILE* stream() const { return stream_; }
  const FileSpecification& name() const { return name_; }
  // Closes the stream; the file stays until destruction. Returns false when the close failed.
  bool close();
  // Gives the finished file the permissions a newly created file would get, closes it and
  // renames it to `target`; WriteError naming `target` on failure (the file is then removed on
  // destruction as usual).
  void commit_to(const FileSpecification& target);
  // Gives up ownership: the file is neither closed nor removed by this object.
  void release();

 private:
  void discard() noexcept;

  FileSpecification name_;
  FILE* stream_ = nullptr;
  bool owned_ = false;
};

// Resets the process-wide counter (tests only).
void reset_temp_counter_for_tests();

}  // namespace Quorvale
