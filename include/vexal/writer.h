// Writing .vxl files from pixels the caller holds or reads from elsewhere: describe the image in
// a PixelSource, give it a function that fills any rectangle the encoder asks for, and encode.
// The encoder asks for one block at a time (with the borders its filters need) in its own order,
// so memory stays flat however large the image; the output is the same as vexal_encode makes of
// the same pixels with the same options.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "vexal/reader.h"

namespace vexal {

// The image to encode.
struct PixelSource {
  // Size in pixels (each 1 .. 2^31 - 1) and number of bands (1 .. 256).
  int width = 0, height = 0, bands = 0;
  SampleType sample_type = SampleType::kUInt8;
  // What each band is, in GDAL's names ("Red", "Green", "Blue", "Gray", "Alpha", "Cyan",
  // "Magenta", "Yellow", "Black", "Undefined", ...). Red, Green, Blue are coded as one colour
  // image, Cyan, Magenta, Yellow, Black as CMYK and a single band as grey; any other layout
  // codes every band on its own and keeps the names. Empty: grey for one band, RGB for three,
  // "Undefined" for every band otherwise.
  std::vector<std::string> band_colors;
  // The value that marks pixels without data: they are filled smoothly before coding, recorded,
  // and read back with exactly this value (Reader::nodata()). Empty: every pixel is data.
  std::optional<double> nodata;
  // Where the image lies on the map: the upper-left corner, the pixel size (pixel_height
  // positive when north is up) and either GeoTIFF keys (as a GeoTIFF would carry them; SHORT,
  // DOUBLE and ASCII keys are told apart by GeoTIFF's definition of each key) or, when `keys`
  // is empty, an EPSG code of a projected or geographic system. Empty: not georeferenced.
  std::optional<Georeferencing> georeferencing;
  // Recorded as the input's name in the file's metadata ("IMAGE::INPUT_NAME").
  std::string name;
  // Fills `buffer` with the pixels x0..x1, y0..y1 (inclusive, always inside the image): band
  // after band, each band row after row, each sample sample_size(sample_type) bytes in the
  // host's byte order, exactly as Reader::read returns them. One call at a time, from the thread
  // that runs encode() or from one of its workers. Returns false when the pixels cannot be had:
  // the encoding then stops with an Error.
  std::function<bool(int x0, int y0, int x1, int y1, void* buffer)> read;
};

// How to encode; the defaults are vexal_encode's.
struct EncodeSettings {
  int levels = 4;            // resolution levels below the full size, 1 .. 9 (-n)
  double ratio = 20.0;       // compression ratio against 8 bits per sample (-c)
  bool rdo = false;          // the rate-distortion mode (-rdo)
  double psnr = 0.0;         // with rdo: a luma PSNR target in dB instead of the ratio (-psnr)
  int block_size = 512;      // side of the blocks the image is transformed in (-b)
  int threads = 0;           // worker threads; 0: every core the process may use (-threads)
  std::optional<double> weight;  // intensity weight (-w); empty: 4
  std::optional<double> gamma;   // gamma of the perceptual weighting (-g); empty: 2
  bool dither = true;        // dithered quantisation (false: -nd); the rdo mode never dithers
  std::string temp_dir;      // folder for the temporary files; empty: the system's (-t)
  // Records each band's minimum, maximum, mean and standard deviation of the source's pixels,
  // nodata left out (Reader::statistics(); -stats).
  bool statistics = false;
  // Called with the fraction done (0 to 1) as the encoding advances; returning false cancels
  // it. May be empty.
  std::function<bool(double fraction)> progress;
};

// Encodes `source` into the .vxl file `path`, replacing a file of that name only when the
// encoding completes. Refuses before reading a pixel a source that cannot be coded, settings
// out of range, an output folder that is missing or not writable, and an output estimated far
// beyond the 4 GiB one file can hold. Throws Error naming the file on any failure or on
// cancellation; nothing the encoding made is then left behind. Returns the estimated luma PSNR
// in dB for the rdo mode, 0 otherwise.
VEXAL_API double encode(const PixelSource& source, const std::string& path,
                        const EncodeSettings& settings = {});

// The georeferencing of a GeoTIFF held in memory (its tie point, pixel scale and GeoTIFF keys),
// for instance a 1 x 1 GeoTIFF that GDAL wrote for a coordinate system: the inverse of
// Reader::georeferencing_as_geotiff. Empty when the file carries no tie point and pixel scale;
// Error when it is not a TIFF.
VEXAL_API std::optional<Georeferencing> georeferencing_from_geotiff(
    const std::vector<std::uint8_t>& tiff);

}  // namespace vexal
