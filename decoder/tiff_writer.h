// Writes a decoded region of any size as a TIFF (GeoTIFF when georeferenced) without holding it
// in memory: the region is pulled from a source rectangle by rectangle (a band of rows cut into
// columns, or one tile) and written as it comes. Outputs past 4 GiB, or whose rows alone would
// be large, are tiled BigTIFF; the rest keep the plain striped layout.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "decoder/geokey_writer.h"
#include "vexal/reader.h"

struct TiffLayout {
  int width = 0, height = 0, bands = 0;
  vexal::SampleType type = vexal::SampleType::kUInt8;
  vexal::ColorScheme scheme = vexal::ColorScheme::kUnknown;
  // Separately coded bands: what each is (GDAL colour names); empty otherwise.
  std::vector<std::string> band_colors;
  std::optional<double> nodata;  // written as GDAL_NODATA
};

// The "-co KEY=VALUE" creation options of vexal_decode.
struct TiffOptions {
  uint16_t compression = 1;  // libtiff's code: COMPRESSION_NONE
  bool tiled = false;        // tiles even where strips would do
  bool bigtiff = false;      // BigTIFF even below 4 GiB
};

// Parses one "KEY=VALUE" (COMPRESS=NONE|DEFLATE|LZW|ZSTD, TILED=YES|NO, BIGTIFF=YES|NO, case
// ignored) into `options`; Error naming the option when it is not one of those.
void parse_tiff_option(const std::string& option, TiffOptions& options);

// Where a GeoTIFF's upper-left corner lies and how large its pixels are.
struct TiffGeoreference {
  double x_origin, y_origin, x_scale, y_scale;
  std::vector<GeoKeyValue> keys;
};

// Fills `planar` with the samples of x0..x1, y0..y1 (inclusive, in the output's pixels): band
// after band, row after row.
using RegionSource = std::function<void(int x0, int y0, int x1, int y1, void* planar)>;

// Writes the whole output; WriteError naming `name` when the file cannot be written (what was
// written stays: `name` may be a device, so removing a partial file is the caller's). With
// `write_behind`, each band of rows (or tile) is written on a thread of its own while `source`
// fills the next: one more band of rows in memory, the same bytes.
void write_tiff(const std::string& name, const TiffLayout& layout, const TiffOptions& options,
                const TiffGeoreference* georef, const RegionSource& source,
                bool write_behind = false);

// Whether a layout and options make a BigTIFF and a tiled file (for tests and messages).
bool tiff_is_big(const TiffLayout& layout, const TiffOptions& options);
bool tiff_is_tiled(const TiffLayout& layout, const TiffOptions& options);
