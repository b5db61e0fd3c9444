#include "image/tif_geo_image.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "image/geotiff_keys.h"
#include "image/tiff_directory.h"
#include "image/mosaic_compatibility.h"
#include "platform/error.h"

namespace {

constexpr uint16_t kModelPixelScale = 33550;
constexpr uint16_t kModelTiepoint = 33922;
constexpr uint16_t kModelTypeKey = 1024, kRasterTypeKey = 1025;
constexpr uint16_t kProjectedCSTypeKey = 3072, kPCSCitationKey = 3073;
// Looked up as a key although it is the number of the ResolutionUnit tag; conforming key
// directories never hold it, and then no unit records are made.
constexpr uint16_t kUnitsKey = 296;
constexpr uint16_t kRasterPixelIsArea = 1;

double double_at(const std::vector<uint8_t>& values, size_t index) {
  double v;
  std::memcpy(&v, values.data() + 8 * index, 8);
  return v;
}

bool first_short(const GeoKey* key, uint16_t* value) {
  if (!key || key->type != 3 || key->values.size() < 2) return false;
  std::memcpy(value, key->values.data(), 2);
  return true;
}

}  // namespace

int pixel_position(double coord, double scale, const std::string& file) {
  // A pixel centre over its size lies on a half pixel, so a size with noise in its last digits
  // (as GDAL's tools leave them) would drop a tile a whole pixel below a pixel edge it only
  // grazes: within 1e-6 pixel of an edge, the edge it is.
  const double exact = coord / scale + 0.5, edge = std::round(exact);
  double position = std::fabs(exact - edge) <= 1e-6 ? edge : std::trunc(exact);
  if (!std::isfinite(position) || std::fabs(position) > 1e9)
    throw Error(format_message(
        "Error: the georeferencing of %s does not give a usable pixel position.", file.c_str()));
  return static_cast<int>(position);
}

TIFGeoImage::TIFGeoImage(const Quorvale::FileSpecification& file, const uint8_t* no_data,
                         const uint8_t* transparent)
    : TIFFImage(file, 0, 0, no_data, transparent) {
  read_geotiff();
}

void TIFGeoImage::read_geotiff() {
  TiffDirectory dir(file_);
  std::vector<GeoKey> keys = parse_geo_keys(dir);
  key_count_ = static_cast<int>(keys.size());
  add_geo_key_records(&metadata, keys);
  read_scale(dir);
  add_key_lookups(keys);
  read_tie_point(dir);
  uint16_t raster_type = 0;
  // The tie point names the outer corner of a PixelIsArea raster; positions here are pixel
  // centres, as in world files.
  if (first_short(find_geo_key(keys, kRasterTypeKey), &raster_type) &&
      raster_type == kRasterPixelIsArea) {
    origin_x_ += x_scale_ * 0.5;
    origin_y_ -= y_scale_ * 0.5;
  }
  double origin[2] = {origin_x_, origin_y_};
  metadata_add_doubles(&metadata, "IMAGE::XY_ORIGIN", origin, 2);
  metadata_add_double(&metadata, "IMAGE::Z_ORIGIN", origin_z_);
  add_image_metadata();
}

void TIFGeoImage::read_scale(const TiffDirectory& dir) {
  const std::string& name = file_.str();
  const TiffDirectoryEntry* scale = dir.find(kModelPixelScale);
  if (!scale) throw Quorvale::Exception("Error: can't find GeoTIFF Pixel Scale in " + name + ".");
  if (scale->count != 3 || scale->type != 12)
    throw Error(format_message("Error: incompatible count for PixelScale field in %s.",
                               name.c_str()));
  x_scale_ = double_at(scale->values, 0);
  y_scale_ = double_at(scale->values, 1);
  z_scale_ = double_at(scale->values, 2);
  metadata_add_double(&metadata, "IMAGE::X_RESOLUTION", x_scale_);
  metadata_add_double(&metadata, "IMAGE::Y_RESOLUTION", y_scale_);
  metadata_add_double(&metadata, "IMAGE::Z_RESOLUTION", z_scale_);
}

void TIFGeoImage::add_key_lookups(const std::vector<GeoKey>& keys) {
  uint16_t value = 0;
  if (first_short(find_geo_key(keys, kModelTypeKey), &value))
    metadata_add_short(&metadata, "GEO::ModelTypeGeoKey", value);
  if (first_short(find_geo_key(keys, kProjectedCSTypeKey), &value))
    metadata_add_short(&metadata, "GEO::ProjectedCSTypeGeoKey", value);
  const GeoKey* citation = find_geo_key(keys, kPCSCitationKey);
  if (citation && citation->type == 2)
    metadata_add_ascii(&metadata, "GEO::PCSCitationGeoKey", citation->text.c_str());
  if (first_short(find_geo_key(keys, kUnitsKey), &value)) {
    metadata_add_short(&metadata, "IMAGE::HORIZONTAL_UNITS", value);
    metadata_add_short(&metadata, "IMAGE::VERTICAL_UNITS", value);
  }
}

void TIFGeoImage::read_tie_point(const TiffDirectory& dir) {
  const std::string& name = file_.str();
  const TiffDirectoryEntry* tie = dir.find(kModelTiepoint);
  if (!tie) throw Quorvale::Exception("Error: can't find GeoTIFF Tie Points in " + name + ".");
  if (tie->type != 12)
    throw Quorvale::Exception("Error: GeoTIFF image " + name + " tie points have bad data type.");
  if (tie->count != 6)
    throw Quorvale::Exception("Error: GeoTIFF Tie Points count mismatch in " + name + ".");
  const auto& v = tie->values;
  origin_x_ = double_at(v, 3) - x_scale_ * double_at(v, 0);
  origin_y_ = double_at(v, 4) + y_scale_ * double_at(v, 1);
  origin_z_ = double_at(v, 5) - z_scale_ * double_at(v, 2);
}

void TIFGeoImage::print_parameters() {
  print_tiff_parameters();
  std::printf("\n");
  std::printf("  Number of GTiff Keys: %d\n", key_count_);
  std::printf("  X-coordinate: %f\n", origin_x_);
  std::printf("  Y-coordinate: %f\n", origin_y_);
  std::printf("  X-scale: %f\n", x_scale_);
  std::printf("  Y-scale: %f\n", y_scale_);
  metadata_dump(&metadata);
  std::fflush(stdout);
}

void TIFGeoImage::add_metadata(MetadataList* list) {
  TIFFImage::add_metadata(list);
  for (int slot = 0; slot < static_cast<int>(metadata.slots.size()); ++slot) {
    const MetadataRecord& record = metadata.slots[slot];
    if (record.empty()) continue;
    if (record.key.rfind("GEOTIFF_NUM::", 0) == 0 || record.key.rfind("GEOTIFF_CHAR::", 0) == 0)
      metadata_copy(list, &metadata, record.key.c_str());
  }
}

void TIFGeoImage::place_by_georeference() {
  support[0][0] = pixel_position(origin_x_, x_scale_, file_.str());
  support[0][1] = support[0][0] + image_width - 1;
  support[1][0] = -pixel_position(origin_y_, y_scale_, file_.str());
  support[1][1] = support[1][0] + image_height - 1;
}

void TIFGeoImage::check_compatible(ImageFile& other) {
  TIFFImage::check_compatible(other);
  const char* mine = file_.path();
  const char* theirs = other.file().path();
  check_same_resolution(*this, other);
  auto* tiff = dynamic_cast<TIFFImage*>(&other);
  if (!tiff || tiff->bits_per_sample() != bits_per_sample())
    throw Error(format_message(
        "File incompatibility: files %s and %s have a different number of bits-per-sample.",
        mine, theirs));
  if (metadata_compatible(&metadata, &other.metadata) != 0)
    throw Error(format_message(
        "File incompatibility: files %s and %s have incompatable metadata.", mine, theirs));
}
