#include "image/tiff_handle.h"

#include <cstdarg>
#include <cstdio>

TiffHandle::TiffHandle(const std::string& path) {
  // The few libtiff messages that are not tied to a handle would otherwise go to the console.
  static const bool silenced = [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    return true;
  }();
  (void)silenced;
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return;
  TIFFOpenOptionsSetErrorHandlerExtR(options, &TiffHandle::on_error, this);
  TIFFOpenOptionsSetWarningHandlerExtR(options, &TiffHandle::on_warning, this);
  // "c": strips are reported as stored (no virtual chopping); "O": strip and tile offsets are
  // loaded on demand, so that reopening a file with millions of strips stays cheap.
  tif_ = TIFFOpenExt(path.c_str(), "rcO", options);
  TIFFOpenOptionsFree(options);
}

TiffHandle::~TiffHandle() {
  if (tif_) TIFFClose(tif_);
}

int TiffHandle::on_error(TIFF*, void* self, const char* module, const char* format,
                         va_list args) {
  auto* handle = static_cast<TiffHandle*>(self);
  if (!handle->error_.empty()) return 1;
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  handle->error_ = module ? std::string(module) + ": " + text : std::string(text);
  return 1;
}
