#include "image/tiff_image.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <type_traits>
#include <utility>
#include <cstdio>
#include <cstring>
#include <vector>

#include "image/nodata_text.h"
#include "image/tiff_directory.h"
#include "image/tiff_handle.h"
#include "image/tiff_sample_reader.h"
#include "platform/avx2_clones.h"
#include "platform/error.h"

namespace {

// Closes the file after a series of runs, also when one of them throws.
struct ReadSession {
  explicit ReadSession(TiffSampleReader& r) : reader(r) { reader.begin(); }
  ~ReadSession() { reader.end(); }
  TiffSampleReader& reader;
};

// A tile's nodata pixels leave what lies below them in a mosaic. A pixel is nodata when every
// sample of the file holds the value, as GDAL reads it: before a colour map or an inversion.
// A value the samples cannot hold marks none.
template <typename T>
class NodataPixels {
 public:
  explicit NodataPixels(const std::optional<double>& nodata) {
    active_ = nodata.has_value();
    if constexpr (!std::is_floating_point_v<T>)
      active_ = active_ && *nodata == std::round(*nodata) &&
                *nodata >= double(std::numeric_limits<T>::lowest()) &&
                *nodata <= double(std::numeric_limits<T>::max());
    if (active_) sample_ = static_cast<T>(*nodata);
  }
  bool active() const { return active_; }
  bool operator()(const T* px, uint32_t spp) const {
    for (uint32_t b = 0; b < spp; ++b) {
      if constexpr (std::is_floating_point_v<T>) {
        if (!(px[b] == sample_ || (std::isnan(px[b]) && std::isnan(sample_)))) return false;
      } else if (px[b] != sample_) {
        return false;
      }
    }
    return true;
  }

 private:
  bool active_ = false;
  T sample_{};
};

uint8_t round_clamp(double v) {
  int value = static_cast<int>(v + 0.5);
  return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

using Bytes16 = uint8_t __attribute__((vector_size(16)));

// Lane k of the result: byte 3 k + C of the 48 bytes a, b, d, through two two-input shuffles.
template <int C, size_t... K>
VEXAL_INLINE Bytes16 channel(Bytes16 a, Bytes16 b, Bytes16 d, std::index_sequence<K...>) {
  const Bytes16 from_ab = __builtin_shufflevector(a, b, (3 * K + C < 32 ? 3 * K + C : 0)...);
  return __builtin_shufflevector(from_ab, d, (3 * K + C < 32 ? K : 3 * K + C - 16)...);
}

// Interleaved RGB into three planes, 16 pixels at a time.
VEXAL_AVX2_CLONES void split_rgb(const uint8_t* px, uint32_t n, uint8_t* r, uint8_t* g,
                                 uint8_t* b) {
  uint32_t i = 0;
  for (; i + 16 <= n; i += 16, px += 48) {
    Bytes16 x, y, z;
    std::memcpy(&x, px, 16);
    std::memcpy(&y, px + 16, 16);
    std::memcpy(&z, px + 32, 16);
    constexpr auto lanes = std::make_index_sequence<16>();
    const Bytes16 planes[3] = {channel<0>(x, y, z, lanes), channel<1>(x, y, z, lanes),
                               channel<2>(x, y, z, lanes)};
    std::memcpy(r + i, &planes[0], 16);
    std::memcpy(g + i, &planes[1], 16);
    std::memcpy(b + i, &planes[2], 16);
  }
  for (; i < n; ++i, px += 3) r[i] = px[0], g[i] = px[1], b[i] = px[2];
}

}  // namespace

TIFFImage::TIFFImage(const Quorvale::FileSpecification& file, int x_origin, int y_origin,
                     const uint8_t* no_data, const uint8_t* transparent)
    : ImageFile(file, x_origin, y_origin, no_data, transparent) {
  read_directory();
  image_width = static_cast<int>(fields_.width);
  image_height = static_cast<int>(fields_.length);
  nband = fields_.nband;
  color_scheme = fields_.color_scheme;
  data_type = fields_.bits_per_sample == 32 ? kImageFloat
              : fields_.bits_per_sample == 16 ? kImage16Bit
                                              : kImage8Bit;
  signed_samples = fields_.sample_format == SAMPLEFORMAT_INT;
  separate_bands = fields_.separate_bands;
  if (const std::optional<std::string> text = read_gdal_nodata()) {
    source_nodata_ = nodata_sample(*text, data_type, signed_samples);
    if (!source_nodata_) unusable_nodata_ = text;
  }
  set_support_from_size();
  reader_ = std::make_unique<TiffSampleReader>(file_.str(), fields_);
  add_image_metadata();
  TIFFImage::add_metadata(&metadata);
  // Inputs accepted before nodata was honoured keep their output unless -nodata asks.
  if (data_type != kImage8Bit || separate_bands) use_nodata();
}

TIFFImage::~TIFFImage() = default;

void TIFFImage::read_directory() {
  TiffHandle tif(file_.str());
  if (!tif.get()) {
    // A file that opens but that libtiff refuses is not a TIFF: say so rather than that it
    // could not be opened.
    FILE* probe = file_.open("rb");
    if (!probe) throw OpenError(file_.str(), "read");
    std::fclose(probe);
    std::string reason = tif.error();
    if (reason.starts_with(file_.str() + ": ")) reason.erase(0, file_.str().size() + 2);
    throw Error(format_message("Error: %s is not a TIFF file%s%s%s.", file_.path(),
                               reason.empty() ? "" : " (", reason.c_str(), reason.empty() ? "" : ")"));
  }
  fields_ = read_tiff_fields(tif.get(), file_.str());
  add_resolution_records();
}

// GDAL's nodata tag: the value as text. A directory this small reader cannot parse means no
// nodata value, as for GDAL.
std::optional<std::string> TIFFImage::read_gdal_nodata() const {
  constexpr uint16_t kGdalNodata = 42113;
  try {
    TiffDirectory dir(file_);
    const TiffDirectoryEntry* e = dir.find(kGdalNodata);
    if (!e || e->type != 2 || e->values.empty()) return std::nullopt;
    std::string text(e->values.begin(), e->values.end());
    text.erase(std::find(text.begin(), text.end(), '\0'), text.end());
    return text;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

void TIFFImage::use_nodata() {
  if (unusable_nodata_) {
    // Said once, where the value would have been honoured.
    std::fprintf(stderr, "Warning: %s has a GDAL_NODATA of \"%.40s\", which no %s sample can "
                         "hold; it is ignored and the image has no nodata value.\n",
                 file_.path(), unusable_nodata_->c_str(),
                 sample_type_name(data_type, signed_samples).c_str());
    unusable_nodata_.reset();
  }
  Image::use_nodata();
}

// The TIFF resolution tags stand in for georeferencing; georeferenced subclasses replace
// these records with their own values.
void TIFFImage::add_resolution_records() {
  if (fields_.has_x_resolution)
    metadata_add_double(&metadata, "IMAGE::X_RESOLUTION", fields_.x_pixel_size);
  if (fields_.has_y_resolution)
    metadata_add_double(&metadata, "IMAGE::Y_RESOLUTION", fields_.y_pixel_size);
  // The vertical extent uses the x pixel size, as the system always has.
  double origin[2] = {0.0, double(fields_.length) * fields_.x_pixel_size};
  metadata_add_doubles(&metadata, "IMAGE::XY_ORIGIN", origin, 2);
}

void TIFFImage::print_tiff_parameters() {
  const TiffFields& f = fields_;
  std::printf("Filename: %s\n\n", file_.path());
  std::printf("  Bits-per-sample: %d\n", f.bits_per_sample);
  std::printf("  compression: %d\n", f.compression);
  std::printf("  Image width: %u\n", f.width);
  std::printf("  Image height: %u\n", f.length);
  std::printf("  Photometric: %d\n", f.photometric);
  std::printf("  Resolution_unit: %d\n", f.resolution_unit);
  std::printf("  Rows-per-strip: %u\n", f.rows_per_strip);
  std::printf("  Samples-per-pixel: %d\n", f.samples_per_pixel);
  std::printf("  X-resolution: %f\n", f.x_pixel_size);
  std::printf("  Y-resolution: %f\n", f.y_pixel_size);
  if (f.tiled) {
    std::printf("  Tile width: %d\n", f.tile_width);
    std::printf("  Tile height: %d\n", f.tile_length);
  }
}

void TIFFImage::print_parameters() {
  print_tiff_parameters();
  std::fflush(stdout);
}

const uint8_t* TIFFImage::lut() {
  return fields_.color_map.empty() ? nullptr : fields_.color_map.data();
}

void TIFFImage::add_metadata(MetadataList* list) {
  metadata_add_short(list, "IMAGE::BITS_PER_SAMPLE", fields_.bits_per_sample);
  if (signed_samples) metadata_add_short(list, "IMAGE::SAMPLE_FORMAT", SAMPLEFORMAT_INT);
  if (separate_bands) {
    std::string names;
    for (const std::string& c : fields_.band_colors) names += (names.empty() ? "" : ",") + c;
    metadata_add_ascii(list, "IMAGE::BAND_COLORS", names.c_str());
  }
}

void TIFFImage::check_compatible(ImageFile& other) {
  if (other.nband != nband)
    throw Error(format_message(
        "File incompatibility: files %s and %s have a different number of spectral bands.",
        file_.path(), other.file().path()));
  if (other.signed_samples != signed_samples || other.separate_bands != separate_bands)
    throw Error(format_message(
        "File incompatibility: files %s and %s have different kinds of samples or bands.",
        file_.path(), other.file().path()));
}

void TIFFImage::set_temp_directory(const Quorvale::FileSpecification* temp_dir) {
  reader_->set_temp_directory(temp_dir);
}

uint64_t TIFFImage::units_decoded() const { return reader_->units_decoded(); }

uint64_t TIFFImage::bytes_decoded() const { return reader_->bytes_decoded(); }

void TIFFImage::extract(int section_support[2][2], unsigned char* pixels) {
  std::optional<SectionOverlap> o = overlap(section_support);
  if (!o) return;
  const uint32_t spp = fields_.samples_per_pixel;
  std::vector<uint8_t> samples(uint64_t{o->n} * spp);
  std::vector<uint8_t> row_pixels(uint64_t{o->n} * nband);
  const NodataPixels<uint8_t> is_nodata(nodata);
  std::vector<uint8_t> skip(is_nodata.active() ? o->n : 0);
  // Samples that need no mapping are placed as they were read.
  const bool as_read = fields_.color_map.empty() && fields_.bits_per_sample != 1 &&
                       spp == uint32_t(nband) && fields_.photometric != PHOTOMETRIC_MINISWHITE;
  ReadSession session(*reader_);
  for (int y = o->y0; y <= o->y1; ++y) {
    reader_->read_run(static_cast<uint32_t>(y - o->top), o->col0, o->n, samples.data());
    for (uint32_t i = 0; i < skip.size(); ++i) skip[i] = is_nodata(&samples[uint64_t{i} * spp], spp);
    if (!as_read) normalise(samples.data(), o->n, row_pixels.data());
    place(as_read ? samples.data() : row_pixels.data(), o->n, pixels + o->at(y), o->plane,
          skip.empty() ? nullptr : skip.data());
  }
}

std::optional<TIFFImage::SectionOverlap> TIFFImage::overlap(const int section[2][2]) const {
  // A mosaic may hand over a support whose rows run upwards; the file's top row is the smaller.
  const int top = std::min(support[1][0], support[1][1]);
  const int bottom = std::max(support[1][0], support[1][1]);
  const int file_rect[2][2] = {{support[0][0], support[0][1]}, {top, bottom}};
  if (!sections_intersect(file_rect, section)) return std::nullopt;
  SectionOverlap o;
  o.top = top;
  o.x0 = std::max(file_rect[0][0], section[0][0]);
  o.col0 = static_cast<uint32_t>(o.x0 - file_rect[0][0]);
  o.n = static_cast<uint32_t>(std::min(file_rect[0][1], section[0][1]) - o.x0 + 1);
  o.y0 = std::max(top, section[1][0]);
  o.y1 = std::min(bottom, section[1][1]);
  o.section_x0 = section[0][0];
  o.section_y0 = section[1][0];
  o.out_width = int64_t{section[0][1]} - section[0][0] + 1;
  o.plane = o.out_width * (int64_t{section[1][1]} - section[1][0] + 1);
  return o;
}

void TIFFImage::extract(int section_support[2][2], uint16_t* pixels) {
  extract_samples(section_support, pixels);
}

void TIFFImage::extract(int section_support[2][2], int16_t* pixels) {
  extract_samples(section_support, pixels);
}

void TIFFImage::extract(int section_support[2][2], float* pixels) {
  extract_samples(section_support, pixels);
}

template <typename T>
void TIFFImage::extract_samples(int section_support[2][2], T* pixels) {
  if (fields_.bits_per_sample != 8 * sizeof(T))
    throw Error("Error: the TIFF reader was asked for samples of another size than its own.");
  std::optional<SectionOverlap> o = overlap(section_support);
  if (!o) return;
  const uint32_t n = o->n;
  const int64_t plane = o->plane;
  const uint32_t spp = fields_.samples_per_pixel;
  std::vector<T> samples(uint64_t{n} * spp);
  const bool invert = fields_.photometric == PHOTOMETRIC_MINISWHITE;
  const NodataPixels<T> is_nodata(nodata);
  ReadSession session(*reader_);
  for (int y = o->y0; y <= o->y1; ++y) {
    reader_->read_run(static_cast<uint32_t>(y - o->top), o->col0, n,
                      reinterpret_cast<uint8_t*>(samples.data()));
    T* out = pixels + o->at(y);
    for (uint32_t i = 0; i < n; ++i) {
      if (is_nodata.active() && is_nodata(&samples[uint64_t{i} * spp], spp)) continue;
      for (uint32_t b = 0; b < spp; ++b) {
        const T v = samples[uint64_t{i} * spp + b];
        // Only unsigned 16-bit samples may be min-is-white (the fields reader refuses others).
        out[i + b * plane] = invert ? static_cast<T>(65535 - v) : v;
      }
    }
  }
}

void TIFFImage::normalise(const uint8_t* samples, uint32_t n, uint8_t* pixels) const {
  const TiffFields& f = fields_;
  const uint32_t spp = f.samples_per_pixel;
  if (!f.color_map.empty()) {
    const uint8_t* map = f.color_map.data();
    for (uint32_t i = 0; i < n; ++i) {
      uint8_t index = samples[uint64_t{i} * spp];
      if (nband == 1) {
        pixels[i] = map[index];
      } else {
        pixels[3 * uint64_t{i}] = map[index];
        pixels[3 * uint64_t{i} + 1] = map[256 + index];
        pixels[3 * uint64_t{i} + 2] = map[512 + index];
      }
    }
    return;
  }
  uint64_t count = uint64_t{n} * spp;
  if (f.bits_per_sample == 1) {
    uint8_t set = f.photometric == PHOTOMETRIC_MINISBLACK ? 255 : 0;
    for (uint64_t k = 0; k < count; ++k) pixels[k] = samples[k] ? set : 255 - set;
  } else if (f.photometric == PHOTOMETRIC_MINISWHITE) {
    for (uint64_t k = 0; k < count; ++k) pixels[k] = 255 - samples[k];
  } else {
    std::memcpy(pixels, samples, count);
  }
}

// Writes one row of pixels into the band planes; pixels equal to the transparent colour, and
// the pixels that `skip` marks (nodata), are left as they are, so that a file laid over another
// shows the one below.
void TIFFImage::place(const uint8_t* px, uint32_t n, uint8_t* out, int64_t plane,
                      const uint8_t* skip) const {
  const uint8_t* t = has_transparent_ ? transparent_ : nullptr;
  if (nband == 1) {
    for (uint32_t i = 0; i < n; ++i)
      if ((!t || px[i] != t[0]) && !(skip && skip[i])) out[i] = px[i];
  } else if (nband == 3 && !t && !skip) {
    split_rgb(px, n, out, out + plane, out + 2 * plane);
  } else if (nband == 3) {
    for (uint32_t i = 0; i < n; ++i, px += 3) {
      if (t && px[0] == t[0] && px[1] == t[1] && px[2] == t[2]) continue;
      if (skip && skip[i]) continue;
      out[i] = px[0];
      out[i + plane] = px[1];
      out[i + 2 * plane] = px[2];
    }
  } else if (separate_bands) {
    for (uint32_t i = 0; i < n; ++i, px += nband)
      if (!(skip && skip[i]))
        for (int b = 0; b < nband; ++b) out[i + b * plane] = px[b];
  } else {
    for (uint32_t i = 0; i < n; ++i, px += 4) {
      if (skip && skip[i]) continue;
      int c = px[0], m = px[1], y = px[2], k = px[3];
      out[i] = 255 - round_clamp((c + k) / 2.0);
      out[i + plane] = 255 - round_clamp((m + k) / 2.0);
      out[i + 2 * plane] = 255 - round_clamp((y + k) / 2.0);
      out[i + 3 * plane] = static_cast<uint8_t>(std::min({c, m, y}));
    }
  }
}
