// Helpers for the entropy-coding tests: a temporary FILE* holding given bytes, and the bytes a
// writer put into one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <vector>

namespace vexal_test {

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// A read/write temporary file holding `bytes`, positioned at its start.
inline FilePtr file_with(std::span<const uint8_t> bytes) {
  FilePtr file(tmpfile());
  if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), file.get());
  rewind(file.get());
  return file;
}

// Everything written to `file` so far; leaves the position at the end.
inline std::vector<uint8_t> contents(FILE* file) {
  fflush(file);
  const long size = ftell(file);
  std::vector<uint8_t> bytes(size_t(size > 0 ? size : 0));
  rewind(file);
  if (!bytes.empty()) (void)!fread(bytes.data(), 1, bytes.size(), file);
  fseek(file, 0, SEEK_END);
  return bytes;
}

}  // namespace vexal_test
