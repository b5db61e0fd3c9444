// USGS DOQ files written by hand from the layouts of both header kinds, for the DOQ reader
// and mosaic tests.
#pragma once

#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "image/doq_header.h"
#include "platform/error.h"
#include "reader_fixtures.h"

namespace vexal_test {

inline uint8_t raster_value(int band, int row, int col) {
  return static_cast<uint8_t>(row * 3 + col * 5 + band * 70);
}

// A quarter quadrangle as a USGS producer lays it out; gdal's DOQ drivers want 500 x 500 or
// more. Corners are map coordinates in DOQCorner order (NW, NE, SE, SW).
struct Doq {
  int samples = 500, lines = 500, bands = 3;
  double origin_x = 377000.0, origin_y = 4082000.0, resolution = 1.0;
  double corners[4][2] = {{377020.4, 4081980.3},
                          {377470.1, 4081984.7},
                          {377475.6, 4081575.2},
                          {377025.3, 4081571.9}};
  std::string name = "TEST QUAD", quadrant = "NW";
  std::string extra;  // further keyword lines
  std::function<uint8_t(int band, int row, int col)> value = raster_value;
};

inline std::vector<uint8_t> raster(const Doq& d) {
  std::vector<uint8_t> bytes;
  for (int r = 0; r < d.lines; ++r)
    for (int c = 0; c < d.samples; ++c)
      for (int b = 0; b < d.bands; ++b) bytes.push_back(d.value(b, r, c));
  return bytes;
}

inline void write_keyword_doq(const std::string& path, const Doq& d) {
  const int record = d.samples * d.bands;
  std::string text;
  auto line = [&](const std::string& l) { text += l + "\n"; };
  line("BEGIN_USGS_DOQ_HEADER");
  line("QUADRANGLE_NAME \"" + d.name + "\"    3.45 or 7.5-min. name");
  line("QUADRANT " + d.quadrant);
  line("BAND_ORGANIZATION BIP");
  line("BITS_PER_PIXEL 8");
  if (d.bands == 3) {
    line("BAND_CONTENT RED");
    line("BAND_CONTENT GREEN");
    line("BAND_CONTENT BLUE");
  } else {
    line("BAND_CONTENT BLACK&WHITE");
  }
  line(format_message("SAMPLES_AND_LINES %d %d", d.samples, d.lines));
  line("HORIZONTAL_DATUM NAD83");
  line("HORIZONTAL_COORDINATE_SYSTEM UTM");
  line("COORDINATE_ZONE 18");
  line("HORIZONTAL_UNITS METERS");
  line(format_message("HORIZONTAL_RESOLUTION %.2f", d.resolution));
  line(format_message("XY_ORIGIN %.3f %.3f", d.origin_x, d.origin_y));
  static const char* const kKeys[] = {"NW_QUAD_CORNER_XY", "NE_QUAD_CORNER_XY",
                                      "SE_QUAD_CORNER_XY", "SW_QUAD_CORNER_XY"};
  for (int k = 0; k < 4; ++k)
    line(format_message("%s %.3f %.3f", kKeys[k], d.corners[k][0], d.corners[k][1]));
  line("SOURCE_IMAGE_DATE 1994  3 22");
  line(format_message("BYTE_COUNT %d", record));
  text += d.extra;
  line("END_USGS_HEADER");
  if (text.size() > static_cast<size_t>(record)) throw std::runtime_error("DOQ header too long");
  text.resize(record, ' ');
  std::vector<uint8_t> bytes(text.begin(), text.end());
  const std::vector<uint8_t> pixels = raster(d);
  bytes.insert(bytes.end(), pixels.begin(), pixels.end());
  write_bytes(path, bytes);
}

inline std::string fortran(double v) {
  int exponent = v == 0 ? 0 : static_cast<int>(std::floor(std::log10(std::fabs(v)))) + 1;
  return format_message("%24s", format_message("%.15fD%+03d", v / std::pow(10.0, exponent), exponent).c_str());
}

inline void write_fixed_doq(const std::string& path, const Doq& d, int image_code = 1) {
  const int record = d.samples * d.bands;
  std::string h(4 * static_cast<size_t>(record), ' ');
  auto put = [&](size_t at, const std::string& s) { h.replace(at, s.size(), s); };
  put(0, d.name);
  put(38, d.quadrant);
  put(40, "US");
  put(44, "VAMD");
  put(144, format_message("%6d%6d%3d%3d", d.lines, d.samples, image_code, 1));
  put(167, " 4");
  put(195, format_message("%3d%6d%3d", 1, 18, 2));
  const int order[4] = {kCornerSW, kCornerNW, kCornerNE, kCornerSE};
  for (int i = 0; i < 4; ++i)
    put(207 + 48 * i, fortran(d.corners[order[i]][0]) + fortran(d.corners[order[i]][1]));
  put(2 * record + 288, fortran(d.origin_x) + fortran(d.origin_y));
  put(3 * record + 59, format_message("%12.3f%12.3f", d.resolution, d.resolution));
  put(3 * record + 214, "19941322");  // month 13: an invalid date the reader must survive
  std::vector<uint8_t> bytes(h.begin(), h.end());
  const std::vector<uint8_t> pixels = raster(d);
  bytes.insert(bytes.end(), pixels.begin(), pixels.end());
  write_bytes(path, bytes);
}

}  // namespace vexal_test
