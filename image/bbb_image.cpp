#include "image/bbb_image.h"

#include <algorithm>
#include <climits>
#include <initializer_list>

#include "image/raster_placement.h"
#include "image/text_header_reader.h"
#include "image/mosaic_compatibility.h"
#include "platform/error.h"

using Quorvale::FileSpecification;

namespace {

bool is_one_of(const std::string& word, std::initializer_list<const char*> names) {
  for (const char* name : names)
    if (word == name) return true;
  return false;
}

class BBBHeaderParser {
 public:
  explicit BBBHeaderParser(const FileSpecification& file)
      : file_(file), reader_(open_header(file)) {}

  BBBImage::Header parse() {
    while (std::optional<std::string> word = reader_.word()) {
      std::string keyword = *word;
      std::string inline_value;
      // "NCOLS: 512" and "NCOLS:512" both name the keyword; a value glued to the colon is
      // taken as the value itself.
      if (const size_t colon = keyword.find(':'); colon != std::string::npos) {
        inline_value = keyword.substr(colon + 1);
        keyword.erase(colon);
      }
      inline_value_ = inline_value;
      handle(keyword);
      reader_.skip_line();
    }
    finish();
    return header_;
  }

 private:
  static FILE* open_header(const FileSpecification& file) {
    FILE* stream = file.open("r");
    if (!stream) throw OpenError(file.str(), "read");
    return stream;
  }

  std::string value_word() {
    if (!inline_value_.empty()) {
      std::string value = inline_value_;
      inline_value_.clear();
      return value;
    }
    std::optional<std::string> value = reader_.word();
    if (!value) throw ReadError(file_.str());
    return *value;
  }

  int int_value() {
    std::optional<int> value = parse_int_prefix(value_word());
    if (!value) throw ReadError(file_.str());
    return *value;
  }

  double double_value() {
    std::optional<double> value = parse_double_prefix(value_word());
    if (!value) throw ReadError(file_.str());
    return *value;
  }

  void handle(const std::string& key) {
    BBBImage::Header& h = header_;
    if (is_one_of(key, {"wordlength", "WORDLENGTH"})) {
      h.word_length = int_value();
      check_word_length();
    } else if (is_one_of(key, {"dynamicrangewindow", "DYNAMICRANGEWINDOW"})) {
      h.dynamic_range_window = int_value();
    } else if (is_one_of(key, {"dynamicrangelevel", "DYNAMICRANGELEVEL"})) {
      h.dynamic_range_level = int_value();
    } else if (is_one_of(key, {"bandgapbytes", "BANDGAPBYTES"})) {
      h.bandgapbytes = int_value();
    } else if (is_one_of(key, {"bandrowbytes", "BANDROWBYTES"})) {
      h.bandrowbytes = int_value();
    } else if (is_one_of(key, {"nbands", "NBANDS", "bands", "BANDS"})) {
      h.nbands = int_value();
      seen_nbands_ = true;
      if (h.nbands != 1 && h.nbands != 3)
        throw Error("Error: this program can of process 1- or 3-band LAN files.");
    } else if (is_one_of(key, {"nbits", "NBITS"})) {
      h.nbits = int_value();
    } else if (is_one_of(key, {"ncols", "NCOLS", "cols", "COLS"})) {
      h.ncols = int_value();
      seen_ncols_ = true;
    } else if (is_one_of(key, {"nrows", "NROWS", "rows", "ROWS"})) {
      h.nrows = int_value();
      seen_nrows_ = true;
    } else if (is_one_of(key, {"totalrowbytes", "TOTALROWBYTES"})) {
      h.totalrowbytes = int_value();
    } else if (is_one_of(key, {"skipbytes", "SKIPBYTES"})) {
      h.skipbytes = int_value();
    } else if (is_one_of(key, {"ulxmap", "ULXMAP", "ul_x_coordinate", "UL_X_COORDINATE"})) {
      h.ulxmap = double_value();
    } else if (is_one_of(key, {"ulymap", "ULYMAP", "ul_y_coordinate", "UL_Y_COORDINATE"})) {
      h.ulymap = double_value();
    } else if (is_one_of(key, {"xdim", "XDIM", "pixel_width", "PIXEL_WIDTH"})) {
      h.xdim = double_value();
    } else if (is_one_of(key, {"ydim", "YDIM", "pixel_height", "PIXEL_HEIGHT"})) {
      h.ydim = double_value();
    } else if (is_one_of(key, {"layout", "LAYOUT", "interleaving", "INTERLEAVING"})) {
      h.layout = layout_code(value_word());
    }
  }

  void check_word_length() const {
    if (header_.word_length == 1) return;
    if (header_.word_length == 2)
      throw Error("Error: This version of the Vexal Encoder does not support 16 bit imagery.");
    throw Error("Error: this program only processes BBB images with a word length of 1 or 2.");
  }

  static int layout_code(const std::string& word) {
    if (word == "BIL" || word == "bil") return BBBImage::kLayoutBIL;
    if (word == "BIP" || word == "bip") return BBBImage::kLayoutBIP;
    if (word == "BSQ" || word == "bsq") return BBBImage::kLayoutBSQ;
    throw Error("Unknown layout specification found.");
  }

  void finish() {
    BBBImage::Header& h = header_;
    if (!seen_nbands_) throw Error("Error: missing required specification NBANDS in BIL/BIP/BSQ header.");
    if (!seen_ncols_) throw Error("Error: missing required specification NCOLS in BIL/BIP/BSQ header.");
    if (!seen_nrows_) throw Error("Error: missing required specification NROWS in BIL/BIP/BSQ header.");
    if (h.ncols <= 0 || h.nrows <= 0 || h.skipbytes < 0)
      throw Error(format_message("Error: invalid size (%d columns, %d rows, %d bytes to skip) "
                                 "in BIL/BIP/BSQ header %s.",
                                 h.ncols, h.nrows, h.skipbytes, file_.path()));
    if (h.bandrowbytes < 0) h.bandrowbytes = h.ncols;
    if (h.totalrowbytes < 0)
      h.totalrowbytes = static_cast<int>(std::min<int64_t>(INT_MAX, int64_t{h.nbands} * h.ncols));
  }

  FileSpecification file_;
  TextHeaderReader reader_;
  std::string inline_value_;
  BBBImage::Header header_;
  bool seen_nbands_ = false, seen_ncols_ = false, seen_nrows_ = false;
};

}  // namespace

BBBImage::Header read_bbb_header(const FileSpecification& header_file) {
  return BBBHeaderParser(header_file).parse();
}

BBBImage::BBBImage(const FileSpecification& file, const uint8_t* no_data,
                   const uint8_t* transparent)
    : ImageFile(file, 0, 0, no_data, transparent) {
  FileSpecification header_file(file);
  header_file.set_extension("hdr");
  header_ = read_bbb_header(header_file);
  image_width = header_.ncols;
  image_height = header_.nrows;
  nband = header_.nbands;
  set_support_from_size();
  color_scheme = nband == 1 ? kSchemeGray : kSchemeRGB;
  data_type = kImage8Bit;
  add_image_metadata();
  add_reader_metadata();
  check_file_size();
}

void BBBImage::add_reader_metadata() {
  if (header_.dynamic_range_window != -1) {
    if (metadata_add_double(&metadata, "IMAGE::DYNAMIC_RANGE_WINDOW",
                            header_.dynamic_range_window) < 0 ||
        metadata_add_double(&metadata, "IMAGE::DYNAMIC_RANGE_LEVEL",
                            header_.dynamic_range_level) < 0)
      throw Error("Error creating metadata.");
  }
  if (metadata_add_short(&metadata, "IMAGE::BITS_PER_SAMPLE", 8) < 0)
    throw Error("Error initializing metadata.");
}

void BBBImage::check_file_size() {
  const int64_t expected = int64_t{header_.skipbytes} +
                           int64_t{header_.nrows} * header_.nbands * header_.ncols;
  const int64_t actual = static_cast<int64_t>(Quorvale::file_size_of(file_));
  if (actual != expected)
    throw Error(format_message(
        "Error: The actual file size (%lld) is not consistent with the reported file size "
        "(%lld) for file %s.\nThis file's header must be repaired prior to encoding.",
        static_cast<long long>(actual), static_cast<long long>(expected), file_.path()));
}

void BBBImage::print_parameters() {
  const Header& h = header_;
  std::printf("***** %s *****\n\n", file_.path());
  std::printf("  bandgapbytes: %d\n", h.bandgapbytes);
  std::printf("  bandrowbytes: %d\n", h.bandrowbytes);
  std::printf("  nbands: %d\n", h.nbands);
  std::printf("  nbits: %d\n", h.nbits);
  if (h.dynamic_range_window != -1) {
    std::printf("  dynamic range window: %d\n", h.dynamic_range_window);
    std::printf("  dynamic range level: %d\n", h.dynamic_range_level);
  }
  std::printf("  ncols: %d\n", h.ncols);
  std::printf("  nrows: %d\n", h.nrows);
  std::printf("  totalrowbytes: %d\n", h.totalrowbytes);
  std::printf("  skipbytes: %d\n", h.skipbytes);
  std::printf("  ulxmap: %f\n", h.ulxmap);
  std::printf("  ulymap: %f\n", h.ulymap);
  std::printf("  xdim: %f\n", h.xdim);
  std::printf("  ydim: %f\n", h.ydim);
  static const char* const kLayouts[] = {"BIL", "BSQ", "BIP"};
  std::printf("  layout: %s\n", h.layout >= 0 ? kLayouts[h.layout] : "unknown");
  std::fflush(stdout);
}

void BBBImage::extract(int section_support[2][2], unsigned char* pixels) {
  BandOrder order = BandOrder::Grayscale;
  if (nband == 3) {
    switch (header_.layout) {
      case kLayoutBIL: order = BandOrder::RGB_BIL; break;
      case kLayoutBIP: order = BandOrder::RGB; break;
      case kLayoutBSQ: order = BandOrder::RGB_BSQ; break;
      default:
        throw Error("Error: unknown band structure encountered in subroutine BBBImage::extract.");
    }
  }
  extract_raw(section_support, pixels, 1, header_.ncols, header_.nrows, nband,
              header_.skipbytes, order, 0, transparent_value());
}

void BBBImage::place_by_georeference() {
  if (!(header_.xdim > 0 && header_.ydim > 0))
    throw Error(format_message("Error: pixel size (%f, %f) of %s cannot place it in a mosaic.",
                               header_.xdim, header_.ydim, file_.path()));
  place_support(support, header_.ulxmap / header_.xdim, header_.ulymap / header_.ydim,
                header_.ncols, header_.nrows);
}

void BBBImage::check_compatible(ImageFile& other) {
  check_same_band_count(*this, other);
  check_same_resolution(*this, other);
}
