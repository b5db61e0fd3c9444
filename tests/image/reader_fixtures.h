// Helpers for the raw-reader tests: gdal as the reference reader and writer of real files,
// sections cut through Image::extract, and small files written by hand from their layouts.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "image/image.h"
#include "platform/error.h"
#include "support/run_program.h"

namespace vexal_test {

// The message of the Error that f throws, or "(no error)".
inline std::string message_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.message();
  }
  return "(no error)";
}

// Full path of a program on PATH, or empty.
inline std::string find_on_path(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::string();
}

#define VEXAL_REQUIRE_GDAL()                                                      \
  if (vexal_test::find_on_path("gdal_translate").empty()) GTEST_SKIP() << "gdal_translate not found"

inline std::vector<uint8_t> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline void write_text(const std::string& path, const std::string& text) {
  write_bytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// Runs gdal_translate -q with the arguments; throws with gdal's message when it fails.
inline void gdal_translate(const std::vector<std::string>& args) {
  std::vector<std::string> all = {"-q"};
  all.insert(all.end(), args.begin(), args.end());
  ProgramResult r = run_program(find_on_path("gdal_translate"), all);
  if (r.status != 0) throw std::runtime_error("gdal_translate failed: " + r.err);
}

// The pixels of `source` as gdal reads them, band after band (the planar order of PixelData).
inline std::vector<uint8_t> gdal_planes(const std::string& source, const std::string& scratch_raw,
                                        const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args = {"-of", "ENVI", "-ot", "Byte", "-co", "INTERLEAVE=BSQ"};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back(source);
  args.push_back(scratch_raw);
  gdal_translate(args);
  return read_bytes(scratch_raw);
}

// Section columns x0..x1, rows y0..y1 of `image` through the encoder's entry point.
inline std::vector<uint8_t> section(Image& image, int x0, int x1, int y0, int y1) {
  int s[2][2] = {{x0, x1}, {y0, y1}};
  std::unique_ptr<PixelData> block = image.extract(s);
  const size_t n = static_cast<size_t>(block->width()) * block->height() * image.nband;
  const uint8_t* p = static_cast<const uint8_t*>(block->data());
  return std::vector<uint8_t>(p, p + n);
}

inline std::vector<uint8_t> whole(Image& image) {
  return section(image, 0, image.image_width - 1, 0, image.image_height - 1);
}

// Planes of a band-sequential buffer restricted to a window (for comparing sub-sections).
inline std::vector<uint8_t> window(const std::vector<uint8_t>& planes, int width, int height,
                                   int bands, int x0, int x1, int y0, int y1) {
  std::vector<uint8_t> out;
  for (int b = 0; b < bands; ++b)
    for (int r = y0; r <= y1; ++r)
      for (int c = x0; c <= x1; ++c)
        out.push_back(planes[(static_cast<size_t>(b) * height + r) * width + c]);
  return out;
}

// An ERDAS LAN file written from the layout: 128-byte header, then each row's band lines.
struct LanSpec {
  const char* magic = "HEAD74";
  int16_t pack_type = 0;
  int16_t bands = 1;
  int32_t width = 0, height = 0;
  bool float_size = false;  // the older release's float width and height
  float xmap = 0, ymap = 0, xcell = 1, ycell = 1;
};

inline std::vector<uint8_t> lan_header(const LanSpec& s) {
  std::vector<uint8_t> h(128, 0);
  std::memcpy(h.data(), s.magic, 6);
  auto put = [&](size_t at, const void* v, size_t n) { std::memcpy(&h[at], v, n); };
  put(6, &s.pack_type, 2);
  put(8, &s.bands, 2);
  if (s.float_size) {
    const float w = static_cast<float>(s.width), ht = static_cast<float>(s.height);
    put(16, &w, 4);
    put(20, &ht, 4);
  } else {
    put(16, &s.width, 4);
    put(20, &s.height, 4);
  }
  put(112, &s.xmap, 4);
  put(116, &s.ymap, 4);
  put(120, &s.xcell, 4);
  put(124, &s.ycell, 4);
  return h;
}

// value(band, row, col) gives each sample.
template <typename F>
void write_lan(const std::string& path, const LanSpec& s, F value) {
  std::vector<uint8_t> bytes = lan_header(s);
  for (int r = 0; r < s.height; ++r)
    for (int b = 0; b < s.bands; ++b)
      for (int c = 0; c < s.width; ++c) bytes.push_back(static_cast<uint8_t>(value(b, r, c)));
  write_bytes(path, bytes);
}

}  // namespace vexal_test
