// The public encoding API over the encoder: a caller's pixel source becomes a CallbackImage and
// goes through the same steps as vexal_encode's inputs.
#include <atomic>
#include <cmath>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>

#include "encoder/driver/encode_steps.h"
#include "image/callback_image.h"
#include "image/epsg_system.h"
#include "image/geotiff_keys.h"
#include "image/tiff_directory.h"
#include "platform/error.h"
#include "platform/temp_file.h"
#include "vexal/writer.h"

namespace vexal {

namespace {

constexpr uint16_t kTiffAscii = 2, kTiffShort = 3, kTiffDouble = 12;
constexpr uint16_t kModelPixelScale = 33550, kModelTiepoint = 33922;
constexpr int kModelTypeKey = 1024, kRasterTypeKey = 1025, kGeographicTypeKey = 2048,
              kProjectedTypeKey = 3072;
constexpr int kPixelIsArea = 1, kPixelIsPoint = 2;

// The library's messages name the file first; the encoder's own start with "Error: ".
[[noreturn]] void rethrow_for(const std::string& path) {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    throw vexal::Error(path + ": out of memory.");
  } catch (const std::exception& e) {
    std::string message = e.what();
    if (message.starts_with("Error: ")) message.erase(0, 7);
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    if (message.find(path) == std::string::npos) message = path + ": " + message;
    throw vexal::Error(message);
  } catch (...) {
    throw vexal::Error(path + ": the encoding failed.");
  }
}

// GeoTIFF's keys of DOUBLE values; every other numeric key holds one SHORT.
bool is_double_key(int id) {
  return id == 2053 || id == 2055 || id == 2057 || id == 2058 || id == 2059 || id == 2061 ||
         id == 2062 || (id >= 3077 && id <= 3096);
}

::GeoKey internal_key(const vexal::GeoKey& k) {
  ::GeoKey key;
  key.id = uint16_t(k.id);
  if (k.numbers.empty()) {
    key.type = kTiffAscii;
    key.text = k.text;
    key.count = uint32_t(k.text.size() + 1);
    return key;
  }
  const double first = k.numbers[0];
  const bool one_short = !is_double_key(k.id) && k.numbers.size() == 1 && first >= 0 &&
                         first <= 65535 && std::trunc(first) == first;
  key.count = uint32_t(k.numbers.size());
  if (one_short) {
    key.type = kTiffShort;
    const uint16_t v = uint16_t(first);
    key.values.resize(2);
    std::memcpy(key.values.data(), &v, 2);
  } else {
    key.type = kTiffDouble;
    key.values.resize(8 * k.numbers.size());
    std::memcpy(key.values.data(), k.numbers.data(), key.values.size());
  }
  return key;
}

vexal::GeoKey short_key(int id, int value) { return vexal::GeoKey{id, {double(value)}, {}}; }

// The keys of an EPSG code given without keys.
std::vector<vexal::GeoKey> keys_for_epsg(int code) {
  switch (epsg_system(code)) {
    case EpsgSystem::kProjected:
      return {short_key(kModelTypeKey, 1), short_key(kRasterTypeKey, kPixelIsArea),
              short_key(kProjectedTypeKey, code)};
    case EpsgSystem::kGeographic:
      return {short_key(kModelTypeKey, 2), short_key(kRasterTypeKey, kPixelIsArea),
              short_key(kGeographicTypeKey, code)};
    case EpsgSystem::kUnknown: break;
  }
  throw ::Error(format_message("Error: EPSG code %d names no projected or geographic system.", code));
}

CallbackGeoreference internal_georeference(const Georeferencing& g) {
  if (!std::isfinite(g.origin_x) || !std::isfinite(g.origin_y) || !(g.pixel_width > 0) ||
      !std::isfinite(g.pixel_width) || !(g.pixel_height != 0) || !std::isfinite(g.pixel_height))
    throw ::Error("Error: the georeferencing needs a finite origin and a positive pixel size.");
  CallbackGeoreference r;
  r.x_size = g.pixel_width;
  r.y_size = g.pixel_height;
  // Records hold the centre of the upper-left pixel.
  r.x_centre = g.origin_x + g.pixel_width / 2;
  r.y_centre = g.origin_y - g.pixel_height / 2;
  const std::vector<vexal::GeoKey> keys = g.keys.empty() && g.epsg ? keys_for_epsg(g.epsg) : g.keys;
  for (const vexal::GeoKey& k : keys)
    if (k.id != kRasterTypeKey) r.keys.push_back(internal_key(k));
  return r;
}

int data_type_of(SampleType type) {
  switch (type) {
    case SampleType::kUInt8: return kImage8Bit;
    case SampleType::kUInt16: case SampleType::kInt16: return kImage16Bit;
    case SampleType::kFloat32: return kImageFloat;
  }
  return kImage8Bit;
}

CallbackImageDescription describe(const PixelSource& s, const std::string& path) {
  CallbackImageDescription d;
  d.width = s.width;
  d.height = s.height;
  d.bands = s.bands;
  d.data_type = data_type_of(s.sample_type);
  d.signed_samples = s.sample_type == SampleType::kInt16;
  d.band_colors = s.band_colors;
  d.nodata = s.nodata;
  d.name = s.name.empty() ? path : s.name;
  if (s.georeferencing) d.georeference = internal_georeference(*s.georeferencing);
  d.fill = [read = s.read, name = d.name](const int section[2][2], void* pixels) {
    if (!read || !read(section[0][0], section[1][0], section[0][1], section[1][1], pixels))
      throw ::Error(format_message("Error: the pixels %d..%d, %d..%d of %s could not be read.",
                                   section[0][0], section[0][1], section[1][0], section[1][1],
                                   name.c_str()));
  };
  return d;
}

EncodeOptions options_of(const EncodeSettings& s) {
  EncodeOptions o;
  o.nlev = s.levels;
  o.block_size = s.block_size;
  if (!(s.ratio > 0) || !std::isfinite(s.ratio))
    throw ::Error("Error: the target compression ratio must be a positive number.");
  if (s.threads < 0) throw ::Error("Error: the thread count cannot be negative.");
  o.target_ratio = float(s.ratio);
  o.target_bit_rate = float(o.word_length) / o.target_ratio;
  o.rdo = s.rdo;
  o.psnr = s.psnr;
  o.psnr_given = s.psnr != 0.0;
  o.weight = float(s.weight.value_or(o.weight));
  o.gamma = float(s.gamma.value_or(o.gamma));
  o.weights_given = s.weight.has_value() || s.gamma.has_value();
  o.dither = s.dither ? 1 : 0;
  o.threads = s.threads;
  o.statistics = s.statistics;
  if (!s.temp_dir.empty()) o.temp_dir = s.temp_dir;
  check_option_values(o);
  return o;
}

double double_at(const TiffDirectoryEntry& e, size_t index) {
  double v;
  std::memcpy(&v, e.values.data() + 8 * index, 8);
  return v;
}

vexal::GeoKey public_key(const ::GeoKey& k) {
  vexal::GeoKey key{k.id, {}, k.text};
  if (k.type == kTiffShort)
    for (size_t i = 0; i + 2 <= k.values.size(); i += 2) {
      uint16_t v;
      std::memcpy(&v, k.values.data() + i, 2);
      key.numbers.push_back(v);
    }
  if (k.type == kTiffDouble)
    for (size_t i = 0; i + 8 <= k.values.size(); i += 8) {
      double v;
      std::memcpy(&v, k.values.data() + i, 8);
      key.numbers.push_back(v);
    }
  return key;
}

int first_short(const std::vector<vexal::GeoKey>& keys, int id) {
  for (const vexal::GeoKey& k : keys)
    if (k.id == id && k.text.empty() && k.numbers.size() == 1) return int(k.numbers[0]);
  return 0;
}

std::optional<Georeferencing> read_georeferencing(const TiffDirectory& dir) {
  const TiffDirectoryEntry* scale = dir.find(kModelPixelScale);
  const TiffDirectoryEntry* tie = dir.find(kModelTiepoint);
  if (!scale || !tie || scale->type != kTiffDouble || tie->type != kTiffDouble ||
      scale->count < 2 || tie->count < 6)
    return std::nullopt;
  Georeferencing g;
  g.pixel_width = double_at(*scale, 0);
  g.pixel_height = double_at(*scale, 1);
  g.origin_x = double_at(*tie, 3) - g.pixel_width * double_at(*tie, 0);
  g.origin_y = double_at(*tie, 4) + g.pixel_height * double_at(*tie, 1);
  for (const ::GeoKey& k : parse_geo_keys(dir)) g.keys.push_back(public_key(k));
  // A PixelIsPoint tie point names the centre of its pixel; the corner lies half a pixel out.
  if (first_short(g.keys, kRasterTypeKey) == kPixelIsPoint) {
    g.origin_x -= g.pixel_width / 2;
    g.origin_y += g.pixel_height / 2;
  }
  for (vexal::GeoKey& k : g.keys)
    if (k.id == kRasterTypeKey) k.numbers = {double(kPixelIsArea)};
  const int projected = first_short(g.keys, kProjectedTypeKey);
  const int geographic = first_short(g.keys, kGeographicTypeKey);
  g.epsg = projected > 0 && projected < 32767 ? projected
           : geographic > 0 && geographic < 32767 ? geographic : 0;
  return g;
}

}  // namespace

double encode(const PixelSource& source, const std::string& path, const EncodeSettings& settings) {
  std::atomic<bool> cancelled{false};
  std::mutex reporting;
  // The encoder takes an empty name for standard output.
  if (path.empty()) throw vexal::Error("No output file is named.");
  try {
    EncodeOptions options = options_of(settings);
    // Messages about the samples name the source as the caller calls it.
    options.input_name = source.name.empty() ? path : source.name;
    const Quorvale::FileSpecification output(path);
    check_output_place(output);
    CallbackImage image(describe(source, path));
    check_output_size(estimate_for(image, options), options);
    const ProgressFunction progress = [&](float fraction) {
      std::lock_guard<std::mutex> lock(reporting);
      if (settings.progress && !cancelled && !settings.progress(fraction)) cancelled = true;
    };
    const InterruptQuery interrupted = [&] { return cancelled ? 1 : 0; };
    RunOutputs outputs(output);
    const Encoder::RdOutcome outcome = run_encoder(image, options, output, progress, interrupted);
    outputs.keep();
    progress(1.0f);
    return outcome.luma_psnr;
  } catch (...) {
    if (cancelled) throw vexal::Error(path + ": the encoding was cancelled.");
    rethrow_for(path);
  }
}

std::optional<Georeferencing> georeferencing_from_geotiff(const std::vector<std::uint8_t>& tiff) {
  const std::string what = "the GeoTIFF in memory";
  try {
    Quorvale::ScopedTempFile file(nullptr);
    if (std::fwrite(tiff.data(), 1, tiff.size(), file.stream()) != tiff.size() || !file.close())
      throw WriteError(file.name().str());
    return read_georeferencing(TiffDirectory(file.name()));
  } catch (...) {
    rethrow_for(what);
  }
}

}  // namespace vexal
