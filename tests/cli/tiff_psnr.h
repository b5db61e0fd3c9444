// PSNR of two image files as libtiff reads them, for the end-to-end tests of the programs.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <tiffio.h>

namespace vexal_test {

inline std::vector<uint32_t> rgba(const std::string& path, uint32_t* w, uint32_t* h) {
  TIFFSetWarningHandler(nullptr);  // GeoTIFF tags are unknown to plain libtiff
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return {};
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, h);
  std::vector<uint32_t> raster(uint64_t{*w} * *h);
  TIFFReadRGBAImageOriented(tif, *w, *h, raster.data(), ORIENTATION_TOPLEFT, 0);
  TIFFClose(tif);
  return raster;
}

// PSNR over the colour channels of two files as libtiff reads them; -1 when sizes differ.
inline double psnr(const std::string& a, const std::string& b) {
  uint32_t wa = 0, ha = 0, wb = 0, hb = 0;
  std::vector<uint32_t> x = rgba(a, &wa, &ha), y = rgba(b, &wb, &hb);
  if (x.empty() || wa != wb || ha != hb) return -1;
  double se = 0;
  for (size_t i = 0; i < x.size(); ++i)
    for (int k = 0; k < 3; ++k) {
      double d = double((x[i] >> (8 * k)) & 255) - double((y[i] >> (8 * k)) & 255);
      se += d * d;
    }
  se /= 3.0 * x.size();
  return se == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / se);
}

}  // namespace vexal_test
