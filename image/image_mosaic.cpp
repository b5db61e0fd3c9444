#include "image/image_mosaic.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "image/mosaic_tile.h"
#include "platform/error.h"

using Quorvale::FileSpecification;

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Lines longer than this are not a list file; refusing them bounds memory on hostile input.
constexpr size_t kMaxLine = 1 << 16;
// Origins are kept far from int's limits so that placement arithmetic cannot overflow.
constexpr long kMaxOrigin = 1000000000L;

// Reads one line without its end; false at the end of the file.
bool read_line(FILE* f, std::string* line, const FileSpecification& list) {
  line->clear();
  int c = std::fgetc(f);
  if (c == EOF) return false;
  for (; c != EOF && c != '\n'; c = std::fgetc(f)) {
    if (line->size() >= kMaxLine) throw ReadError(list.str());
    line->push_back(static_cast<char>(c));
  }
  if (std::ferror(f)) throw ReadError(list.str());
  return true;
}

struct Field {
  size_t start, size;
};

std::vector<Field> fields_of(const std::string& line) {
  std::vector<Field> fields;
  size_t i = 0;
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (i < line.size()) {
    while (i < line.size() && blank(line[i])) ++i;
    const size_t start = i;
    while (i < line.size() && !blank(line[i])) ++i;
    if (i > start) fields.push_back({start, i - start});
  }
  return fields;
}

int parse_origin(const std::string& text, int line_number, const FileSpecification& list) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0' || errno == ERANGE) throw ReadError(list.str());
  if (value < -kMaxOrigin || value > kMaxOrigin)
    throw Error(format_message("Error: tile origin %s on line %d of file %s is out of range.",
                               text.c_str(), line_number, list.path()));
  return static_cast<int>(value);
}

}  // namespace

std::vector<std::unique_ptr<ImageFile>> read_mosaic_list(const FileSpecification& list_file,
                                                         const std::string& tile_type,
                                                         const uint8_t* no_data,
                                                         const uint8_t* transparent) {
  FilePtr f(list_file.open("r"));
  if (!f) throw OpenError(list_file.str(), "read");
  const bool with_origin = mosaic_tile_has_origin(tile_type);
  std::vector<std::unique_ptr<ImageFile>> tiles;
  std::string line;
  for (int number = 1; read_line(f.get(), &line, list_file); ++number) {
    const std::vector<Field> fields = fields_of(line);
    if (fields.empty()) continue;
    // The name is the rest of the line, so that names with blanks need no quoting.
    int x = 0, y = 0;
    size_t name_end = line.size();
    if (with_origin) {
      if (fields.size() < 3)
        throw Error(format_message("Incorrect number of fields on line %d of file %s.", number,
                                   list_file.path()));
      const Field& fx = fields[fields.size() - 2];
      x = parse_origin(line.substr(fx.start, fx.size), number, list_file);
      const Field& fy = fields.back();
      y = parse_origin(line.substr(fy.start, fy.size), number, list_file);
      name_end = fields[fields.size() - 3].start + fields[fields.size() - 3].size;
    } else {
      name_end = fields.back().start + fields.back().size;
    }
    const std::string name = line.substr(fields.front().start, name_end - fields.front().start);
    tiles.push_back(create_mosaic_tile(tile_type, name, x, y, no_data, transparent));
  }
  if (tiles.empty())
    throw Error(format_message("Error: mosaic list file %s names no image file.",
                               list_file.path()));
  return tiles;
}

ImageMosaic::ImageMosaic(const FileSpecification& list_file, const std::string& tile_type,
                         const uint8_t* no_data, const uint8_t* transparent)
    : tiles_(read_mosaic_list(list_file, tile_type, no_data, transparent)) {
  assemble();
}

ImageMosaic::ImageMosaic(std::vector<std::unique_ptr<ImageFile>> tiles) : tiles_(std::move(tiles)) {
  if (tiles_.empty()) throw Error("Error: a mosaic needs at least one image file.");
  assemble();
}

ImageMosaic::~ImageMosaic() = default;

void ImageMosaic::assemble() {
  place_tiles();
  data_type = tiles_[0]->data_type;
  signed_samples = tiles_[0]->signed_samples;
  separate_bands = tiles_[0]->separate_bands;
  for (auto& t : tiles_)
    if (t->data_type != data_type || t->signed_samples != signed_samples)
      throw Error("Error: mosaic images have different data types.");
  check_tiles();
  build_metadata();
  for (auto& t : tiles_) t->add_metadata(&metadata);
  if (data_type != kImage8Bit || separate_bands) use_nodata();
}

// The tiles' nodata value, else the background colour of the gaps when it is one grey value.
std::optional<double> ImageMosaic::source_nodata() {
  if (std::optional<double> v = tiles_[0]->source_nodata()) return v;
  const uint8_t* bg = no_data_value();
  if (bg && bg[0] == bg[1] && bg[1] == bg[2]) return double(bg[0]);
  return std::nullopt;
}

// Each tile honours its own nodata value, as a tile of 16-bit or float samples always does.
void ImageMosaic::use_nodata() {
  Image::use_nodata();
  for (auto& t : tiles_)
    if (!t->nodata) t->use_nodata();
}

void ImageMosaic::place_tiles() {
  int64_t xmin = INT64_MAX, xmax = INT64_MIN, ymin = INT64_MAX, ymax = INT64_MIN;
  for (auto& t : tiles_) {
    t->place_by_georeference();
    const int(&s)[2][2] = t->support;
    xmin = std::min<int64_t>(xmin, s[0][0]);
    xmax = std::max<int64_t>(xmax, s[0][1]);
    ymin = std::min<int64_t>({ymin, s[1][0], s[1][1]});
    ymax = std::max<int64_t>({ymax, s[1][0], s[1][1]});
  }
  if (xmax - xmin + 1 > INT_MAX || ymax - ymin + 1 > INT_MAX)
    throw Error("Error: the mosaic's tiles span more than the largest image size.");
  // Readers that count rows upward give y0 > y1; their rows are counted downward from the top
  // of the mosaic. A one-row tile (y0 == y1) follows the convention of the other tiles.
  bool upward = false;
  for (auto& t : tiles_) upward = upward || t->support[1][0] > t->support[1][1];
  for (auto& t : tiles_) {
    int(&s)[2][2] = t->support;
    s[0][0] = static_cast<int>(s[0][0] - xmin);
    s[0][1] = static_cast<int>(s[0][1] - xmin);
    if (s[1][0] < s[1][1] || (s[1][0] == s[1][1] && !upward)) {
      s[1][0] = static_cast<int>(s[1][0] - ymin);
      s[1][1] = static_cast<int>(s[1][1] - ymin);
    } else {
      s[1][0] = static_cast<int>(ymax - s[1][0]);
      s[1][1] = static_cast<int>(ymax - s[1][1]);
    }
  }
  image_width = static_cast<int>(xmax - xmin + 1);
  image_height = static_cast<int>(ymax - ymin + 1);
  nband = tiles_[0]->coded_bands();
}

void ImageMosaic::check_tiles() {
  for (size_t i = 1; i < tiles_.size(); ++i) tiles_[i]->check_compatible(*tiles_[0]);
}

void ImageMosaic::build_metadata() {
  MetadataList* list = &metadata;
  if (metadata_status(list) != 0) metadata_init(list);
  std::string names;
  for (auto& t : tiles_) names += (names.empty() ? "" : ", ") + t->file().str();
  bool ok = metadata_add_long(list, "IMAGE::WIDTH", image_width) >= 0 &&
            metadata_add_long(list, "IMAGE::HEIGHT", image_height) >= 0 &&
            metadata_add_ascii(list, "IMAGE::INPUT_NAME", names.c_str()) >= 0 &&
            metadata_add_double(list, "IMAGE::INPUT_FILE_SIZE", file_size()) >= 0 &&
            metadata_add_bytes(list, "IMAGE::NO_DATA_VALUE", no_data_value(), 3) >= 0;
  if (ok && transparent_value())
    ok = metadata_add_bytes(list, "IMAGE::TRANSPARENT_DATA_VALUE", transparent_value(), 3) >= 0;
  if (ok && is_georeferenced()) {
    const double origin[2] = {xcoord(), ycoord()};
    ok = metadata_add_doubles(list, "IMAGE::XY_ORIGIN", origin, 2) >= 0 &&
         metadata_add_double(list, "IMAGE::X_RESOLUTION", xscale()) >= 0 &&
         metadata_add_double(list, "IMAGE::Y_RESOLUTION", -yscale()) >= 0;
  }
  static const char* const kCopied[] = {
      "IMAGE::SOM", "IMAGE::Z_ORIGIN", "IMAGE::X_RESOLUTION", "IMAGE::Y_RESOLUTION",
      "IMAGE::Z_RESOLUTION", "IMAGE::HORIZONTAL_UNITS", "IMAGE::VERTICAL_UNITS",
      "IMAGE::Z_UNITS", "IMAGE::DATA_TYPE", "IMAGE::BITS_PER_SAMPLE", "GEO::HORIZONTAL_DATUM",
      "GEO::HORIZONTAL_COORDSYSTEMZONE", "GEO::ModelTypeGeoKey", "GEO::ProjectedCSTypeGeoKey",
      "GEO::PCSCitationGeoKey", "IMAGE::NO_DITHER", "IMAGE::COLOR_SCHEME"};
  const MetadataList* first = &tiles_[0]->metadata;
  for (const char* key : kCopied)
    if (ok && metadata_find(first, key) >= 0) ok = metadata_copy(list, first, key) >= 0;
  if (!ok) throw Error("Error initializing metadata.");
  add_common_lut();
}

// The mosaic carries a colour map only when every tile has the very same one.
void ImageMosaic::add_common_lut() {
  ImageFile& first = *tiles_[0];
  const int entries = first.lut_size();
  if (entries < 1 || !first.lut()) return;
  const size_t bytes = 3 * static_cast<size_t>(entries);
  for (size_t i = 1; i < tiles_.size(); ++i) {
    ImageFile& t = *tiles_[i];
    if (t.lut_size() != entries || !t.lut() || std::memcmp(t.lut(), first.lut(), bytes) != 0)
      return;
  }
  if (metadata_add_lut(&metadata, first.lut(), entries) < 0)
    throw Error("Error initializing metadata.");
}

void ImageMosaic::print_parameters() {
  std::printf("**********************************\n");
  std::printf("**** Image Mosaic Parameters *****\n");
  std::printf("**********************************\n\n");
  std::printf("  Image width: %d\n", image_width);
  std::printf("  Image height: %d\n", image_height);
  std::printf("  Samples-per-pixel: %d\n", nband);
  std::printf("  Number of image files in mosaic: %d\n", tile_count());
  if (metadata_status(&metadata) == 0) {
    std::printf("\n");
    metadata_dump(&metadata);
  }
  std::fflush(stdout);
  std::printf("\n**********************************\n");
  std::printf("*** Individual File Parameters ***\n");
  std::printf("**********************************\n");
  for (auto& t : tiles_) {
    std::printf("\n");
    t->print_parameters();
  }
  std::fflush(stdout);
}

void ImageMosaic::extract(int section_support[2][2], unsigned char* pixels) {
  for (auto& t : tiles_) t->extract(section_support, pixels);
}

void ImageMosaic::extract(int section_support[2][2], float* pixels) {
  for (auto& t : tiles_) t->extract(section_support, pixels);
}

void ImageMosaic::extract(int section_support[2][2], uint16_t* pixels) {
  for (auto& t : tiles_) t->extract(section_support, pixels);
}

void ImageMosaic::extract(int section_support[2][2], int16_t* pixels) {
  for (auto& t : tiles_) t->extract(section_support, pixels);
}

double ImageMosaic::file_size() {
  double total = 0.0;
  for (auto& t : tiles_) total += t->file_size();
  return total;
}

double ImageMosaic::xcoord() {
  if (!tiles_[0]->is_georeferenced()) return 0.0;
  double x = tiles_[0]->xcoord();
  for (auto& t : tiles_) x = std::min(x, t->xcoord());
  return x;
}

double ImageMosaic::ycoord() {
  if (!tiles_[0]->is_georeferenced()) return 0.0;
  double y = tiles_[0]->ycoord();
  for (auto& t : tiles_) y = std::max(y, t->ycoord());
  return y;
}

double ImageMosaic::xscale() {
  return tiles_[0]->is_georeferenced() ? tiles_[0]->xscale() : 0.0;
}

double ImageMosaic::yscale() {
  return tiles_[0]->is_georeferenced() ? tiles_[0]->yscale() : 0.0;
}

bool ImageMosaic::is_georeferenced() { return tiles_[0]->is_georeferenced(); }
const uint8_t* ImageMosaic::no_data_value() { return tiles_[0]->no_data_value(); }
const uint8_t* ImageMosaic::transparent_value() { return tiles_[0]->transparent_value(); }

void ImageMosaic::write_header_file(const FileSpecification& file) {
  if (tiles_.empty() || !tiles_[0]->write_header_text(nullptr, nullptr)) return;
  FilePtr f(file.open("wb"));
  if (!f) throw Error(format_message("Error opening %s for write.", file.path()));
  for (auto& t : tiles_) t->write_header_text(f.get(), file.path());
  if (std::fclose(f.release()) != 0) throw WriteError(file.str());
}

void ImageMosaic::add_metadata(MetadataList* list) {
  for (auto& t : tiles_) t->add_metadata(list);
}

void ImageMosaic::set_temp_directory(const FileSpecification* folder) {
  for (auto& t : tiles_) t->set_temp_directory(folder);
}

void ImageMosaic::keep_only(const int section[2][2]) {
  std::erase_if(tiles_, [section](const std::unique_ptr<ImageFile>& t) {
    return !sections_intersect(t->support, section);
  });
}
