#include "image/dicom_image.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/error.h"
#include "platform/interrupt.h"

namespace {

constexpr uint16_t kImageGroup = 0x0028;
constexpr uint16_t kSamplesPerPixel = 0x0002;
constexpr uint16_t kPhotometric = 0x0004;
constexpr uint16_t kPlanarConfiguration = 0x0006;
constexpr uint16_t kRows = 0x0010;
constexpr uint16_t kColumns = 0x0011;
constexpr uint16_t kBitsAllocated = 0x0100;
constexpr uint16_t kPixelRepresentation = 0x0103;
constexpr uint16_t kPixelGroup = 0x7FE0;
constexpr uint16_t kPixelData = 0x0010;

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

uint16_t load_le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t load_le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// An explicit-VR element starts its value header with two upper-case letters; an implicit
// one with a 32-bit length.
bool explicit_vr(const uint8_t* header) {
  return std::isupper(header[0]) && std::isupper(header[1]);
}

// Walks the file in 2-byte words looking for (group, element) tags. A word equal to the group
// is followed by the element word; on a mismatch the walk goes on after that element word.
class TagScanner {
 public:
  TagScanner(FILE* stream, const std::string& name) : stream_(stream), name_(name) {}

  // Leaves the stream just after the tag; false when the end (or `limit`) comes first. The
  // walk of a large file stops at Ctrl-C.
  bool find(uint16_t group, uint16_t element, int64_t limit = INT64_MAX) {
    uint8_t word[2];
    const bool bounded = limit != INT64_MAX;
    for (uint32_t n = 1; (!bounded || ftello(stream_) < limit) &&
                         std::fread(word, 1, 2, stream_) == 2; ++n) {
      if (n % (1u << 20) == 0) platform::throw_if_interrupted();
      if (load_le16(word) != group) continue;
      if (std::fread(word, 1, 2, stream_) != 2) return false;
      if (load_le16(word) == element) return true;
    }
    return false;
  }
  void require(uint16_t group, uint16_t element) {
    if (!find(group, element)) fail();
  }
  void read(void* out, size_t n) {
    if (std::fread(out, 1, n, stream_) != n) fail();
  }
  // Skips the value header (VR and 16-bit length, or a 32-bit length) and reads a US value.
  uint16_t read_us() {
    uint8_t bytes[6];
    read(bytes, 6);
    return load_le16(bytes + 4);
  }
  int64_t position() const { return ftello(stream_); }
  void seek(int64_t at) {
    if (fseeko(stream_, at, SEEK_SET) != 0) fail();
  }
  [[noreturn]] void fail() const { throw Quorvale::Exception("Error reading " + name_ + "."); }

 private:
  FILE* stream_;
  const std::string& name_;
};

}  // namespace

DICOMImage::DICOMImage(const Quorvale::FileSpecification& file) : ImageFile(file, 0, 0) {
  FilePtr stream(file_.open("rb"));
  if (!stream) throw Quorvale::Exception("Error opening " + file_.str() + " for read.");
  // The attributes are searched up to the end of the file and the pixels read by position: a
  // device or pipe (/dev/zero never ends) cannot serve, so it is not read at all.
  if (!Quorvale::is_regular_file(file_))
    throw Error(format_message("Error: %s is not a regular file; DICOM input must be one.",
                               file_.path()));
  read_attributes(stream.get());
  data_type = kImage16Bit;
  color_scheme = nband == 1 ? kSchemeGray : kSchemeRGB;
  set_support_from_size();
  add_dicom_metadata();
  add_image_metadata();
}

// The attributes are searched in this order, each search starting where the previous one
// stopped, which is the order of their tags in a well-formed data set.
void DICOMImage::read_attributes(FILE* stream) {
  TagScanner scan(stream, file_.str());
  scan.require(kImageGroup, kSamplesPerPixel);
  nband = scan.read_us();
  if (nband != 1 && nband != 3) {
    throw Quorvale::Exception(
        "Error. Cannot process DICOM images that do not have 1 or 3 bands in file: " +
        file_.str() + ".");
  }
  scan.require(kImageGroup, kPhotometric);
  read_photometric(stream);
  const int64_t after_photometric = scan.position();

  scan.require(kImageGroup, kRows);
  const int64_t rows_tag = scan.position() - 4;
  image_height = scan.read_us();
  if (nband == 3) {
    const int64_t resume = scan.position();
    read_planar_configuration(stream, after_photometric, rows_tag);
    scan.seek(resume);
  }
  scan.require(kImageGroup, kColumns);
  image_width = scan.read_us();
  scan.require(kImageGroup, kBitsAllocated);
  bits_per_sample_ = scan.read_us();
  if (bits_per_sample_ != 16) {
    throw Quorvale::Exception("Error. Cannot process DICOM images that are not 16 bits-per-sample.");
  }
  scan.require(kImageGroup, kPixelRepresentation);
  pixel_representation_ = scan.read_us();
  if (pixel_representation_ != 0 && pixel_representation_ != 1) {
    throw Quorvale::Exception("Error. Bogus pixel representation encountered in DICOM image.");
  }
  read_pixel_data_header(stream);
}

// The text is kept to the value's own length (at most 11 characters) without its padding; the
// next search starts 10 bytes into the value, or at its end for shorter values.
void DICOMImage::read_photometric(FILE* stream) {
  TagScanner scan(stream, file_.str());
  uint8_t header[4];
  scan.read(header, 4);
  const int64_t value_start = scan.position();
  const uint32_t length = explicit_vr(header) ? load_le16(header + 2) : load_le32(header);
  char text[11];
  scan.read(text, sizeof text);
  photometric_.assign(text, std::min<uint32_t>(length, sizeof text));
  while (!photometric_.empty() && (photometric_.back() == ' ' || photometric_.back() == '\0')) {
    photometric_.pop_back();
  }
  scan.seek(value_start + std::min<int64_t>(10, length & ~1u));
}

// Planar Configuration lies between Photometric Interpretation and Rows when present.
void DICOMImage::read_planar_configuration(FILE* stream, int64_t from, int64_t to) {
  TagScanner scan(stream, file_.str());
  scan.seek(from);
  if (scan.find(kImageGroup, kPlanarConfiguration, to)) planar_configuration_ = scan.read_us();
}

// Pixel Data carries a 32-bit length: after "OW"/"OB" and two reserved bytes (explicit VR) or
// straight after the tag (implicit VR). Encapsulated (compressed) data have an undefined
// length and fail the length check.
void DICOMImage::read_pixel_data_header(FILE* stream) {
  TagScanner scan(stream, file_.str());
  scan.require(kPixelGroup, kPixelData);
  uint8_t header[4];
  scan.read(header, 4);
  if (explicit_vr(header) && header[2] == 0 && header[3] == 0) scan.read(header, 4);
  const uint64_t length = load_le32(header);
  const uint64_t expected = static_cast<uint64_t>(bits_per_sample_ / 8) * image_width *
                            image_height * static_cast<uint64_t>(nband);
  if (length != expected || expected == 0) scan.fail();
  pixel_offset_ = scan.position();
  if (static_cast<uint64_t>(pixel_offset_) + length > static_cast<uint64_t>(file_size())) {
    throw ReadError(file_.str());
  }
}

void DICOMImage::add_dicom_metadata() {
  // Window and level of 12-bit data, whatever the file says about windowing.
  constexpr double kWindow = 4096.0;
  if (metadata_add_short(&metadata, "IMAGE::BITS_PER_SAMPLE", 16) < 0 ||
      metadata_add_double(&metadata, "IMAGE::DYNAMIC_RANGE_WINDOW", kWindow) < 0 ||
      metadata_add_double(&metadata, "IMAGE::DYNAMIC_RANGE_LEVEL", (kWindow - 1) * 0.5) < 0) {
    throw Error("Error initializing metadata.");
  }
}

bool DICOMImage::monochrome1() const {
  return photometric_ == "MONOCHROME1" || photometric_ == "monochrome1";
}

void DICOMImage::extract(int section_support[2][2], uint16_t* pixels) {
  if (!sections_intersect(section_support, support)) return;
  const BandOrder order = nband == 1                   ? BandOrder::Grayscale
                          : planar_configuration_ == 1 ? BandOrder::RGB_BSQ
                                                       : BandOrder::RGB;
  extract_raw(section_support, pixels, 2, image_width, image_height, nband, pixel_offset_, order);
  if (!monochrome1()) return;
  // Only the samples read from the file are complemented; the rest keep the prefill.
  const int x0 = std::max(section_support[0][0], support[0][0]);
  const int x1 = std::min(section_support[0][1], support[0][1]);
  const int y0 = std::max(section_support[1][0], support[1][0]);
  const int y1 = std::min(section_support[1][1], support[1][1]);
  const int64_t width = static_cast<int64_t>(section_support[0][1]) - section_support[0][0] + 1;
  for (int y = y0; y <= y1; ++y) {
    uint16_t* row = pixels + (y - section_support[1][0]) * width - section_support[0][0];
    for (int x = x0; x <= x1; ++x) row[x] = static_cast<uint16_t>(~row[x]);
  }
}

void DICOMImage::extract(int section_support[2][2], unsigned char* pixels) {
  if (nband != 1) throw Quorvale::Exception("Internal error in DICOMImage::extract.");
  if (!sections_intersect(section_support, support)) return;
  const int64_t width = static_cast<int64_t>(section_support[0][1]) - section_support[0][0] + 1;
  const int64_t height = static_cast<int64_t>(section_support[1][1]) - section_support[1][0] + 1;
  std::vector<uint16_t> wide(width * height);
  extract(section_support, wide.data());
  const int x0 = std::max(section_support[0][0], support[0][0]);
  const int x1 = std::min(section_support[0][1], support[0][1]);
  const int y0 = std::max(section_support[1][0], support[1][0]);
  const int y1 = std::min(section_support[1][1], support[1][1]);
  for (int y = y0; y <= y1; ++y) {
    const int64_t row = (y - section_support[1][0]) * width - section_support[0][0];
    for (int x = x0; x <= x1; ++x) pixels[row + x] = static_cast<uint8_t>(wide[row + x] >> 8);
  }
}

void DICOMImage::print_parameters() {
  std::printf("***** %s *****\n\n", file_.path());
  std::printf("  image_width: %d\n", image_width);
  std::printf("  image_height: %d\n", image_height);
  std::printf("  nband: %d\n", nband);
  std::printf("  bits per sample: %d\n", bits_per_sample_);
  std::printf("  pixel representation: %s",
              pixel_representation_ == 1 ? "2's complement\n" : "unsigned integer\n");
  std::printf("  photometric interpretation: %s\n", photometric_.c_str());
  std::fflush(stdout);
}
