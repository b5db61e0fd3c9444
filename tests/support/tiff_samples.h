// The samples of a contiguous 8-bit TIFF as libtiff reads them, for comparing decoded outputs.
// Header-only: only the test programs that include it need libtiff.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vexal_test {

struct TiffSamples {
  int width = 0, height = 0, bands = 0;
  uint16_t photometric = 0;
  std::vector<uint8_t> samples;  // pixel after pixel, bands interleaved; empty when unreadable
};

inline TiffSamples read_tiff_samples(const std::string& path) {
  TiffSamples t;
  TIFFSetWarningHandler(nullptr);  // GeoTIFF tags are unknown to plain libtiff
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return t;
  uint32_t w = 0, h = 0;
  uint16_t spp = 1;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &t.photometric);
  t.width = int(w), t.height = int(h), t.bands = spp;
  t.samples.resize(size_t(w) * h * spp);
  for (uint32_t y = 0; y < h; ++y)
    if (TIFFReadScanline(tif, &t.samples[size_t(y) * w * spp], y, 0) < 0) t.samples.clear();
  TIFFClose(tif);
  return t;
}

}  // namespace vexal_test
