// Helpers shared by the reader tests: fixtures written byte by byte, reference pixels from
// other tools, and whole-image or section reads through the Image interface.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "image/image.h"
#include "support/run_program.h"

namespace vexal_test {

using Bytes = std::vector<uint8_t>;

inline void write_bytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool have_tool(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

// Standard output of a reference tool as bytes; empty when it failed.
inline Bytes tool_bytes(const std::string& program, const std::vector<std::string>& args) {
  ProgramResult r = run_program(program, args);
  if (r.status != 0) return {};
  return Bytes(r.out.begin(), r.out.end());
}

// Pixels of a binary PNM (P5/P6) without its header.
inline Bytes pnm_pixels(const Bytes& pnm, int* width = nullptr, int* height = nullptr) {
  std::string text(pnm.begin(), pnm.end());
  std::istringstream in(text);
  std::string magic;
  int w = 0, h = 0, maxval = 0;
  in >> magic >> w >> h >> maxval;
  if (!in || (magic != "P5" && magic != "P6")) return {};
  const size_t start = static_cast<size_t>(in.tellg()) + 1;  // one whitespace byte ends the header
  if (width) *width = w;
  if (height) *height = h;
  return Bytes(pnm.begin() + static_cast<std::ptrdiff_t>(start), pnm.end());
}

// Section [x0..x1] x [y0..y1] through Image::extract, as planar samples of every band.
template <class Sample>
std::vector<Sample> section_planes(Image& image, int x0, int x1, int y0, int y1) {
  int section[2][2] = {{x0, x1}, {y0, y1}};
  auto block = image.extract(section);
  const Sample* data = static_cast<const Sample*>(block->data());
  const size_t count = static_cast<size_t>(x1 - x0 + 1) * (y1 - y0 + 1) * image.nband;
  return std::vector<Sample>(data, data + count);
}

// The first `bands` planes of a planar buffer, interleaved pixel by pixel.
template <class Sample>
std::vector<Sample> interleave(const std::vector<Sample>& planes, size_t plane_size, int bands) {
  std::vector<Sample> out(plane_size * bands);
  for (size_t i = 0; i < plane_size; ++i) {
    for (int k = 0; k < bands; ++k) out[i * bands + k] = planes[k * plane_size + i];
  }
  return out;
}

// The whole image interleaved, `bands` bands per pixel.
template <class Sample = uint8_t>
std::vector<Sample> whole_image(Image& image, int bands) {
  auto planes = section_planes<Sample>(image, 0, image.image_width - 1, 0, image.image_height - 1);
  return interleave(planes, static_cast<size_t>(image.image_width) * image.image_height, bands);
}

// The message of the exception that `call` throws; empty when it throws none.
template <class Call>
std::string thrown_message(Call call) {
  try {
    call();
  } catch (const std::exception& e) {
    return e.what();
  }
  return {};
}

}  // namespace vexal_test
