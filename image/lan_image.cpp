#include "image/lan_image.h"

#include <cstring>
#include <memory>

#include "image/raster_placement.h"
#include "image/mosaic_compatibility.h"
#include "platform/error.h"

using Quorvale::FileSpecification;

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

int32_t le32(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                              uint32_t{p[3]} << 24);
}

int16_t le16(const uint8_t* p) { return static_cast<int16_t>(p[0] | p[1] << 8); }

float le_float(const uint8_t* p) {
  const uint32_t bits = static_cast<uint32_t>(le32(p));
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Pixel bytes that a header claims; 128-bit so that hostile fields cannot wrap.
__int128 pixel_bytes(int64_t width, int64_t height, int64_t bands) {
  return static_cast<__int128>(width) * height * bands;
}

}  // namespace

LANImage::LANImage(const FileSpecification& file, std::optional<int> xstart,
                   std::optional<int> ystart, const uint8_t* no_data, const uint8_t* transparent)
    : ImageFile(file, 0, 0, no_data, transparent) {
  read_header();
  if (xstart) xstart_ = *xstart;
  if (ystart) ystart_ = *ystart;
  set_support_from_size();
  data_type = kImage8Bit;
  if (nband == 1)
    color_scheme = kSchemeGray;
  else if (nband < 3)
    throw Error("Error: 2 banded LAN images are not supported.");
  else
    color_scheme = kSchemeRGB;
  check_file_size();
  // The coded band rule keeps three of four bands; say so rather than lose one silently.
  if (nband == 4)
    std::fprintf(stderr, "Note: %s has 4 bands; its fourth band is not coded.\n", file_.path());
  add_image_metadata();
}

void LANImage::read_header() {
  std::unique_ptr<FILE, FileCloser> f(file_.open("rb"));
  if (!f) throw OpenError(file_.str(), "read");
  uint8_t header[kHeaderBytes];
  if (std::fread(header, 1, 6, f.get()) != 6) throw ReadError(file_.str());
  const bool old_release = std::memcmp(header, "HEADER", 6) == 0;
  if (!old_release && std::memcmp(header, "HEAD74", 6) != 0)
    throw Error("Invalid LAN image header encountered.");
  if (std::fread(header + 6, 1, kHeaderBytes - 6, f.get()) != kHeaderBytes - 6)
    throw ReadError(file_.str());
  pack_type_ = le16(header + 6);
  nband = le16(header + 8);
  image_width = le32(header + 16);
  image_height = le32(header + 20);
  xstart_ = le32(header + 24);
  ystart_ = le32(header + 28);
  xmap_ = le_float(header + 112);
  ymap_ = le_float(header + 116);
  xcell_ = le_float(header + 120);
  ycell_ = le_float(header + 124);
  if (old_release) {
    // Files of the older release store width and height as floats; their integer reading is
    // meaningless. Take the float reading when the integer one cannot match the file's size.
    const int64_t size = static_cast<int64_t>(Quorvale::file_size_of(file_));
    const float w = le_float(header + 16), h = le_float(header + 20);
    const bool ints_fit = image_width > 0 && image_height > 0 && nband > 0 &&
                          kHeaderBytes + pixel_bytes(image_width, image_height, nband) <= size;
    if (!ints_fit && w >= 1 && h >= 1 && w < 1e9f && h < 1e9f && w == static_cast<int>(w) &&
        h == static_cast<int>(h)) {
      image_width = static_cast<int>(w);
      image_height = static_cast<int>(h);
    }
  }
  if (image_width <= 0 || image_height <= 0)
    throw Error("Invalid LAN image header encountered.");
}

// The pixels are read lazily, section by section; a file shorter than its header claims is
// refused here rather than part-way through an encoding. Only 8-bit (pack type 0) files can be
// read at all, so only they are measured.
void LANImage::check_file_size() {
  if (pack_type_ != 0) return;
  const int64_t size = static_cast<int64_t>(Quorvale::file_size_of(file_));
  if (kHeaderBytes + pixel_bytes(image_width, image_height, nband) > size)
    throw ReadError(file_.str());
}

void LANImage::print_parameters() {
  std::printf("***** %s *****\n\n", file_.path());
  std::printf("  image_width: %d\n", image_width);
  std::printf("  image_height: %d\n", image_height);
  std::printf("  nband: %d\n", nband);
  std::printf("  pack type: %d\n", pack_type_);
  std::printf("  xmap: %f\n", xmap_);
  std::printf("  ymap: %f\n", ymap_);
  std::printf("  xcell: %f\n", xcell_);
  std::printf("  ycell: %f\n", ycell_);
  std::printf("  xstart: %d\n", xstart_);
  std::printf("  ystart: %d\n", ystart_);
  if (metadata_status(&metadata) == 0) {
    std::printf("\n ================== Printing Metadata ==================\n");
    metadata_dump(&metadata);
    std::printf("\n =======================================================\n");
  }
  std::fflush(stdout);
}

void LANImage::extract(int section_support[2][2], unsigned char* pixels) {
  if (pack_type_ != 0) throw Error("Incompatible band structure in LANImage::extract.");
  BandOrder order;
  switch (nband) {
    case 1: order = BandOrder::Grayscale; break;
    case 3: order = BandOrder::RGB_BIL; break;
    case 4: order = BandOrder::BGRX_BIL; break;
    default:
      throw Error(format_message("Error: cannot process %d spectral band LAN files.", nband));
  }
  // LAN files ignore the transparent colour.
  extract_raw(section_support, pixels, 1, image_width, image_height, nband, kHeaderBytes, order);
}

void LANImage::place_by_georeference() {
  if (!(xcell_ > 0 && ycell_ > 0))
    throw Error(format_message("Error: pixel size (%f, %f) of %s cannot place it in a mosaic.",
                               xcell_, ycell_, file_.path()));
  place_support(support, xmap_ / xcell_, ymap_ / ycell_, image_width, image_height);
}

void LANImage::check_compatible(ImageFile& other) {
  const char* mine = file_.path();
  const char* theirs = other.file().path();
  check_same_band_count(*this, other);
  check_same_resolution(*this, other);
  auto* lan = dynamic_cast<LANImage*>(&other);
  if (lan && lan->pack_type_ != pack_type_)
    throw Error(format_message("File incompatibility: files %s and %s have different pack types.",
                               mine, theirs));
}
