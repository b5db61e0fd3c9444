#include "image/rfi_image.h"

#include <climits>
#include <memory>

#include "platform/error.h"

namespace {

int32_t little_endian_int(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                              uint32_t{p[3]} << 24);
}

// 12 + 4 x width x height x bands, or -1 when the header cannot describe a real raster.
int64_t expected_size(int32_t width, int32_t height, int32_t bands) {
  if (width <= 0 || height <= 0 || bands <= 0) return -1;
  const int64_t pixels = int64_t{width} * height;
  if (pixels > (INT64_MAX - RFIImage::kHeaderBytes) / 4 / bands) return -1;
  return RFIImage::kHeaderBytes + 4 * pixels * bands;
}

}  // namespace

RFIImage::RFIImage(const Quorvale::FileSpecification& file, int x_origin, int y_origin)
    : ImageFile(file, x_origin, y_origin) {
  uint8_t header[kHeaderBytes];
  {
    std::unique_ptr<FILE, int (*)(FILE*)> f(file.open("rb"), &std::fclose);
    if (!f) throw OpenError(file.str(), "read");
    if (std::fread(header, 1, sizeof header, f.get()) != sizeof header) throw ReadError(file.str());
  }
  const int32_t width = little_endian_int(header);
  const int32_t height = little_endian_int(header + 4);
  const int32_t bands = little_endian_int(header + 8);
  const int64_t size = expected_size(width, height, bands);
  if (size < 0 || static_cast<double>(size) != file_size() ||
      int64_t{x_origin} + width - 1 > INT_MAX || int64_t{y_origin} + height - 1 > INT_MAX)
    throw Error("Error: invalid RFI Image.");
  image_width = width;
  image_height = height;
  nband = bands;
  data_type = kImageFloat;
  color_scheme = bands == 1 ? kSchemeGray : bands == 3 ? kSchemeRGB
               : bands == 4 ? kSchemeCMYK : kSchemeUnknown;
  set_support_from_size();
  add_image_metadata();
}

void RFIImage::print_parameters() {
  std::printf("***** %s *****\n\n", file_.path());
  std::printf("  image_width: %d\n", image_width);
  std::printf("  image_height: %d\n", image_height);
  std::printf("  nband: %d\n", nband);
  std::fflush(stdout);
}

void RFIImage::extract(int section_support[2][2], float* pixels) {
  if (!sections_intersect(support, section_support)) return;
  if (separate_bands) {
    // Any number of bands, one band-sequential plane at a time.
    const int64_t out_plane = (int64_t{section_support[0][1]} - section_support[0][0] + 1) *
                              (int64_t{section_support[1][1]} - section_support[1][0] + 1);
    const int64_t file_plane = int64_t{image_width} * image_height * 4;
    for (int b = 0; b < nband; ++b)
      extract_raw(section_support, pixels + b * out_plane, 4, image_width, image_height, 1,
                  kHeaderBytes + b * file_plane, BandOrder::Grayscale);
    return;
  }
  BandOrder order;
  switch (nband) {
    case 1: order = BandOrder::Grayscale; break;
    case 3: order = BandOrder::RGB_BSQ; break;
    case 4: order = BandOrder::CMYK_BSQ; break;
    default: throw Error(format_message("Error: cannot process %d spectral band RFI files.", nband));
  }
  extract_raw(section_support, pixels, 4, image_width, image_height, nband, kHeaderBytes, order);
}

void RFIImage::extract(int[2][2], unsigned char*) {
  throw Error(
      "void RFIImage::extract( int section_support[2][2], unsigned char *pixels ) not supported.");
}
