#include "decoder/tiff_writer.h"

#include "decoder/gdal_nodata_tag.h"
#include "decoder/sample_interleave.h"

#include <tiffio.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <future>

#include "platform/error.h"

namespace {

// Classic TIFF offsets are 32-bit; the margin leaves room for the strip or tile tables.
constexpr uint64_t kClassicLimit = (uint64_t(1) << 32) - (uint64_t(64) << 20);
// A band of rows is decoded in columns this wide, so that the decoder's working planes stay
// small whatever the width.
constexpr int kColumns = 1024;
// Bytes of output rows held at once in the striped layout; wider rows make a tiled file.
constexpr uint64_t kRowBuffer = uint64_t(16) << 20;
constexpr int kTile = 512;

std::string upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

uint16_t photometric_for(const TiffLayout& l) {
  // Separately coded bands: RGB only when the source's first three bands were.
  if (!l.band_colors.empty())
    return l.band_colors.size() >= 3 && l.band_colors[0] == "Red" && l.band_colors[1] == "Green" &&
                   l.band_colors[2] == "Blue"
               ? PHOTOMETRIC_RGB
               : PHOTOMETRIC_MINISBLACK;
  if (l.bands >= 4 && l.scheme == vexal::ColorScheme::kCMYK) return PHOTOMETRIC_SEPARATED;
  if (l.bands >= 3) return PHOTOMETRIC_RGB;
  return PHOTOMETRIC_MINISBLACK;
}

int colour_bands(uint16_t photometric) {
  return photometric == PHOTOMETRIC_MINISBLACK ? 1 : photometric == PHOTOMETRIC_RGB ? 3 : 4;
}

size_t sample_bytes(const TiffLayout& l) { return vexal::sample_size(l.type); }

// Runs the writing of one filled buffer after another, in order: on a thread of its own when
// enabled, so that the caller decodes the next while this one is written (and compressed). At
// most one write is in flight; its failure reaches the caller at the next run() or finish().
class WriteBehind {
 public:
  explicit WriteBehind(bool enabled) : enabled_(enabled) {}
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;
  // An error elsewhere: the write in flight still ends before the file is closed.
  ~WriteBehind() {
    if (pending_.valid()) pending_.wait();
  }
  // The buffer behind `write` must stay untouched until the next run() or finish() returns.
  void run(std::function<void()> write) {
    finish();
    if (enabled_) pending_ = std::async(std::launch::async, std::move(write));
    else write();
  }
  void finish() {
    if (pending_.valid()) pending_.get();
  }

 private:
  bool enabled_;
  std::future<void> pending_;
};

void write_strips(TIFF* tif, const std::string& name, const TiffLayout& l,
                  const RegionSource& source, bool write_behind) {
  const size_t sample = sample_bytes(l);
  const size_t row_bytes = size_t(l.width) * size_t(l.bands) * sample;
  const int rows = int(std::clamp<uint64_t>(kRowBuffer / row_bytes, 1, 256));
  // Two bands of rows with writing behind: one being written while the next is filled.
  std::vector<unsigned char> bands_of_rows[2];
  std::vector<unsigned char> planar;
  WriteBehind writer(write_behind);
  for (int y0 = 0, k = 0; y0 < l.height; y0 += rows, k ^= write_behind ? 1 : 0) {
    const int y1 = std::min(l.height, y0 + rows) - 1;
    std::vector<unsigned char>& band_of_rows = bands_of_rows[k];
    band_of_rows.resize(row_bytes * size_t(rows));
    for (int x0 = 0; x0 < l.width; x0 += kColumns) {
      const int x1 = std::min(l.width, x0 + kColumns) - 1;
      planar.resize(size_t(x1 - x0 + 1) * size_t(y1 - y0 + 1) * size_t(l.bands) * sample);
      source(x0, y0, x1, y1, planar.data());
      interleave(planar.data(), x1 - x0 + 1, y1 - y0 + 1, l.bands, sample, band_of_rows.data(),
                 row_bytes, x0);
    }
    writer.run([tif, &name, rows = band_of_rows.data(), row_bytes, y0, y1] {
      for (int y = y0; y <= y1; ++y)
        if (TIFFWriteScanline(tif, rows + size_t(y - y0) * row_bytes, uint32_t(y), 0) < 0)
          throw WriteError(name);
    });
  }
  writer.finish();
}

void write_tiles(TIFF* tif, const std::string& name, const TiffLayout& l,
                 const RegionSource& source, bool write_behind) {
  const size_t sample = sample_bytes(l);
  const size_t stride = size_t(kTile) * size_t(l.bands) * sample;
  std::vector<unsigned char> tiles[2], planar;
  WriteBehind writer(write_behind);
  int k = 0;
  for (int y0 = 0; y0 < l.height; y0 += kTile)
    for (int x0 = 0; x0 < l.width; x0 += kTile, k ^= write_behind ? 1 : 0) {
      const int x1 = std::min(l.width, x0 + kTile) - 1, y1 = std::min(l.height, y0 + kTile) - 1;
      planar.resize(size_t(x1 - x0 + 1) * size_t(y1 - y0 + 1) * size_t(l.bands) * sample);
      source(x0, y0, x1, y1, planar.data());
      std::vector<unsigned char>& tile = tiles[k];
      tile.assign(stride * kTile, 0);
      interleave(planar.data(), x1 - x0 + 1, y1 - y0 + 1, l.bands, sample, tile.data(), stride, 0);
      writer.run([tif, &name, &tile, x0, y0] {
        if (TIFFWriteEncodedTile(tif, TIFFComputeTile(tif, uint32_t(x0), uint32_t(y0), 0, 0),
                                 tile.data(), tmsize_t(tile.size())) < 0)
          throw WriteError(name);
      });
    }
  writer.finish();
}

}  // namespace

void parse_tiff_option(const std::string& option, TiffOptions& o) {
  const size_t eq = option.find('=');
  const std::string key = upper(option.substr(0, eq));
  const std::string value = eq == std::string::npos ? "" : upper(option.substr(eq + 1));
  auto yes_no = [&](bool& flag) {
    if (value != "YES" && value != "NO") return false;
    flag = value == "YES";
    return true;
  };
  bool ok = false;
  if (key == "COMPRESS") {
    static const struct { const char* name; uint16_t code; } kinds[] = {
        {"NONE", COMPRESSION_NONE}, {"DEFLATE", COMPRESSION_ADOBE_DEFLATE},
        {"LZW", COMPRESSION_LZW}, {"ZSTD", COMPRESSION_ZSTD}};
    for (const auto& k : kinds)
      if (value == k.name && TIFFIsCODECConfigured(k.code)) {
        o.compression = k.code;
        ok = true;
      }
  } else if (key == "TILED") {
    ok = yes_no(o.tiled);
  } else if (key == "BIGTIFF") {
    ok = yes_no(o.bigtiff);
  }
  if (!ok)
    throw Error("Error: unknown creation option -co " + option +
                "; use COMPRESS=NONE|DEFLATE|LZW|ZSTD, TILED=YES|NO or BIGTIFF=YES|NO.");
}

bool tiff_is_big(const TiffLayout& l, const TiffOptions& o) {
  return o.bigtiff ||
         uint64_t(l.width) * uint64_t(l.height) * uint64_t(l.bands) * sample_bytes(l) > kClassicLimit;
}

bool tiff_is_tiled(const TiffLayout& l, const TiffOptions& o) {
  return o.tiled || tiff_is_big(l, o) ||
         uint64_t(l.width) * uint64_t(l.bands) * sample_bytes(l) > kRowBuffer;
}

void write_tiff(const std::string& name, const TiffLayout& l, const TiffOptions& o,
                const TiffGeoreference* georef, const RegionSource& source, bool write_behind) {
  const char* mode = tiff_is_big(l, o) ? "w8" : "w";
  TIFF* tif = georef ? open_tiff_with_geotiff_tags(name.c_str(), mode) : TIFFOpen(name.c_str(), mode);
  if (!tif) throw OpenError(name, "write");
  const bool tiled = tiff_is_tiled(l, o);
  const uint16_t photometric = photometric_for(l);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(l.width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(l.height));
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(l.bands));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(8 * sample_bytes(l)));
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT,
               uint16_t(l.type == vexal::SampleType::kFloat32 ? SAMPLEFORMAT_IEEEFP
                        : l.type == vexal::SampleType::kInt16 ? SAMPLEFORMAT_INT
                                                              : SAMPLEFORMAT_UINT));
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, o.compression);
  if (tiled) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, uint32_t(kTile));
    TIFFSetField(tif, TIFFTAG_TILELENGTH, uint32_t(kTile));
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  }
  const int extra = l.bands - colour_bands(photometric);
  if (extra > 0) {
    std::vector<uint16_t> kinds(size_t(extra), EXTRASAMPLE_UNSPECIFIED);
    for (size_t k = 0; k < kinds.size(); ++k)
      if (l.band_colors.size() == size_t(l.bands) &&
          l.band_colors[size_t(l.bands - extra) + k] == "Alpha")
        kinds[k] = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(extra), kinds.data());
  }
  if (l.nodata && !write_gdal_nodata(tif, *l.nodata)) {
    georef ? close_tiff_with_geotiff_tags(tif) : TIFFClose(tif);
    throw WriteError(name);
  }
  if (georef)
    write_geotiff_tags(tif, georef->x_origin, georef->y_origin, georef->x_scale, georef->y_scale,
                       georef->keys);
  auto close = [&] { georef ? close_tiff_with_geotiff_tags(tif) : TIFFClose(tif); };
  try {
    if (tiled) write_tiles(tif, name, l, source, write_behind);
    else write_strips(tif, name, l, source, write_behind);
    // Directories are written at close; a full disk shows here.
    if (!TIFFFlush(tif)) throw WriteError(name);
  } catch (...) {
    close();
    throw;
  }
  close();
}
