// The two header kinds of USGS digital orthophoto quarter-quadrangles: the keyword header that
// starts with "BEGIN_USGS_DOQ_HEADER" (one raster line long) and the older fixed-field header
// (four raster lines long).
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_specification.h"

enum DOQCorner { kCornerNW = 0, kCornerNE = 1, kCornerSE = 2, kCornerSW = 3 };

struct DOQHeader {
  bool keyword_header = true;
  std::string quad_name;  // at most 38 characters
  std::string quadrant;   // 2 characters, e.g. "NW"
  std::string states[4];  // 2 characters each, empty when absent
  std::string nations[2];
  int samples = 100000000;
  int lines = 0;
  int bands = 1;
  int image_code = -1;    // fixed-field headers only
  int coordinate_system = 1;  // 0 geographic, 1 UTM, 2 state plane
  int zone = 0;
  int datum = 6269;       // EPSG datum codes
  int units = 9001;       // EPSG unit codes
  double origin_x = 0.0, origin_y = 0.0;  // map position of the raster's upper-left pixel
  double x_resolution = 1.0, y_resolution = 1.0;
  double corners[4][2] = {};  // map x, y per DOQCorner
  int year = 0, month = 0, day = 0;

  // Bytes before the first raster line.
  int64_t header_bytes() const {
    return int64_t{keyword_header ? 1 : 4} * samples * bands;
  }
};

// Reads either header kind and checks the file's size against it. Throws the reader's
// messages ("Error: DOQQ image %s is corrupt.", unknown datum, unit or coordinate system, ...).
DOQHeader read_doq_header(const Quorvale::FileSpecification& file);
