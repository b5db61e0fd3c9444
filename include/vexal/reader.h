// Reading .vxl files: size, bands, sample type, colour scheme, resolution levels,
// georeferencing, metadata records, and any rectangle of any level decoded into the caller's
// buffer. A rectangle costs only the coded records that it and the wavelet filters reach, so a
// viewer can pan and zoom a large file without unpacking it.
//
// A Reader may be shared by many threads: its reads (and set_cache_limit) take turns, each
// keeping the others' cached records. Separate Readers on the same file read at the same time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "vexal/byte_source.h"
#include "vexal/version.h"

#ifndef VEXAL_API
#define VEXAL_API __attribute__((visibility("default")))
#endif

namespace vexal {

// Every failure of the library. The message names the file and what is wrong with it (or with
// the request), ready to show to a person.
class VEXAL_API Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The type of every sample of a file, as the source image had it.
enum class SampleType {
  kUInt8,    // 8-bit unsigned
  kUInt16,   // 16-bit unsigned
  kFloat32,  // 32-bit IEEE float
  kInt16,    // 16-bit signed
};

// Bytes of one sample of `type`.
VEXAL_API std::size_t sample_size(SampleType type);

// How the bands are to be shown, as the source image had them.
enum class ColorScheme {
  kUnknown,  // bands without a known colour meaning
  kGray,     // one grey band
  kRGB,      // red, green, blue
  kCMYK,     // cyan, magenta, yellow, black ink
};

// One GeoTIFF key of the source image.
struct GeoKey {
  int id = 0;                   // the key's number, e.g. 3072 for ProjectedCSTypeGeoKey
  std::vector<double> numbers;  // the values of a SHORT or DOUBLE key
  std::string text;             // the value of an ASCII key
};

// Where the full-resolution image lies on the map.
struct Georeferencing {
  // Map position of the upper-left corner of the upper-left pixel.
  double origin_x = 0, origin_y = 0;
  // Map units per pixel; pixel_height is positive when north is up (y falls row by row).
  double pixel_width = 0, pixel_height = 0;
  // The source's GeoTIFF keys, GTRasterTypeGeoKey set to PixelIsArea to match the corner
  // origin above; empty when the source had none (a world file, for example).
  std::vector<GeoKey> keys;
  // The EPSG code that the keys name (the projected system, else the geographic one), or 0.
  int epsg = 0;
};

// One metadata record of the file: what the encoder stored about the source and the coding.
struct MetadataRecord {
  std::string key;                 // e.g. "IMAGE::DATA_TYPE"
  std::vector<double> numbers;     // the values of a numeric record
  std::vector<std::string> texts;  // the values of a text record
  std::string value;               // every value as text, separated by ", "
};

// One band's statistics over the source's pixels, as the encoder recorded them.
struct BandStatistics {
  double minimum = 0, maximum = 0;
  double mean = 0;
  double stddev = 0;           // population standard deviation, as GDAL's STATISTICS_STDDEV
  double valid_percent = 100;  // pixels counted per 100 of the image: nodata ones are not
};

// One 8-bit band's exact histogram over the source's pixels: element k counts the samples of
// value k (nodata samples are not counted).
using Histogram = std::array<std::uint64_t, 256>;

class VEXAL_API Reader {
 public:
  // Opens `path` and checks its structure. Throws Error when the file cannot be read, is not a
  // .vxl file or is damaged.
  explicit Reader(const std::string& path);
  // Opens the file that `source` delivers (see byte_source.h); `name` is what path() returns and
  // what messages call it, a URL for example. The Reader keeps the source as long as it lives;
  // a caller may keep a copy to share it with other Readers.
  Reader(std::shared_ptr<ByteSource> source, const std::string& name);
  ~Reader();
  // A Reader moved from holds no file: it may only be destroyed or assigned to.
  Reader(Reader&& other) noexcept;
  Reader& operator=(Reader&& other) noexcept;
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  const std::string& path() const;

  // Size of the full-resolution image in pixels.
  int width() const;
  int height() const;
  int bands() const;
  SampleType sample_type() const;
  ColorScheme color_scheme() const;
  // What each band is when the bands were coded separately (a source that was not grey, RGB or
  // CMYK): one name per band as GDAL names colour interpretations ("Red", "Green", "Blue",
  // "Alpha", "Gray", "Undefined", ...). Empty for grey, RGB and CMYK files: color_scheme()
  // tells what their bands are.
  const std::vector<std::string>& band_colors() const;
  // The value that marks pixels without data, as the source had it (GDAL's nodata value; may be
  // NaN for float files); empty when the source had none. Where the file records the nodata
  // pixels (the record "IMAGE::NODATA_MASK"), read() returns exactly those with this value in
  // every band, and no sample of another pixel holds it.
  std::optional<double> nodata() const;

  // The coarsest level: levels 0 (full size) to levels() can be read; level k is 1/2^k of the
  // full size, rounded up, and its sample (x, y) is centred on full-resolution pixel
  // (2^k x, 2^k y).
  int levels() const;
  // 0 for a level outside 0..levels().
  int level_width(int level) const;
  int level_height(int level) const;

  // Where the image lies on the map; empty when the source was not georeferenced.
  const std::optional<Georeferencing>& georeferencing() const;
  // A 1 x 1 GeoTIFF in memory carrying the tie point, pixel size and GeoTIFF keys, so that a
  // GeoTIFF reader (GDAL, libgeotiff) builds the coordinate system exactly as it would from the
  // source; empty when the file is not georeferenced.
  std::vector<std::uint8_t> georeferencing_as_geotiff() const;

  // Each band's exact minimum, maximum, mean and standard deviation over the source's pixels
  // (without its nodata samples), in band order; empty when the file was encoded without them
  // (vexal_encode -stats, EncodeSettings::statistics). Checked when the file is opened.
  const std::optional<std::vector<BandStatistics>>& statistics() const;
  // Each band's exact histogram, in band order, recorded with the statistics of 8-bit files;
  // empty for files without statistics and files of other sample types. Checked when the file is
  // opened: its counts add up to the statistics' valid pixels between their minimum and maximum.
  const std::optional<std::vector<Histogram>>& histograms() const;

  // Every metadata record, in the file's order.
  const std::vector<MetadataRecord>& metadata() const;
  // The record named `key`, or null.
  const MetadataRecord* find_metadata(const std::string& key) const;

  // Decodes the rectangle x0..x1, y0..y1 (inclusive, in the pixels of `level`) into `buffer`:
  // band after band, each band row after row, each sample sample_size(sample_type()) bytes in
  // the host's byte order. The buffer must hold (x1 - x0 + 1) * (y1 - y0 + 1) * bands()
  // samples. Throws Error, leaving the buffer as it was, when `buffer` is null, the level does
  // not exist, the rectangle is empty (x1 < x0 or y1 < y0) or not inside the level, or the
  // decoder's working memory for it (4 bytes a sample of every band) exceeds a terabyte or what
  // the machine can give; throws Error also when the file is damaged where the rectangle needs
  // it. The result does not depend on how a region is cut into rectangles.
  void read(int level, int x0, int y0, int x1, int y1, void* buffer);
  // The same with band b starting b * band_stride samples into `buffer` (band_stride at least
  // (x1 - x0 + 1) * (y1 - y0 + 1)): rows of a taller band-sequential image go straight into it.
  void read(int level, int x0, int y0, int x1, int y1, void* buffer, std::size_t band_stride);

  // At most this many bytes of decoded records are kept for later reads nearby (default 32 MiB);
  // 0 keeps none.
  void set_cache_limit(std::size_t bytes);

 private:
  friend struct ReaderAccess;  // vexal's own programs reach the file's tables through it
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Threads that the reads of every Reader in the process may use, decoding the bands of a window
// and the rows of a large one at once (1, the default: the calling thread only). The samples are
// the same for any count. Call it before reading, not while reads run.
VEXAL_API void set_read_threads(int threads);

}  // namespace vexal
