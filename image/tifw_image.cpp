#include "image/tifw_image.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "image/tif_geo_image.h"
#include "image/mosaic_compatibility.h"
#include "platform/error.h"

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

// Reads up to `wanted` numbers. White space separates them; a comma right after a number is
// tolerated too, as some writers end each line with one.
std::vector<double> read_numbers(FILE* stream, size_t wanted) {
  std::vector<double> numbers;
  char token[256];
  while (numbers.size() < wanted && std::fscanf(stream, "%255s", token) == 1) {
    char* end = nullptr;
    double value = std::strtod(token, &end);
    if (end == token || (*end != '\0' && !(end[0] == ',' && end[1] == '\0'))) break;
    numbers.push_back(value);
  }
  return numbers;
}

}  // namespace

TIFWImage::TIFWImage(const Quorvale::FileSpecification& file, const uint8_t* no_data,
                     const uint8_t* transparent)
    : TIFFImage(file, 0, 0, no_data, transparent) {
  std::fflush(stdout);
  read_world_file();
  add_image_metadata();
}

void TIFWImage::read_world_file() {
  Quorvale::FileSpecification world = file_;
  world.set_extension("tifw");
  std::unique_ptr<FILE, FileCloser> stream(world.open("r"));
  if (!stream) {
    world.set_extension("tfw");
    stream.reset(world.open("r"));
  }
  if (!stream)
    throw Error(format_message("Error: can't find a TIFF world file for %s.", file_.path()));
  std::vector<double> v = read_numbers(stream.get(), 6);
  if (v.size() < 6) throw ReadError(world.str());
  x_scale_ = v[0];
  rotation_1_ = v[1];
  rotation_2_ = v[2];
  y_scale_ = v[3];
  x_coord_ = v[4];
  y_coord_ = v[5];
}

void TIFWImage::print_parameters() {
  print_tiff_parameters();
  std::printf("\n");
  std::printf("  World file parameters:\n");
  std::printf("    rotation_1: %f\n", rotation_1_);
  std::printf("    rotation_2: %f\n", rotation_2_);
  std::printf("    x_coord: %f\n", x_coord_);
  std::printf("    y_coord: %f\n", y_coord_);
  std::printf("    x_scale: %f\n", x_scale_);
  std::printf("    y_scale: %f\n", y_scale_);
  std::fflush(stdout);
}

void TIFWImage::place_by_georeference() {
  support[0][0] = pixel_position(x_coord_, x_scale_, file_.str());
  support[0][1] = support[0][0] + image_width - 1;
  support[1][0] = -pixel_position(y_coord_, y_scale_, file_.str());
  support[1][1] = support[1][0] - image_height + 1;
}

void TIFWImage::check_compatible(ImageFile& other) {
  TIFFImage::check_compatible(other);
  const char* mine = file_.path();
  const char* theirs = other.file().path();
  check_same_resolution(*this, other);
  auto* tiff = dynamic_cast<TIFFImage*>(&other);
  if (!tiff || tiff->bits_per_sample() != bits_per_sample())
    throw Error(format_message(
        "File incompatibility: files %s and %s have a different number of bits-per-sample.",
        mine, theirs));
}
