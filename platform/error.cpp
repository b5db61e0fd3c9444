#include "platform/error.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <vector>

std::string format_message(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (n > 0) {
    std::vector<char> buffer(static_cast<size_t>(n) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, again);
    text.assign(buffer.data(), static_cast<size_t>(n));
  }
  va_end(again);
  return text;
}

OpenError::OpenError(const std::string& file, const std::string& purpose)
    : Error(format_message("Error opening file %s for %s.", file.c_str(), purpose.c_str())) {}

ReadError::ReadError(const std::string& file)
    : Error(format_message("Error reading file %s.", file.c_str())) {}

const char* full_disk_reason(int error_number) {
  if (error_number == ENOSPC) return "disk full";
  if (error_number == EFBIG) return "file too large";
  return nullptr;
}

namespace {

std::string write_failure(const char* what, const std::string& file, int error_number,
                          const char* otherwise) {
  if (const char* reason = full_disk_reason(error_number))
    return format_message("Error writing %s%s: %s.", what, file.c_str(), reason);
  return format_message("Error writing %s%s. %s", what, file.c_str(), otherwise);
}

}  // namespace

WriteError::WriteError(const std::string& file, int error_number)
    : WriteError(write_failure("file ", file, error_number, "Perhaps you are out of disk space."),
                 error_number, true) {}

TempWriteError::TempWriteError(const std::string& file, int error_number)
    : WriteError(write_failure("temporary file ", file, error_number,
                               "Check that temporary directory is not full."),
                 error_number, true) {}

namespace Quorvale {

std::string status_text(int code) {
  static const char* const kGeneral[] = {
      "Success",
      "Failure",
      "Out of memory",
      "Null pointer exception",
      "Invalid argument passed to function",
      "Program interrupt encountered",
      "Invalid protocol",
      "Unknown colorspace",
  };
  const int group = (code >> 24) & 0xF;
  const int index = code & 0xFFFF;
  if (group == kStatusGroupGeneral && index < static_cast<int>(std::size(kGeneral)))
    return kGeneral[index];
  return format_message("Unknown status code 0x%08x", static_cast<unsigned>(code));
}

}  // namespace Quorvale
