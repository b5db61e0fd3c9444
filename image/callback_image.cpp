#include "image/callback_image.h"

#include <cstdio>

#include "platform/error.h"

namespace {

bool names_are(const std::vector<std::string>& names, std::initializer_list<const char*> wanted) {
  if (names.size() != wanted.size()) return false;
  size_t k = 0;
  for (const char* w : wanted)
    if (names[k++] != w) return false;
  return true;
}

}  // namespace

CallbackImage::CallbackImage(CallbackImageDescription description)
    : description_(std::move(description)) {
  const CallbackImageDescription& d = description_;
  const char* name = d.name.c_str();
  if (d.width < 1 || d.height < 1)
    throw Error(format_message("Error: %s has no pixels (%d x %d).", name, d.width, d.height));
  if (d.bands < 1 || d.bands > kMaxBands)
    throw Error(format_message("Error: %s has %d bands; 1 to %d can be coded.", name, d.bands,
                               kMaxBands));
  if (!d.band_colors.empty() && int(d.band_colors.size()) != d.bands)
    throw Error(format_message("Error: %s names the colours of %zu bands but has %d.", name,
                               d.band_colors.size(), d.bands));
  if (!d.fill) throw Error(format_message("Error: %s has no function to read its pixels.", name));
  image_width = d.width;
  image_height = d.height;
  nband = d.bands;
  data_type = d.data_type;
  signed_samples = d.signed_samples;
  sample_bytes_ = data_type == kImage8Bit ? 1 : data_type == kImage16Bit ? 2 : 4;
  set_bands();
  add_records();
  if (d.nodata) use_nodata();
}

// Grey, RGB and CMYK are coded as colours of one pixel; any other layout band by band.
void CallbackImage::set_bands() {
  const std::vector<std::string>& names = description_.band_colors;
  if (nband == 1) {
    color_scheme = kSchemeGray;
  } else if (nband == 3 && (names.empty() || names_are(names, {"Red", "Green", "Blue"}))) {
    color_scheme = kSchemeRGB;
  } else if (nband == 4 && names_are(names, {"Cyan", "Magenta", "Yellow", "Black"})) {
    color_scheme = kSchemeCMYK;
  } else {
    separate_bands = true;
  }
}

void CallbackImage::add_records() {
  MetadataList* m = &metadata;
  const CallbackImageDescription& d = description_;
  metadata_add_long(m, "IMAGE::WIDTH", image_width);
  metadata_add_long(m, "IMAGE::HEIGHT", image_height);
  metadata_add_ascii(m, "IMAGE::INPUT_NAME", d.name.c_str());
  metadata_add_double(m, "IMAGE::INPUT_FILE_SIZE", file_size());
  if (d.georeference) {
    const CallbackGeoreference& g = *d.georeference;
    add_geo_key_records(m, g.keys);
    const double origin[2] = {g.x_centre, g.y_centre};
    metadata_add_doubles(m, "IMAGE::XY_ORIGIN", origin, 2);
    metadata_add_double(m, "IMAGE::X_RESOLUTION", g.x_size);
    metadata_add_double(m, "IMAGE::Y_RESOLUTION", g.y_size);
  }
  metadata_add_long(m, "IMAGE::COLOR_SCHEME", color_scheme);
  metadata_add_long(m, "IMAGE::DATA_TYPE", data_type);
  metadata_add_short(m, "IMAGE::BITS_PER_SAMPLE", uint16_t(8 * sample_bytes_));
  if (signed_samples) metadata_add_short(m, "IMAGE::SAMPLE_FORMAT", 2);  // TIFF's INT
  if (separate_bands) {
    std::string names;
    for (int b = 0; b < nband; ++b)
      names += (b ? "," : "") + (d.band_colors.empty() ? std::string("Undefined") : d.band_colors[size_t(b)]);
    metadata_add_ascii(m, "IMAGE::BAND_COLORS", names.c_str());
  }
}

double CallbackImage::file_size() {
  return double(image_width) * double(image_height) * nband * sample_bytes_;
}

void CallbackImage::fill(const int section[2][2], void* pixels) {
  if (section[0][0] < 0 || section[1][0] < 0 || section[0][1] >= image_width ||
      section[1][1] >= image_height || section[0][0] > section[0][1] ||
      section[1][0] > section[1][1])
    throw Error(format_message("Error: section %d %d %d %d lies outside %s.", section[0][0],
                               section[1][0], section[0][1], section[1][1],
                               description_.name.c_str()));
  description_.fill(section, pixels);
}

void CallbackImage::print_parameters() {
  std::printf("Source: %s\n\n  Image width: %d\n  Image height: %d\n  Bands: %d\n",
              description_.name.c_str(), image_width, image_height, nband);
  std::fflush(stdout);
}
