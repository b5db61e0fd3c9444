#include "image/image.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <type_traits>
#include <cstring>
#include <limits>

#include "platform/error.h"

namespace {

constexpr const char* kNoFloatExtract =
    "Error: floating point extraction not supported for input file type.";
constexpr const char* kUnknownDataType =
    "Error: unknown data type in Image::extract( int section_support[2][2] ).";

// malloc'd buffer of `count` samples of `size` bytes, zeroed unless the caller fills it all;
// PixelData frees it with free().
void* allocate_samples(int64_t count, size_t size, bool zeroed) {
  if (count <= 0 || static_cast<uint64_t>(count) > std::numeric_limits<size_t>::max() / size)
    throw Error("Memory allocation error.");
  void* p = zeroed ? std::calloc(static_cast<size_t>(count), size)
                   : std::malloc(static_cast<size_t>(count) * size);
  if (!p) throw Error("Memory allocation error.");
  return p;
}

}  // namespace

// Areas no file covers (a mosaic's gaps) hold the nodata value when there is one, else 0 (8-bit
// images without one: the background colour).
template <typename T>
void Image::fill_uncovered(T* buffer, int64_t count) const {
  if (!nodata) return;
  double v = *nodata;
  if constexpr (!std::is_floating_point_v<T>)
    v = std::isnan(v) ? 0.0
                      : std::clamp(std::round(v), double(std::numeric_limits<T>::lowest()),
                                   double(std::numeric_limits<T>::max()));
  std::fill(buffer, buffer + count, static_cast<T>(v));
}

bool sections_intersect(const int a[2][2], const int b[2][2]) {
  return a[0][1] >= b[0][0] && b[0][1] >= a[0][0] && a[1][1] >= b[1][0] && b[1][1] >= a[1][0];
}

Image::Image() { metadata_init(&metadata); }

Image::~Image() { metadata_destroy(&metadata); }

void Image::extract(int[2][2], uint16_t*) { throw Error(kNoFloatExtract); }

void Image::extract(int[2][2], float*) { throw Error(kNoFloatExtract); }

void Image::extract(int[2][2], int16_t*) { throw Error(kNoFloatExtract); }

int Image::coded_bands() const {
  return nband == 4 && color_scheme != kSchemeCMYK && !separate_bands ? 3 : nband;
}

std::unique_ptr<PixelData> Image::extract(int section_support[2][2]) {
  const int w = section_support[0][1] - section_support[0][0] + 1;
  const int h = section_support[1][1] - section_support[1][0] + 1;
  if (data_type != kImage8Bit && data_type != kImage16Bit && data_type != kImageFloat)
    throw Error(kUnknownDataType);
  if (w <= 0 || h <= 0 || nband <= 0) throw Error("Memory allocation error.");
  const int64_t plane = int64_t{w} * h;
  const int64_t total = plane * nband;
  const int structure = separate_bands ? PixelData::kSeparateBands
                        : nband != 1   ? PixelData::kMultiBand
                                       : PixelData::kSingleBand;
  const int c = coded_bands();
  if (data_type == kImage8Bit) {
    // The fill below covers every plane but a fourth one's.
    auto* buffer = static_cast<uint8_t*>(allocate_samples(total, 1, !nodata && nband > 3));
    std::unique_ptr<PixelData> block(new PixelData(buffer, w, h, structure, c));
    const uint8_t* fill = no_data_value();
    if (nodata)
      fill_uncovered(buffer, total);
    else
      for (int k = 0; k < std::min(nband, 3); ++k)
        std::memset(buffer + k * plane, fill ? fill[k] : 0, static_cast<size_t>(plane));
    extract(section_support, buffer);
    return block;
  }
  if (data_type == kImage16Bit && signed_samples) {
    auto* buffer = static_cast<int16_t*>(allocate_samples(total, sizeof(int16_t), !nodata));
    std::unique_ptr<PixelData> block(new PixelData(buffer, w, h, structure, c));
    fill_uncovered(buffer, total);
    extract(section_support, buffer);
    return block;
  }
  if (data_type == kImage16Bit) {
    auto* buffer = static_cast<uint16_t*>(allocate_samples(total, sizeof(uint16_t), !nodata));
    std::unique_ptr<PixelData> block(new PixelData(buffer, w, h, structure, c));
    fill_uncovered(buffer, total);
    extract(section_support, buffer);
    return block;
  }
  auto* buffer = static_cast<float*>(allocate_samples(total, sizeof(float), !nodata));
  std::unique_ptr<PixelData> block(new PixelData(buffer, w, h, structure, c));
  fill_uncovered(buffer, total);
  extract(section_support, buffer);
  return block;
}

void Image::use_nodata() {
  nodata = source_nodata();
  if (nodata) metadata_add_double(&metadata, "IMAGE::NODATA", *nodata);
}

void Image::write_world_file(const Quorvale::FileSpecification& output) {
  if (!is_georeferenced()) return;
  Quorvale::FileSpecification world(output);
  world.set_extension("vxw");
  FILE* f = world.open("w");
  if (!f) throw WriteError(world.str());
  const double lines[6] = {xscale(), 0.0, 0.0, yscale(), xcoord(), ycoord()};
  bool ok = true;
  for (double v : lines) ok = std::fprintf(f, "%30.15lf\n", v) > 0 && ok;
  if (std::fclose(f) != 0 || !ok) throw WriteError(world.str());
}

ImageFile::ImageFile(const Quorvale::FileSpecification& file, int x_origin, int y_origin,
                     const uint8_t* no_data, const uint8_t* transparent)
    : file_(file), x_origin_(x_origin), y_origin_(y_origin) {
  if (no_data) std::memcpy(no_data_, no_data, 3);
  if (transparent) {
    std::memcpy(transparent_, transparent, 3);
    has_transparent_ = true;
  }
  set_support_from_size();
}

ImageFile::~ImageFile() = default;

void ImageFile::set_support_from_size() {
  // A tile's origin (up to 10^9) plus a claimed size near 2^31 would pass int's range.
  const int64_t x1 = int64_t{x_origin_} + image_width - 1, y1 = int64_t{y_origin_} + image_height - 1;
  if (x1 > INT_MAX || y1 > INT_MAX)
    throw Error(format_message("Error: the image %s of %d x %d pixels at %d, %d lies beyond the "
                               "largest image size.",
                               file_.path(), image_width, image_height, x_origin_, y_origin_));
  support[0][0] = x_origin_;
  support[0][1] = int(x1);
  support[1][0] = y_origin_;
  support[1][1] = int(y1);
}

double ImageFile::file_size() {
  FILE* f = file_.open("rb");
  if (!f) throw OpenError(file_.str(), "rb");
  const int rc = fseeko(f, 0, SEEK_END);
  const off_t size = rc == 0 ? ftello(f) : -1;
  std::fclose(f);
  if (size < 0) throw ReadError(file_.str());
  return static_cast<double>(size);
}

double ImageFile::xcoord() { throw Error("xcoord function not defined for this image class."); }
double ImageFile::ycoord() { throw Error("ycoord function not defined for this image class."); }
double ImageFile::xscale() { throw Error("xscale function not defined for this image class."); }
double ImageFile::yscale() { throw Error("yscale function not defined for this image class."); }

void ImageFile::add_image_metadata() {
  MetadataList* m = &metadata;
  metadata_add_long(m, "IMAGE::WIDTH", image_width);
  metadata_add_long(m, "IMAGE::HEIGHT", image_height);
  metadata_add_ascii(m, "IMAGE::INPUT_NAME", file_.path());
  metadata_add_double(m, "IMAGE::INPUT_FILE_SIZE", file_size());
  metadata_add_bytes(m, "IMAGE::NO_DATA_VALUE", no_data_value(), 3);
  if (const uint8_t* t = transparent_value()) metadata_add_bytes(m, "IMAGE::TRANSPARENT_DATA_VALUE", t, 3);
  if (is_georeferenced()) {
    const double origin[2] = {xcoord(), ycoord()};
    metadata_add_doubles(m, "IMAGE::XY_ORIGIN", origin, 2);
    metadata_add_double(m, "IMAGE::X_RESOLUTION", xscale());
    metadata_add_double(m, "IMAGE::Y_RESOLUTION", -yscale());
  }
  if (lut_size() > 0 && lut()) metadata_add_lut(m, lut(), lut_size());
  metadata_add_long(m, "IMAGE::COLOR_SCHEME", color_scheme);
  metadata_add_long(m, "IMAGE::DATA_TYPE", data_type);
}
