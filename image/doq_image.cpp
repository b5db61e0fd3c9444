#include "image/doq_image.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "image/doq_projection.h"
#include "image/mosaic_compatibility.h"
#include "image/raster_placement.h"
#include "platform/error.h"

using Quorvale::FileSpecification;

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Corner positions further than this from the raster are corrupt; the bound also keeps every
// pixel computation inside int.
constexpr double kMaxPosition = 1.0e9;

int round_position(double value, const FileSpecification& file) {
  const double r = std::trunc(value + 0.5);
  if (!(r > -kMaxPosition && r < kMaxPosition))
    throw Error(format_message("Error: DOQQ image %s is corrupt.", file.path()));
  return static_cast<int>(r);
}

bool between(double y, double a, double b) { return y >= std::min(a, b) && y <= std::max(a, b); }

// Column where the edge from corner a to corner b crosses height y, rounded the system's way.
int edge_column(const double* c, const double* q, int a, int b, double y) {
  double v = c[a] + (y - q[a]) * (c[b] - c[a]) / (q[b] - q[a]) + 0.5;
  v = std::clamp(v, -kMaxPosition, kMaxPosition);
  return static_cast<int>(std::trunc(v));
}

const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};

const char* datum_name(int datum) {
  switch (datum) {
    case 6267: return "NAD27";
    case 6269: return "NAD83";
    case 6322: return "WGS72";
    case 6326: return "WGS84";
    default: return "unknown";
  }
}

const char* coordinate_system_name(int code) {
  switch (code) {
    case 0: return "Geographic";
    case 1: return "UTM";
    case 2: return "State Plane";
    default: return "unknown";
  }
}

}  // namespace

DOQImage::DOQImage(const FileSpecification& file, const uint8_t* no_data,
                   const uint8_t* transparent)
    : ImageFile(file, 0, 0, no_data, transparent), header_(read_doq_header(file)) {
  projected_cs_ = doq_projected_cs(header_.coordinate_system, header_.zone, header_.datum);
  locate_corners();
  check_corners();
  crop();
  image_width = header_.samples;
  image_height = header_.lines;
  nband = header_.bands;
  data_type = kImage8Bit;
  support[0][0] = 0;
  support[0][1] = quad_width_ - 1;
  support[1][0] = 0;
  support[1][1] = quad_height_ - 1;
  add_reader_metadata();
  color_scheme = nband == 1 ? kSchemeGray : kSchemeRGB;
  add_metadata(&metadata);
  add_image_metadata();
}

void DOQImage::locate_corners() {
  const DOQHeader& h = header_;
  if (!(h.x_resolution > 0 && h.y_resolution > 0 && std::isfinite(h.x_resolution) &&
        std::isfinite(h.y_resolution)))
    throw Error(format_message("Error: DOQQ image %s is corrupt.", file_.path()));
  for (int k = 0; k < 4; ++k) {
    corner_c_[k] = (h.corners[k][0] - h.origin_x) / h.x_resolution;
    corner_q_[k] = (h.origin_y - h.corners[k][1]) / h.y_resolution;
    corner_column_[k] = round_position(corner_c_[k], file_);
    corner_row_[k] = round_position(corner_q_[k], file_);
  }
}

void DOQImage::check_corners() {
  const int* col = corner_column_;
  const int* row = corner_row_;
  const char* name = file_.path();
  if (!(row[kCornerNE] < row[kCornerSE]))
    throw Error(format_message(
        "Internal DOQ Error in %s: SE DOQQ corner is further north than NE corner.", name));
  if (!(row[kCornerNW] < row[kCornerSW]))
    throw Error(format_message(
        "Internal DOQ Error in %s: SW DOQQ corner is further north than NW corner.", name));
  if (!(col[kCornerNW] < col[kCornerNE]))
    throw Error(format_message(
        "Internal DOQ Error in %s: NW DOQQ corner is further east than NE corner.", name));
  if (!(col[kCornerSW] < col[kCornerSE]))
    throw Error(format_message(
        "Internal DOQ Error in %s: SW DOQQ corner is further east than SE corner.", name));
}

// Crops to the corners' bounding box and makes every corner position relative to it. A box
// reaching more than a pixel beyond the raster would make extract read other rows' pixels.
void DOQImage::crop() {
  int* col = corner_column_;
  int* row = corner_row_;
  crop_x_ = std::min(col[kCornerNW], col[kCornerSW]);
  crop_y_ = std::min(row[kCornerNW], row[kCornerNE]);
  quad_width_ = std::max(col[kCornerSE], col[kCornerNE]) - crop_x_ + 1;
  quad_height_ = std::max(row[kCornerSE], row[kCornerSW]) - crop_y_ + 1;
  if (crop_x_ < -1 || crop_y_ < -1 || int64_t{crop_x_} + quad_width_ > int64_t{header_.samples} + 1 ||
      int64_t{crop_y_} + quad_height_ > int64_t{header_.lines} + 1)
    throw Error(format_message(
        "Internal DOQ Error in %s: the quadrangle corners lie outside the image.", file_.path()));
  for (int k = 0; k < 4; ++k) {
    col[k] -= crop_x_;
    row[k] -= crop_y_;
    corner_c_[k] -= crop_x_;
    corner_q_[k] -= crop_y_;
  }
}

void DOQImage::add_reader_metadata() {
  const double origin[2] = {xcoord(), ycoord()};
  MetadataList* list = &metadata;
  if (metadata_add_short(list, "GEO::ProjectedCSTypeGeoKey", static_cast<uint16_t>(projected_cs_)) < 0 ||
      metadata_add_doubles(list, "IMAGE::XY_ORIGIN", origin, 2) < 0 ||
      metadata_add_short(list, "GEO::HORIZONTAL_DATUM", static_cast<uint16_t>(header_.datum)) < 0 ||
      metadata_add_short(list, "IMAGE::BITS_PER_SAMPLE", 8) < 0 ||
      metadata_add_double(list, "IMAGE::X_RESOLUTION", header_.x_resolution) < 0 ||
      metadata_add_double(list, "IMAGE::Y_RESOLUTION", header_.y_resolution) < 0 ||
      metadata_add_short(list, "IMAGE::HORIZONTAL_UNITS", static_cast<uint16_t>(header_.units)) < 0)
    throw Error("Error initializing metadata.");
}

void DOQImage::add_metadata(MetadataList* list) {
  const DOQHeader& h = header_;
  const std::string rect_key = format_message("%s%s:%s", "USGS::QUADRECT:", h.quad_name.c_str(),
                                              h.quadrant.c_str());
  const std::string comment_key = format_message(
      "%s%s:%s", "USGS::QUADCOMMENT:", h.quad_name.c_str(), h.quadrant.c_str());
  const double rect[8] = {h.corners[kCornerNE][0], h.corners[kCornerNE][1],
                          h.corners[kCornerNW][0], h.corners[kCornerNW][1],
                          h.corners[kCornerSE][0], h.corners[kCornerSE][1],
                          h.corners[kCornerSW][0], h.corners[kCornerSW][1]};
  const std::string comment =
      format_message("Nation:%s, State:%s, Imagery date:%2d/%2d/%4d", h.nations[0].c_str(),
                     h.states[0].c_str(), h.month, h.day, h.year);
  if (metadata_add_doubles(list, rect_key.c_str(), rect, 8) < 0 ||
      metadata_add_ascii(list, comment_key.c_str(), comment.c_str()) < 0)
    throw Error("Error initializing metadata.");
}

double DOQImage::xcoord() {
  return std::min(header_.corners[kCornerNW][0], header_.corners[kCornerSW][0]);
}

double DOQImage::ycoord() {
  return std::max(header_.corners[kCornerNW][1], header_.corners[kCornerNE][1]);
}

void DOQImage::place_by_georeference() {
  place_support(support, xcoord() / header_.x_resolution, ycoord() / header_.y_resolution,
                quad_width_, quad_height_);
}

void DOQImage::row_span(int r, int* left, int* right) const {
  const double* c = corner_c_;
  const double* q = corner_q_;
  const int* col = corner_column_;
  const int* row = corner_row_;
  *left = 0;
  *right = quad_width_ - 1;
  double y = r + 0.5;  // top edge, NW to NE
  if (between(y, q[kCornerNW], q[kCornerNE])) {
    if (row[kCornerNE] < row[kCornerNW])
      *left = edge_column(c, q, kCornerNW, kCornerNE, y);
    else if (row[kCornerNE] > row[kCornerNW])
      *right = edge_column(c, q, kCornerNW, kCornerNE, y);
    else
      *left = col[kCornerNW], *right = col[kCornerNE];
  }
  y = r - 0.5;  // bottom edge, SW to SE
  if (between(y, q[kCornerSW], q[kCornerSE])) {
    if (row[kCornerSE] < row[kCornerSW])
      *right = edge_column(c, q, kCornerSW, kCornerSE, y);
    else if (row[kCornerSE] > row[kCornerSW])
      *left = edge_column(c, q, kCornerSW, kCornerSE, y);
    else
      *left = col[kCornerSW], *right = col[kCornerSE];
  }
  y = c[kCornerNW] > c[kCornerSW] ? r + 0.5 : r - 0.5;  // left edge, NW to SW
  if (q[kCornerSW] != q[kCornerNW] && between(y, q[kCornerNW], q[kCornerSW]))
    *left = edge_column(c, q, kCornerNW, kCornerSW, y);
  y = c[kCornerNE] > c[kCornerSE] ? r - 0.5 : r + 0.5;  // right edge, NE to SE
  if (q[kCornerSE] != q[kCornerNE] && between(y, q[kCornerNE], q[kCornerSE]))
    *right = edge_column(c, q, kCornerNE, kCornerSE, y);
}

void DOQImage::extract(int section_support[2][2], unsigned char* pixels) {
  if (!sections_intersect(support, section_support)) return;
  int (*s)[2] = section_support;
  const int x0 = support[0][0], y0 = support[1][0];
  const int first_col = std::max(support[0][0], s[0][0]) - x0;
  const int last_col = std::min(support[0][1], s[0][1]) - x0;
  const int first_row = std::max(support[1][0], s[1][0]) - y0;
  const int last_row = std::min(support[1][1], s[1][1]) - y0;
  const int64_t out_width = int64_t{s[0][1]} - s[0][0] + 1;
  const int64_t plane = out_width * (int64_t{s[1][1]} - s[1][0] + 1);
  const int bands = header_.bands;
  FilePtr f(file_.open("rb"));
  if (!f) throw OpenError(file_.str(), "read");
  std::vector<uint8_t> run(static_cast<size_t>(last_col - first_col + 1) * bands);
  for (int r = first_row; r <= last_row; ++r) {
    const int64_t raster_row = int64_t{crop_y_} + r;
    if (raster_row < 0 || raster_row >= header_.lines) continue;
    int left, right;
    row_span(r, &left, &right);
    // Within the request and within the raster (the box may touch one pixel beyond it).
    left = std::max({left, first_col, -crop_x_});
    right = std::min({right, last_col, header_.samples - 1 - crop_x_});
    if (left > right) continue;
    const size_t n = static_cast<size_t>(right - left + 1);
    const int64_t offset =
        header_.header_bytes() + bands * (int64_t{header_.samples} * raster_row + crop_x_ + left);
    if (fseeko(f.get(), offset, SEEK_SET) != 0 || std::fread(run.data(), 1, n * bands, f.get()) != n * bands)
      throw ReadError(file_.str());
    const int64_t out = (int64_t{r} + y0 - s[1][0]) * out_width + (int64_t{left} + x0 - s[0][0]);
    for (size_t i = 0; i < n; ++i)
      for (int b = 0; b < bands; ++b) pixels[b * plane + out + static_cast<int64_t>(i)] = run[i * bands + b];
  }
}

void DOQImage::write_header_file(const FileSpecification& target) {
  FilePtr out(target.open("wb"));
  if (!out) throw Error(format_message("Error opening %s for write.", target.path()));
  try {
    std::fprintf(out.get(), "Begin file %s\n\n", file_.path());
    FilePtr in(file_.open("rb"));
    if (!in) throw OpenError(file_.str(), "read");
    std::vector<char> chunk(1 << 16);
    for (int64_t left = header_.header_bytes(); left > 0;) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(chunk.size())));
      if (std::fread(chunk.data(), 1, n, in.get()) != n)
        throw Error(format_message("Error reading %s.", file_.path()));
      if (std::fwrite(chunk.data(), 1, n, out.get()) != n) throw WriteError(target.str());
      left -= static_cast<int64_t>(n);
    }
    std::fprintf(out.get(), "\nEnd file %s\n", file_.path());
    if (std::fclose(out.release()) != 0) throw WriteError(target.str());
  } catch (...) {
    out.reset();
    std::remove(target.path());  // a half-written description is worse than none
    throw;
  }
}

void DOQImage::check_compatible(ImageFile& other) {
  const char* mine = file_.path();
  const char* theirs = other.file().path();
  auto refuse = [&](const char* what) {
    throw Error(format_message("File incompatibility: files %s and %s %s.", mine, theirs, what));
  };
  if (other.nband != nband) refuse("have a different number of spectral bands");
  auto* doq = dynamic_cast<DOQImage*>(&other);
  const DOQHeader* h = doq ? &doq->header_ : nullptr;
  if (h && h->zone != header_.zone) refuse("have different coordinate system zones");
  if (h && h->datum != header_.datum) refuse("have different datums");
  if (h && h->coordinate_system != header_.coordinate_system)
    refuse("have different horizontal coordinate systems");
  if (!same_pixel_size(other.xscale(), xscale())) refuse("have different x-resolutions");
  if (!same_pixel_size(other.yscale(), yscale())) refuse("have different y-resolutions");
  if (h && h->units != header_.units) refuse("have different x-units");
  if (doq && doq->projected_cs_ != projected_cs_) refuse("have different PCS data members");
}

void DOQImage::print_parameters() {
  const DOQHeader& h = header_;
  std::printf("Filename: %s\n\n", file_.path());
  std::printf("  Quad name: %s\n", h.quad_name.c_str());
  std::printf("  Quad section: %s\n", h.quadrant.c_str());
  std::printf("  Image width: %d\n", h.samples);
  std::printf("  Image height: %d\n", h.lines);
  std::printf("  State:");
  for (const std::string& code : h.states)
    if (!code.empty()) std::printf(" %s", code.c_str());
  std::printf("\n  Nation:");
  for (const std::string& code : h.nations)
    if (!code.empty()) std::printf(" %s", code.c_str());
  std::printf("\n");
  if (h.image_code != -1) std::printf("  Image code: %d\n", h.image_code);
  std::printf("  Datum: %s\n", datum_name(h.datum));
  std::printf("  Horizontal coordinate system: %s\n", coordinate_system_name(h.coordinate_system));
  std::printf("  Coordinate system zone: %d\n", h.zone);
  std::printf("  x: %f\n", h.origin_x);
  std::printf("  y: %f\n", h.origin_y);
  std::printf("  x resolution: %f\n", h.x_resolution);
  std::printf("  y resolution: %f\n\n", h.y_resolution);
  static const struct { const char* name; DOQCorner corner; } kCorners[] = {
      {"NE", kCornerNE}, {"NW", kCornerNW}, {"SE", kCornerSE}, {"SW", kCornerSW}};
  for (const auto& k : kCorners)
    std::printf("  %s quadrangle UTM coordinates (x,y): (%f,%f)\n", k.name, h.corners[k.corner][0],
                h.corners[k.corner][1]);
  std::printf("\n");
  if (h.month >= 1 && h.month <= 12)
    std::printf("  Image acquisition date: %s %d, %d\n", kMonths[h.month - 1], h.day, h.year);
  else
    std::printf("  date: acquisition invalid\n");
  if (metadata_status(&metadata) == 0) {
    std::printf("\n");
    metadata_dump(&metadata);
  }
  std::fflush(stdout);
}
