// An open libtiff handle whose errors and warnings are captured instead of printed, so that a
// damaged file never writes libtiff's own text to the console and every failure can be turned
// into one of our messages naming the file.
#pragma once

#include <string>

#include <tiffio.h>

class TiffHandle {
 public:
  // Opens `path` for reading. Check `get()`: null when libtiff refused the file.
  explicit TiffHandle(const std::string& path);
  ~TiffHandle();
  TiffHandle(const TiffHandle&) = delete;
  TiffHandle& operator=(const TiffHandle&) = delete;

  TIFF* get() const { return tif_; }
  // The first error libtiff reported on this handle, empty when none.
  const std::string& error() const { return error_; }

 private:
  static int on_error(TIFF*, void* self, const char* module, const char* format, va_list args);
  static int on_warning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

  TIFF* tif_ = nullptr;
  std::string error_;
};
