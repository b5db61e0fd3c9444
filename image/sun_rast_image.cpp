#include "image/sun_rast_image.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>

#include "platform/error.h"

namespace {

// The magic number as it reads in little-endian order from either kind of file.
constexpr uint32_t kMagicLittle = 0x59a66a95;
constexpr uint32_t kMagicBig = 0x956aa659;

enum RasterType : uint32_t {
  kOld = 0,
  kStandard = 1,
  kByteEncoded = 2,
  kFormatRGB = 3,
  kFormatTIFF = 4,
  kFormatIFF = 5,
  kExperimental = 0xffff
};
enum MapType : uint32_t { kNoMap = 0, kEqualRGB = 1, kRawMap = 2 };

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

uint32_t load_le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void read_exact(FILE* stream, void* out, size_t n, const std::string& name) {
  if (std::fread(out, 1, n, stream) != n) throw ReadError(name);
}

}  // namespace

SunRastImage::SunRastImage(const Quorvale::FileSpecification& file, int x_origin, int y_origin,
                           const uint8_t* no_data, const uint8_t* transparent)
    : ImageFile(file, x_origin, y_origin, no_data, transparent) {
  FilePtr stream(file_.open("rb"));
  if (!stream) throw OpenError(file_.str(), "read");
  read_header(stream.get());
  check_file_holds_pixels();
  if (map_type_ == kEqualRGB) read_color_map(stream.get());
  data_type = kImage8Bit;
  if (!color_map_.empty()) {
    const size_t entries = color_map_.size() / 3;
    const uint8_t* map = color_map_.data();
    bool grey = true;
    for (size_t i = 0; i < entries; ++i) {
      grey = grey && map[i] == map[entries + i] && map[i] == map[2 * entries + i];
    }
    nband = grey ? 1 : 3;
    color_scheme = grey ? kSchemeGray : kSchemeRGB;
    if (!grey) name_ += "CLUT ";
  } else if (depth_ == 24) {
    nband = 3;
    color_scheme = kSchemeRGB;
  } else if (depth_ == 32) {
    nband = 4;  // X plus three colours: coded as three bands
  } else {
    nband = 1;
    color_scheme = kSchemeGray;
  }
  set_support_from_size();
  add_image_metadata();
}

void SunRastImage::read_header(FILE* stream) {
  const std::string& name = file_.str();
  uint8_t bytes[32];
  read_exact(stream, bytes, 4, name);
  const uint32_t magic = load_le32(bytes);
  if (magic != kMagicLittle && magic != kMagicBig) {
    throw Error("Invalid Sun rasterfile header encountered.");
  }
  read_exact(stream, bytes + 4, 28, name);
  uint32_t field[8];
  for (int i = 0; i < 8; ++i) {
    field[i] = load_le32(bytes + 4 * i);
    if (magic == kMagicBig) field[i] = __builtin_bswap32(field[i]);
  }
  const uint32_t width = field[1], height = field[2];
  depth_ = field[3];
  length_ = field[4];
  type_ = field[5];
  map_type_ = field[6];
  map_length_ = field[7];

  if (depth_ != 1 && depth_ != 8 && depth_ != 24 && depth_ != 32) {
    throw Error(format_message("Error: this program can't read depth %d Sun raster files.",
                               static_cast<int>(depth_)));
  }
  switch (type_) {
    case kOld:
    case kStandard:
    case kFormatRGB:
      break;
    case kByteEncoded:
      throw Error("This program can't read byte encoded Sun rasterfiles.");
    case kFormatTIFF:
      throw Error("This program can't read byte TIFF format Sun rasterfiles.");
    case kFormatIFF:
      throw Error("This program can't read byte IFF format Sun rasterfiles.");
    case kExperimental:
      throw Error("This program can't read byte experimental format Sun rasterfiles.");
    default:
      throw Error("Unknown Sun rasterfile type found.");
  }
  if (map_type_ == kEqualRGB && depth_ != 8) {
    throw Error(
        "This program doesn't understand Sun raster files with a color map and a depth that is "
        "not equal to 8.");
  }
  if (map_type_ == kRawMap) throw Error("This program can't read raw Sun raster file color maps.");
  if (map_type_ != kNoMap && map_type_ != kEqualRGB) {
    throw Error("Unknown Sun raster file color map type found.");
  }
  if (map_length_ % 3 != 0) {
    throw Error(
        "This program doesn't understand Sun raster files with a color map length that is not "
        "divisible by 3.");
  }
  // The support rectangle must stay within int coordinates.
  const int64_t last_x = static_cast<int64_t>(x_origin_) + width - 1;
  const int64_t last_y = static_cast<int64_t>(y_origin_) + height - 1;
  if (width == 0 || height == 0 || last_x > INT_MAX || last_y > INT_MAX) {
    throw Error("Invalid Sun rasterfile header encountered.");
  }
  image_width = static_cast<int>(width);
  image_height = static_cast<int>(height);
}

// A header that promises more bytes than the file holds is refused before anything is
// allocated or read from it.
void SunRastImage::check_file_holds_pixels() {
  const uint64_t needed = static_cast<uint64_t>(pixel_offset()) +
                          static_cast<uint64_t>(row_bytes()) * static_cast<uint64_t>(image_height);
  if (static_cast<uint64_t>(file_size()) < needed) throw ReadError(file_.str());
}

void SunRastImage::read_color_map(FILE* stream) {
  if (map_length_ == 0) return;  // a declared but empty map: the rows are grey levels
  color_map_.resize(map_length_);
  read_exact(stream, color_map_.data(), map_length_, file_.str());
  const size_t entries = map_length_ / 3;
  const size_t used = std::min<size_t>(entries, 256);
  std::copy_n(color_map_.begin(), used, red_);
  std::copy_n(color_map_.begin() + entries, used, green_);
  std::copy_n(color_map_.begin() + 2 * entries, used, blue_);
}

// Rows are padded to an even number of bytes (depth 1: to a multiple of 16 bits).
int64_t SunRastImage::row_bytes() const {
  const int64_t w = image_width;
  switch (depth_) {
    case 1:
      return (w + 15) / 16 * 2;
    case 8:
      return w + (w & 1);
    case 24:
      return 3 * w + ((3 * w) & 1);
    default:
      return 4 * w;
  }
}

void SunRastImage::extract(int section_support[2][2], unsigned char* pixels) {
  const int64_t offset = pixel_offset();
  switch (depth_) {
    case 1:
      extract_expanded(section_support, pixels);
      break;
    case 8:
      if (!color_map_.empty()) {
        extract_expanded(section_support, pixels);
      } else {
        extract_raw(section_support, pixels, 1, image_width, image_height, 1, offset,
                    BandOrder::Grayscale, row_bytes(), transparent_value());
      }
      break;
    case 24:
      extract_raw(section_support, pixels, 1, image_width, image_height, 3, offset,
                  type_ == kFormatRGB ? BandOrder::RGB : BandOrder::BGR, row_bytes(),
                  transparent_value());
      break;
    default:
      extract_raw(section_support, pixels, 1, image_width, image_height, 4, offset,
                  type_ == kFormatRGB ? BandOrder::XRGB : BandOrder::XBGR, row_bytes());
      break;
  }
}

void SunRastImage::extract_expanded(int s[2][2], unsigned char* pixels) {
  const int x0 = std::max(s[0][0], support[0][0]), x1 = std::min(s[0][1], support[0][1]);
  const int y0 = std::max(s[1][0], support[1][0]), y1 = std::min(s[1][1], support[1][1]);
  if (x0 > x1 || y0 > y1) return;
  FilePtr stream(file_.open("rb"));
  if (!stream) throw OpenError(file_.str(), "read");

  const int n = x1 - x0 + 1;
  const int c0 = x0 - support[0][0];
  const int64_t first_byte = depth_ == 1 ? c0 / 8 : c0;
  const int64_t last_byte = depth_ == 1 ? (static_cast<int64_t>(c0) + n - 1) / 8 : c0 + n - 1;
  std::vector<uint8_t> row(last_byte - first_byte + 1);
  const int64_t section_width = static_cast<int64_t>(s[0][1]) - s[0][0] + 1;
  const int64_t plane_step = section_width * (static_cast<int64_t>(s[1][1]) - s[1][0] + 1);
  for (int y = y0; y <= y1; ++y) {
    const int64_t at = pixel_offset() + (y - support[1][0]) * row_bytes() + first_byte;
    if (fseeko(stream.get(), at, SEEK_SET) != 0) throw ReadError(file_.str());
    read_exact(stream.get(), row.data(), row.size(), file_.str());
    unsigned char* out = pixels + (y - s[1][0]) * section_width + (x0 - s[0][0]);
    if (depth_ == 1) {
      expand_bits(row.data(), c0 % 8, n, out);
    } else {
      expand_indices(row.data(), n, out, plane_step);
    }
  }
}

// Most significant bit first; a set bit is black, as every viewer of the format shows it.
void SunRastImage::expand_bits(const uint8_t* row, int first_bit, int n,
                               unsigned char* out) const {
  for (int i = 0; i < n; ++i) {
    const int bit = first_bit + i;
    out[i] = (row[bit >> 3] >> (7 - (bit & 7))) & 1 ? 0 : 255;
  }
}

void SunRastImage::expand_indices(const uint8_t* row, int n, unsigned char* out,
                                  int64_t plane_step) const {
  const uint8_t* t = has_transparent_ ? transparent_ : nullptr;
  for (int i = 0; i < n; ++i) {
    const uint8_t r = red_[row[i]], g = green_[row[i]], b = blue_[row[i]];
    if (nband == 1) {
      if (!t || r != t[0]) out[i] = r;
    } else if (!t || r != t[0] || g != t[1] || b != t[2]) {
      out[i] = r;
      out[i + plane_step] = g;
      out[i + 2 * plane_step] = b;
    }
  }
}

void SunRastImage::print_parameters() {
  std::printf("***** %s *****\n\n", file_.path());
  std::printf("  image_width: %d\n", image_width);
  std::printf("  image_height: %d\n", image_height);
  std::printf("  depth: %d\n", static_cast<int>(depth_));
  std::printf("  length: %d\n", static_cast<int>(length_));
  std::printf("  type: %d\n", static_cast<int>(type_));
  std::printf("  color map type: %d\n", static_cast<int>(map_type_));
  std::printf("  color map length: %d\n", static_cast<int>(map_length_));
  if (metadata_status(&metadata) == 0) {
    std::printf("\n ================== Printing Metadata ==================\n");
    metadata_dump(&metadata);
    std::printf("\n =======================================================\n");
  }
  std::fflush(stdout);
}

void SunRastImage::check_compatible(ImageFile& other) {
  if (other.nband != nband) {
    throw Error(format_message(
        "File incompatibility: files %s and %s have a different number of spectral bands.",
        file_.path(), other.file().path()));
  }
  const auto* raster = dynamic_cast<const SunRastImage*>(&other);
  if (raster && raster->depth_ != depth_) {
    throw Error(format_message("File incompatibility: files %s and %s have different color depths.",
                               file_.path(), other.file().path()));
  }
}
