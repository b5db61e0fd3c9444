// TIFF files made with libtiff for the reader tests, and libtiff's own RGBA reading of a file
// as the reference the readers are compared with.
#pragma once

#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <tiffio.h>

#include "image/image.h"

namespace vexal_test {

struct TiffSpec {
  uint32_t width = 64, height = 48;
  uint16_t samples = 1, bits = 8;
  uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  uint16_t compression = COMPRESSION_NONE;
  uint32_t rows_per_strip = 0;  // 0: one strip
  uint32_t tile = 0;            // square tiles of this size; 0: strips
  const char* mode = "w";       // "wb" big-endian, "w8" BigTIFF
  uint16_t fill_order = FILLORDER_MSB2LSB;
  std::vector<uint16_t> color_map;  // 3 x 2^bits entries, red then green then blue
  float x_resolution = 0, y_resolution = 0;  // 0: tag absent
  uint16_t planar = PLANARCONFIG_CONTIG;
  int jpeg_quality = 90;
};

// Bytes of one packed row of the image.
inline uint64_t packed_row_bytes(const TiffSpec& s) {
  return (uint64_t{s.width} * s.samples * s.bits + 7) / 8;
}

// A pattern with edges and gradients in every band, packed as the layout's rows.
inline std::vector<uint8_t> pattern(const TiffSpec& s, uint32_t seed = 1) {
  std::vector<uint8_t> data(packed_row_bytes(s) * s.height);
  uint32_t state = seed;
  for (size_t i = 0; i < data.size(); ++i) {
    state = state * 1103515245u + 12345u;
    uint64_t row = i / packed_row_bytes(s), col = i % packed_row_bytes(s);
    data[i] = s.bits == 1 ? static_cast<uint8_t>(state >> 16)
                          : static_cast<uint8_t>((row * 7 + col * 3 + ((state >> 20) & 15)));
  }
  return data;
}

inline void set_common_fields(TIFF* tif, const TiffSpec& s) {
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, s.height);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, s.samples);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.bits);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, s.photometric);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, s.compression);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, s.planar);
  TIFFSetField(tif, TIFFTAG_FILLORDER, s.fill_order);
  if (s.photometric == PHOTOMETRIC_SEPARATED) TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK);
  if (s.compression == COMPRESSION_JPEG) TIFFSetField(tif, TIFFTAG_JPEGQUALITY, s.jpeg_quality);
  if (!s.color_map.empty()) {
    size_t n = size_t{1} << s.bits;
    TIFFSetField(tif, TIFFTAG_COLORMAP, s.color_map.data(), s.color_map.data() + n,
                 s.color_map.data() + 2 * n);
  }
  if (s.x_resolution > 0) TIFFSetField(tif, TIFFTAG_XRESOLUTION, s.x_resolution);
  if (s.y_resolution > 0) TIFFSetField(tif, TIFFTAG_YRESOLUTION, s.y_resolution);
}

// `plane`: which plane of a separate-planes file the data is (s.samples is then 1).
inline void write_tiles(TIFF* tif, const TiffSpec& s, const std::vector<uint8_t>& data,
                        uint16_t plane = 0) {
  if (plane == 0) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, s.tile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, s.tile);
  }
  std::vector<uint8_t> tile(TIFFTileSize64(tif), 0);
  uint64_t tile_row = TIFFTileRowSize64(tif), row_bytes = packed_row_bytes(s);
  for (uint32_t y = 0; y < s.height; y += s.tile)
    for (uint32_t x = 0; x < s.width; x += s.tile) {
      std::fill(tile.begin(), tile.end(), 0);
      uint64_t first = uint64_t{x} * s.samples * s.bits / 8;
      for (uint32_t r = 0; r < s.tile && y + r < s.height; ++r) {
        uint64_t n = std::min<uint64_t>(tile_row, row_bytes - first);
        std::copy_n(data.begin() + (y + r) * row_bytes + first, n, tile.begin() + r * tile_row);
      }
      if (TIFFWriteTile(tif, tile.data(), x, y, 0, plane) < 0) throw std::runtime_error("tile");
    }
}

inline void write_strips(TIFF* tif, const TiffSpec& s, const std::vector<uint8_t>& data,
                         uint16_t plane = 0) {
  uint32_t rps = s.rows_per_strip ? s.rows_per_strip : s.height;
  if (plane == 0) TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rps);
  uint64_t row_bytes = packed_row_bytes(s);
  for (uint32_t y = 0; y < s.height; y += rps) {
    uint32_t rows = std::min(rps, s.height - y);
    if (TIFFWriteEncodedStrip(tif, TIFFComputeStrip(tif, y, plane), const_cast<uint8_t*>(data.data()) + y * row_bytes,
                              static_cast<tmsize_t>(rows * row_bytes)) < 0)
      throw std::runtime_error("strip");
  }
}

// Sample `plane` of every pixel of `data` (whole-byte samples).
inline std::vector<uint8_t> plane_of(const TiffSpec& s, const std::vector<uint8_t>& data,
                                     uint16_t plane) {
  const size_t size = s.bits / 8;
  std::vector<uint8_t> out(data.size() / s.samples);
  for (size_t i = 0; i < out.size(); i += size)
    std::memcpy(&out[i], &data[i * s.samples + plane * size], size);
  return out;
}

// Writes `data` (packed rows) as a TIFF file. `extra` may set further fields before writing.
template <typename Extra>
void write_tiff(const std::string& path, const TiffSpec& s, const std::vector<uint8_t>& data,
                Extra extra) {
  TIFF* tif = TIFFOpen(path.c_str(), s.mode);
  if (!tif) throw std::runtime_error("cannot create " + path);
  set_common_fields(tif, s);
  extra(tif);
  // Separate planes: each sample's plane is written as a one-sample image of its own.
  const bool planes = s.planar == PLANARCONFIG_SEPARATE;
  TiffSpec one = s;
  if (planes) one.samples = 1;
  for (uint16_t p = 0; p < (planes ? s.samples : 1); ++p) {
    const std::vector<uint8_t> part = planes ? plane_of(s, data, p) : data;
    if (s.tile)
      write_tiles(tif, one, part, p);
    else
      write_strips(tif, one, part, p);
  }
  TIFFClose(tif);
}

inline void write_tiff(const std::string& path, const TiffSpec& s,
                       const std::vector<uint8_t>& data) {
  write_tiff(path, s, data, [](TIFF*) {});
}

// libtiff's own reading of the whole image as RGBA, top row first.
inline std::vector<uint32_t> rgba_reference(const std::string& path, uint32_t* width,
                                            uint32_t* height) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) throw std::runtime_error("libtiff cannot open " + path);
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, height);
  std::vector<uint32_t> raster(uint64_t{*width} * *height);
  int ok = TIFFReadRGBAImageOriented(tif, *width, *height, raster.data(), ORIENTATION_TOPLEFT, 0);
  TIFFClose(tif);
  if (!ok) throw std::runtime_error("libtiff cannot read " + path);
  return raster;
}

// The whole image through Image::extract, as planes.
inline std::vector<uint8_t> read_all(Image& image) {
  int s[2][2] = {{0, image.image_width - 1}, {0, image.image_height - 1}};
  std::unique_ptr<PixelData> block = image.extract(s);
  const auto* p = static_cast<const uint8_t*>(block->data());
  return std::vector<uint8_t>(p, p + uint64_t{static_cast<uint32_t>(image.nband)} *
                                         image.image_width * image.image_height);
}

// Count of samples where the image's planes differ from libtiff's RGBA by more than
// `tolerance` (grey images are compared with the red channel).
inline uint64_t differences_from_rgba(Image& image, const std::string& path, int tolerance = 0) {
  uint32_t w = 0, h = 0;
  std::vector<uint32_t> rgba = rgba_reference(path, &w, &h);
  if (w != uint32_t(image.image_width) || h != uint32_t(image.image_height)) return UINT64_MAX;
  std::vector<uint8_t> planes = read_all(image);
  uint64_t plane = uint64_t{w} * h, bad = 0;
  for (int b = 0; b < std::min(image.nband, 3); ++b)
    for (uint64_t i = 0; i < plane; ++i) {
      int expected = (rgba[i] >> (8 * b)) & 0xff;
      if (std::abs(int(planes[b * plane + i]) - expected) > tolerance) ++bad;
    }
  return bad;
}

}  // namespace vexal_test
