// The system's two exception families. Both carry a finished message; the driver's single
// catch point prints it. `Error` and its file variants report failures of the run and of files;
// `Quorvale::Exception` can also be built from a packed status code.
#pragma once

#include <cerrno>
#include <exception>
#include <string>

class Error : public std::exception {
 public:
  explicit Error(std::string message) : message_(std::move(message)) {}
  const char* message() const noexcept { return message_.c_str(); }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// printf-style construction of a message, for the many "%s"-filled texts of the system.
std::string format_message(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "Error opening file %s for %s." with the file name and what it was opened for.
class OpenError : public Error {
 public:
  OpenError(const std::string& file, const std::string& purpose);
};

// "Error reading file %s."
class ReadError : public Error {
 public:
  explicit ReadError(const std::string& file);
};

// What a failed write's errno says in a user's words: "disk full" (ENOSPC) or "file too large"
// (EFBIG: a file-size limit such as ulimit -f was reached); null for any other cause.
const char* full_disk_reason(int error_number);

// "Error writing file %s: disk full." (or "file too large") when the failed write's errno says
// so; "Error writing file %s. Perhaps you are out of disk space." for any other cause. The errno
// is kept, so that a caller that renames the file can name it again with the same cause.
class WriteError : public Error {
 public:
  explicit WriteError(const std::string& file, int error_number = errno);
  int error_number() const noexcept { return error_number_; }

 protected:
  WriteError(std::string message, int error_number, bool)
      : Error(std::move(message)), error_number_(error_number) {}

 private:
  int error_number_;
};

// A temporary file of the run: "Error writing temporary file %s: disk full." (or "file too
// large"), else "Error writing temporary file %s. Check that temporary directory is not full."
class TempWriteError : public WriteError {
 public:
  explicit TempWriteError(const std::string& file, int error_number = errno);
};

namespace Quorvale {

// Status codes pack a group in bits 24-27 and an index in bits 0-15.
constexpr int status_code(int group, int index) { return (group << 24) | index; }
constexpr int kStatusGroupGeneral = 2;
enum GeneralStatus {
  kSuccess = 0,
  kFailure,
  kOutOfMemory,
  kNullPointer,
  kInvalidArgument,
  kProgramInterrupt,
  kInvalidProtocol,
  kUnknownColorspace,
};

// The text of a status code ("Program interrupt encountered" for the interrupt code).
std::string status_text(int code);

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  explicit Exception(int code) : message_(status_text(code)), code_(code) {}
  const char* message() const noexcept { return message_.c_str(); }
  const char* what() const noexcept override { return message_.c_str(); }
  int code() const noexcept { return code_; }

 private:
  std::string message_;
  int code_ = status_code(kStatusGroupGeneral, kFailure);
};

class NullPointerException : public Exception {
 public:
  NullPointerException() : Exception(status_code(kStatusGroupGeneral, kNullPointer)) {}
};

class OutOfMemoryException : public Exception {
 public:
  OutOfMemoryException() : Exception(status_code(kStatusGroupGeneral, kOutOfMemory)) {}
};

}  // namespace Quorvale
