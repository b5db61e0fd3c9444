// Shared by the reader fuzzers: the readers open files by name, so each input is written to a
// private file first, and only images small enough to extract quickly are read in full.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

#include "encoder/image/image.h"

inline std::string fuzz_input_file(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/vexal_fuzz_input_" + std::to_string(getpid());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) __builtin_trap();
  if (size && std::fwrite(data, 1, size, f) != size) __builtin_trap();
  std::fclose(f);
  return path;
}

// Construction and a whole-image extract; the readers' exceptions are the expected outcome of
// bad input, anything else (a crash, a sanitizer report) is a finding.
template <class MakeImage>
void fuzz_reader(MakeImage make) {
  try {
    auto image = make();
    if (int64_t(image->image_width) * image->image_height * image->nband > (1 << 22)) return;
    int section[2][2] = {{-1, image->image_width}, {-1, image->image_height}};
    image->extract(section);
  } catch (const std::exception&) {
  }
}
