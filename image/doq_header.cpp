#include "image/doq_header.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "image/text_header_reader.h"
#include "platform/error.h"

using Quorvale::FileSpecification;

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

constexpr char kKeywordMagic[] = "BEGIN_USGS_DOQ_HEADER";
constexpr size_t kMagicLength = sizeof kKeywordMagic - 1;
constexpr size_t kMaxQuadName = 38;

[[noreturn]] void value_error() { throw Error("Read error encountered while parsing DOQ header."); }

[[noreturn]] void corrupt(const FileSpecification& file) {
  throw Error(format_message("Error: DOQQ image %s is corrupt.", file.path()));
}

FilePtr open_for_read(const FileSpecification& file, const char* mode) {
  FilePtr f(file.open(mode));
  if (!f) throw OpenError(file.str(), "read");
  return f;
}

// The file must hold the header and exactly `lines` raster lines after it.
void check_size(const FileSpecification& file, int64_t header_lines, const DOQHeader& h) {
  if (h.samples <= 0 || h.lines <= 0 || (h.bands != 1 && h.bands != 3)) corrupt(file);
  const int64_t expected = (int64_t{h.lines} + header_lines) * h.samples * h.bands;
  if (static_cast<int64_t>(Quorvale::file_size_of(file)) != expected) corrupt(file);
}

class KeywordParser {
 public:
  KeywordParser(const FileSpecification& file, DOQHeader* header)
      : file_(file), reader_(open_for_read(file, "r").release()), h_(*header) {}

  void parse() {
    std::optional<std::string> first = reader_.word();
    if (!first || *first != kKeywordMagic)
      throw Error(format_message("Error: %s is not a bona fide USGS DOQ 96 image.", file_.path()));
    skip_line();
    for (;;) {
      std::optional<std::string> keyword = reader_.word();
      if (!keyword) throw ReadError(file_.str());
      if (*keyword == "END_USGS_DOQ_HEADER" || *keyword == "END_USGS_HEADER") break;
      handle(*keyword);
      skip_line();
    }
    h_.coordinate_system = coordinate_system_code(coordinate_system_);
  }

 private:
  void skip_line() {
    if (!reader_.skip_line()) throw Error("Unexpected EOF found while parsing DOQ header.");
  }

  std::string word() {
    std::optional<std::string> w = reader_.word();
    if (!w) value_error();
    return *w;
  }
  int int_value() {
    std::optional<int> v = parse_int_prefix(word());
    if (!v) value_error();
    return *v;
  }
  double double_value() {
    std::optional<double> v = parse_double_prefix(word());
    if (!v) value_error();
    return *v;
  }

  void handle(const std::string& key) {
    if (key == "STATE" || key == "state") {
      store_code(word(), h_.states, 4);
    } else if (key == "NATION" || key == "nation") {
      store_code(word(), h_.nations, 2);
    } else if (key == "QUADRANGLE_NAME") {
      h_.quad_name = quoted_or_word(reader_.rest_of_line()).substr(0, kMaxQuadName);
    } else if (key == "QUADRANT") {
      h_.quadrant = word().substr(0, 2);
    } else if (key == "HORIZONTAL_RESOLUTION") {
      h_.x_resolution = h_.y_resolution = double_value();
    } else if (key == "VERTICAL_RESOLUTION") {
      h_.y_resolution = double_value();
    } else if (key == "HORIZONTAL_UNITS") {
      h_.units = unit_code(word());
    } else if (key == "SAMPLES_AND_LINES") {
      h_.samples = int_value();
      h_.lines = int_value();
    } else if (key == "HORIZONTAL_COORDINATE_SYSTEM") {
      coordinate_system_ = word();
    } else if (key == "COORDINATE_ZONE") {
      h_.zone = int_value();
    } else if (key == "BAND_CONTENT") {
      h_.bands = word() == "BLACK&WHITE" ? 1 : 3;
    } else if (key == "XY_ORIGIN") {
      h_.origin_x = double_value();
      h_.origin_y = double_value();
    } else if (const int corner = corner_index(key); corner >= 0) {
      h_.corners[corner][0] = double_value();
      h_.corners[corner][1] = double_value();
    } else if (key == "SOURCE_IMAGE_DATE") {
      h_.year = int_value();
      h_.month = int_value();
      h_.day = int_value();
    } else if (key == "HORIZONTAL_DATUM") {
      h_.datum = datum_code(word());
    }
  }

  // Codes beyond the slots are dropped.
  static void store_code(const std::string& code, std::string* slots, int count) {
    for (int i = 0; i < count; ++i) {
      if (slots[i].empty()) {
        slots[i] = code.substr(0, 2);
        return;
      }
    }
  }

  static std::string quoted_or_word(const std::string& text) {
    if (!text.empty() && text[0] == '"') {
      const size_t end = text.find('"', 1);
      return text.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    }
    return text.substr(0, text.find_first_of(" \t"));
  }

  static int corner_index(const std::string& key) {
    if (key == "NW_QUAD_CORNER_XY") return kCornerNW;
    if (key == "NE_QUAD_CORNER_XY") return kCornerNE;
    if (key == "SE_QUAD_CORNER_XY") return kCornerSE;
    if (key == "SW_QUAD_CORNER_XY") return kCornerSW;
    return -1;
  }

  static int unit_code(const std::string& w) {
    if (w == "METERS" || w == "meters") return 9001;
    if (w == "FEET" || w == "feet") return 9003;
    if (w == "INTERNATIONAL" || w == "international") return 9002;
    if (w == "RADIANS" || w == "radians") return 9101;
    if (w == "ARC" || w == "arc") return 9104;
    throw Error("Error: unkown unit parameter encountered while parsing DOQ header.");
  }

  static int datum_code(const std::string& w) {
    if (w == "NAD83" || w == "nad83") return 6269;
    if (w == "NAD27" || w == "nad27") return 6267;
    if (w == "WGS72" || w == "wgs72") return 6322;
    if (w == "WGS84" || w == "wgs84") return 6326;
    throw Error(format_message("Error: unknown datum %s encountered in DOQ Image", w.c_str()));
  }

  static int coordinate_system_code(const std::string& w) {
    if (w == "Geographic") return 0;
    if (w == "UTM" || w == "utm") return 1;
    if (w == "SPCS" || w == "spcs") return 2;
    throw Error("Error. Unsupported horizontal coordinate system encountered.");
  }

  FileSpecification file_;
  TextHeaderReader reader_;
  DOQHeader& h_;
  std::string coordinate_system_ = "UTM";
};

class FixedFieldParser {
 public:
  FixedFieldParser(const FileSpecification& file, DOQHeader* header)
      : file_(file), f_(open_for_read(file, "rb")), h_(*header) {}

  void parse() {
    h_.keyword_header = false;
    h_.quad_name = trim_right(field(0, 38));
    h_.quadrant = field(38, 2);
    h_.nations[0] = trim_right(field(40, 2));
    h_.nations[1] = trim_right(field(42, 2));
    for (int i = 0; i < 4; ++i) h_.states[i] = letters_or_empty(field(44 + 2 * i, 2));
    h_.lines = int_field(144, 6);
    h_.samples = int_field(150, 6);
    h_.image_code = int_field(156, 3);
    const int code = h_.image_code;
    h_.bands = code == 5 || code == 6 || code == 8 || code == 9 ? 3 : 1;
    // Measured before the fields that lie beyond the first lines are looked for.
    check_size(file_, 4, h_);
    h_.datum = datum_code(int_field(167, 2));
    h_.coordinate_system = int_field(195, 3);
    h_.zone = int_field(198, 6);
    h_.units = unit_code(int_field(204, 3));
    read_corner(207, kCornerSW);
    read_corner(255, kCornerNW);
    read_corner(303, kCornerNE);
    read_corner(351, kCornerSE);
    const int64_t record = int64_t{h_.bands} * h_.samples;
    h_.origin_x = fortran_field(2 * record + 288);
    h_.origin_y = fortran_field(2 * record + 312);
    h_.x_resolution = double_field(3 * record + 59, 12);
    h_.y_resolution = double_field(3 * record + 71, 12);
    h_.year = int_field(3 * record + 214, 4);
    h_.month = int_field(3 * record + 218, 2);
    h_.day = int_field(3 * record + 220, 2);
  }

 private:
  std::string field(int64_t offset, size_t width) {
    std::string text(width, '\0');
    if (fseeko(f_.get(), offset, SEEK_SET) != 0 ||
        std::fread(text.data(), 1, width, f_.get()) != width)
      throw ReadError(file_.str());
    text.resize(std::strlen(text.c_str()));  // a NUL ends the field
    return text;
  }

  int int_field(int64_t offset, size_t width) {
    std::optional<int> v = parse_int_prefix(field(offset, width));
    if (!v) value_error();
    return *v;
  }

  double double_field(int64_t offset, size_t width) {
    std::optional<double> v = parse_double_prefix(field(offset, width));
    if (!v) value_error();
    return *v;
  }

  // 24-character numbers, possibly with a Fortran 'D' exponent (mantissa D exponent).
  double fortran_field(int64_t offset) {
    const std::string text = field(offset, 24);
    if (text.find_first_of("Dd") != std::string::npos) {
      double mantissa = 0.0;
      int exponent = 0;
      if (std::sscanf(text.c_str(), "%lf%*[Dd]%d", &mantissa, &exponent) != 2 ||
          exponent < -300 || exponent > 300)
        value_error();
      const double value = mantissa * std::pow(10.0, exponent);
      if (!std::isfinite(value)) value_error();
      return value;
    }
    std::optional<double> v = parse_double_prefix(text);
    if (!v) value_error();
    return *v;
  }

  void read_corner(int64_t offset, DOQCorner corner) {
    h_.corners[corner][0] = fortran_field(offset);
    h_.corners[corner][1] = fortran_field(offset + 24);
  }

  static std::string trim_right(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
  }

  static std::string letters_or_empty(const std::string& code) {
    for (char c : code)
      if (std::isalpha(static_cast<unsigned char>(c))) return code;
    return std::string();
  }

  static int datum_code(int code) {
    switch (code) {
      case 1: return 6267;
      case 2: return 6322;
      case 3: return 6326;
      case 4: return 6269;
      case 5: throw Error("Sorry. The Puerto Rico datum is not tabulated by the EPSG.");
      default: throw Error("Error: uknown datum encountered in DOQ header.");
    }
  }

  static int unit_code(int code) {
    switch (code) {
      case 0: return 9101;
      case 1: return 9003;
      case 2: return 9001;
      case 3: return 9104;
      default: throw Error("Error: unkown unit parameter encountered while parsing DOQ header.");
    }
  }

  FileSpecification file_;
  FilePtr f_;
  DOQHeader& h_;
};

bool has_keyword_magic(const FileSpecification& file) {
  FilePtr f = open_for_read(file, "rb");
  char magic[kMagicLength];
  if (std::fread(magic, 1, kMagicLength, f.get()) != kMagicLength) throw ReadError(file.str());
  return std::memcmp(magic, kKeywordMagic, kMagicLength) == 0;
}

}  // namespace

DOQHeader read_doq_header(const FileSpecification& file) {
  DOQHeader header;
  if (has_keyword_magic(file)) {
    KeywordParser(file, &header).parse();
    check_size(file, 1, header);
  } else {
    FixedFieldParser(file, &header).parse();
  }
  return header;
}
