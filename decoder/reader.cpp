// The public reading library over the decoder: a VxlFile, a record cache, and the file's
// description turned into the public types once at opening.
#include "vexal/reader.h"

#include <exception>

#include "codec/level_geometry.h"
#include "decoder/byte_sources.h"
#include "decoder/decoded_image.h"
#include "decoder/geokeys.h"
#include "decoder/metadata_text.h"
#include "decoder/reader_access.h"
#include "decoder/region_decoder.h"
#include "decoder/tiff_output.h"
#include "platform/error.h"

namespace vexal {

namespace {

// The decoder's failures (and allocation failures) as the library's one exception type.
template <typename F>
auto translated(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const vexal::Error&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw vexal::Error("Out of memory.");
  } catch (const std::exception& e) {
    throw vexal::Error(e.what());
  }
}

SampleType sample_type_of(int data_type) {
  switch (data_type) {
    case 1: return SampleType::kFloat32;
    case 2: return SampleType::kUInt16;
    default: return SampleType::kUInt8;  // as the decoder writes any other code
  }
}

ColorScheme color_scheme_of(int code, int bands) {
  if (code == 3 && bands == 1) return ColorScheme::kGray;
  if (code == 0 && bands == 3) return ColorScheme::kRGB;
  if (code == 2 && bands == 4) return ColorScheme::kCMYK;
  return ColorScheme::kUnknown;
}

MetadataRecord public_record(const ::MetadataRecord& r) {
  MetadataRecord out;
  out.key = r.key;
  for (int k = 0; k < r.count; ++k) {
    const std::string text = metadata_value_text(r, k);
    if (r.type == TYPE_ASCII) out.texts.push_back(text);
    else out.numbers.push_back(metadata_number(r, k));
    out.value += (k ? ", " : "") + text;
  }
  return out;
}

}  // namespace

const VxlFile& ReaderAccess::file(const Reader& reader) { return reader.impl_->file; }

std::size_t sample_size(SampleType type) {
  switch (type) {
    case SampleType::kUInt8: return 1;
    case SampleType::kUInt16: return 2;
    case SampleType::kInt16: return 2;
    case SampleType::kFloat32: return 4;
  }
  return 1;
}

Reader::Reader(const std::string& path)
    : Reader(translated([&] { return open_local_file(path); }), path) {}

Reader::Reader(std::shared_ptr<ByteSource> source, const std::string& name) {
  if (!source) throw Error(name + ": no byte source given.");
  translated([&] {
    impl_ = std::make_unique<Impl>(std::move(source), name);
    const MetadataList& list = impl_->file.metadata();
    impl_->sample_type = signed_samples(list)
                             ? SampleType::kInt16
                             : sample_type_of(metadata_long(list, "IMAGE::DATA_TYPE", 0));
    impl_->color_scheme =
        color_scheme_of(metadata_long(list, "IMAGE::COLOR_SCHEME", -1), impl_->file.bands());
    impl_->band_colors = band_colors_of(list);
    // A record naming fewer bands than the file has leaves the rest without a known meaning.
    if (!impl_->band_colors.empty())
      impl_->band_colors.resize(size_t(impl_->file.bands()), "Undefined");
    impl_->nodata = nodata_of(list);
    if (const auto& recorded = impl_->file.statistics()) {
      impl_->statistics.emplace();
      for (const ::BandStatistics& s : *recorded)
        impl_->statistics->push_back(
            BandStatistics{s.minimum, s.maximum, s.mean, s.stddev, s.valid_percent});
    }
    Georeference g;
    if (georeference_for(list, 0, Window{0, 0, 0, 0}, g)) {
      Georeferencing geo;
      geo.origin_x = g.x_origin;
      geo.origin_y = g.y_origin;
      geo.pixel_width = g.x_scale;
      geo.pixel_height = g.y_scale;
      const std::vector<GeoKeyValue> keys = geokeys_of(list);
      geo.epsg = epsg_of(keys);
      // Only the raster-type key that geokeys_of always adds: the source had no keys.
      if (keys.size() > 1)
        for (const GeoKeyValue& k : keys) geo.keys.push_back(GeoKey{k.id, k.numbers, k.text});
      impl_->georeferencing = std::move(geo);
    }
    for (const ::MetadataRecord& r : list.slots)
      if (!r.empty()) impl_->metadata.push_back(public_record(r));
  });
}

Reader::~Reader() = default;
Reader::Reader(Reader&& other) noexcept = default;
Reader& Reader::operator=(Reader&& other) noexcept = default;

const std::string& Reader::path() const { return impl_->file.name(); }
int Reader::width() const { return impl_->file.width(); }
int Reader::height() const { return impl_->file.height(); }
int Reader::bands() const { return impl_->file.bands(); }
SampleType Reader::sample_type() const { return impl_->sample_type; }
ColorScheme Reader::color_scheme() const { return impl_->color_scheme; }
const std::vector<std::string>& Reader::band_colors() const { return impl_->band_colors; }
std::optional<double> Reader::nodata() const { return impl_->nodata; }
const std::optional<std::vector<BandStatistics>>& Reader::statistics() const {
  return impl_->statistics;
}
const std::optional<std::vector<Histogram>>& Reader::histograms() const {
  return impl_->file.histograms();
}
int Reader::levels() const { return impl_->file.levels(); }

int Reader::level_width(int level) const {
  if (level < 0 || level > levels()) return 0;
  return reduced_size(width(), level);
}

int Reader::level_height(int level) const {
  if (level < 0 || level > levels()) return 0;
  return reduced_size(height(), level);
}

const std::optional<Georeferencing>& Reader::georeferencing() const {
  return impl_->georeferencing;
}

std::vector<std::uint8_t> Reader::georeferencing_as_geotiff() const {
  const std::optional<Georeferencing>& g = impl_->georeferencing;
  if (!g) return {};
  return translated([&] {
    return geotiff_in_memory(g->origin_x, g->origin_y, g->pixel_width, g->pixel_height,
                             geokeys_of(impl_->file.metadata()));
  });
}

const std::vector<MetadataRecord>& Reader::metadata() const { return impl_->metadata; }

const MetadataRecord* Reader::find_metadata(const std::string& key) const {
  for (const MetadataRecord& r : impl_->metadata)
    if (r.key == key) return &r;
  return nullptr;
}

void Reader::read(int level, int x0, int y0, int x1, int y1, void* buffer) {
  read(level, x0, y0, x1, y1, buffer,
       x1 < x0 || y1 < y0 ? 0 : std::size_t(x1 - x0 + 1) * std::size_t(y1 - y0 + 1));
}

void Reader::read(int level, int x0, int y0, int x1, int y1, void* buffer,
                  std::size_t band_stride) {
  if (level < 0 || level > levels())
    throw Error(format_message("%s: level %d is outside 0..%d.", path().c_str(), level, levels()));
  const int w = level_width(level), h = level_height(level);
  if (x1 < x0 || y1 < y0)
    throw Error(format_message("%s: window %d %d %d %d is empty (it ends before it begins).",
                               path().c_str(), x0, y0, x1, y1));
  if (x0 < 0 || y0 < 0 || x1 >= w || y1 >= h)
    throw Error(format_message("%s: window %d %d %d %d is not inside the %d x %d image of level %d.",
                               path().c_str(), x0, y0, x1, y1, w, h, level));
  if (buffer == nullptr)
    throw Error(format_message("%s: no buffer to decode window %d %d %d %d into.", path().c_str(),
                               x0, y0, x1, y1));
  if (band_stride < std::size_t(x1 - x0 + 1) * std::size_t(y1 - y0 + 1))
    throw Error(format_message("%s: bands %zu samples apart overlap in window %d %d %d %d.",
                               path().c_str(), band_stride, x0, y0, x1, y1));
  // The decoder holds every band of the window as floats: beyond a terabyte no machine can.
  const double gib = double(x1 - x0 + 1) * double(y1 - y0 + 1) * bands() * 4 / (1 << 30);
  if (gib > 1024)
    throw Error(format_message("%s: window %d %d %d %d of level %d is too large to decode at once "
                               "(%.0f GiB): read it in pieces.",
                               path().c_str(), x0, y0, x1, y1, level, gib));
  std::lock_guard<std::mutex> turn(impl_->turns);
  translated([&] {
    try {
      decode_samples(impl_->file, level, Window{x0, y0, x1, y1}, &impl_->cache, buffer,
                     band_stride);
    } catch (const std::bad_alloc&) {
      throw Error(format_message("%s: not enough memory to decode window %d %d %d %d of level %d "
                                 "(%.1f GiB).", path().c_str(), x0, y0, x1, y1, level, gib));
    }
  });
}

void set_read_threads(int threads) { set_region_decoder_threads(threads); }

void Reader::set_cache_limit(std::size_t bytes) {
  std::lock_guard<std::mutex> turn(impl_->turns);
  impl_->cache.set_limit(bytes);
}

}  // namespace vexal
