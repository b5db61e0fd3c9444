#include "decoder/geokey_writer.h"

#include <geotiff.h>
#include <geotiffio.h>
#include <tiffio.h>
#include <xtiffio.h>

#include <algorithm>
#include <cstring>

namespace {

// libtiff's client I/O over a growing byte vector.
struct MemoryFile {
  std::vector<unsigned char> bytes;
  toff_t at = 0;
};

tmsize_t memory_read(thandle_t h, void* data, tmsize_t n) {
  MemoryFile& m = *static_cast<MemoryFile*>(h);
  if (n <= 0) return 0;
  const toff_t available = m.at < m.bytes.size() ? m.bytes.size() - m.at : 0;
  const tmsize_t got = tmsize_t(std::min<toff_t>(toff_t(n), available));
  if (got > 0) std::memcpy(data, m.bytes.data() + m.at, size_t(got));
  m.at += toff_t(got);
  return got;
}

tmsize_t memory_write(thandle_t h, void* data, tmsize_t n) {
  MemoryFile& m = *static_cast<MemoryFile*>(h);
  if (n <= 0) return 0;
  if (m.at + toff_t(n) > m.bytes.size()) m.bytes.resize(size_t(m.at) + size_t(n));
  std::memcpy(m.bytes.data() + m.at, data, size_t(n));
  m.at += toff_t(n);
  return n;
}

toff_t memory_seek(thandle_t h, toff_t offset, int whence) {
  MemoryFile& m = *static_cast<MemoryFile*>(h);
  const toff_t base = whence == SEEK_CUR ? m.at : whence == SEEK_END ? m.bytes.size() : 0;
  m.at = base + offset;
  return m.at;
}

int memory_close(thandle_t) { return 0; }
toff_t memory_size(thandle_t h) { return static_cast<MemoryFile*>(h)->bytes.size(); }
int memory_map(thandle_t, void**, toff_t*) { return 0; }
void memory_unmap(thandle_t, void*, toff_t) {}

}  // namespace

void write_geotiff_tags(TIFF* tif, double x_origin, double y_origin, double x_scale,
                        double y_scale, const std::vector<GeoKeyValue>& keys) {
  const double tie[6] = {0, 0, 0, x_origin, y_origin, 0};
  const double scale[3] = {x_scale, y_scale, 0};
  TIFFSetField(tif, TIFFTAG_GEOTIEPOINTS, 6, tie);
  TIFFSetField(tif, TIFFTAG_GEOPIXELSCALE, 3, scale);
  GTIF* gtif = GTIFNew(tif);
  if (!gtif) return;
  for (const GeoKeyValue& k : keys) {
    const geokey_t key = static_cast<geokey_t>(k.id);
    switch (k.kind) {
      case GeoKeyValue::kShort:
        GTIFKeySet(gtif, key, TYPE_SHORT, 1, int(k.numbers.at(0)));
        break;
      case GeoKeyValue::kDouble:
        if (k.numbers.size() == 1) GTIFKeySet(gtif, key, TYPE_DOUBLE, 1, k.numbers[0]);
        else GTIFKeySet(gtif, key, TYPE_DOUBLE, int(k.numbers.size()), k.numbers.data());
        break;
      case GeoKeyValue::kAscii:
        GTIFKeySet(gtif, key, TYPE_ASCII, 0, k.text.c_str());
        break;
    }
  }
  GTIFWriteKeys(gtif);
  GTIFFree(gtif);
}

TIFF* open_tiff_with_geotiff_tags(const char* name, const char* mode) {
  return XTIFFOpen(name, mode);
}
void close_tiff_with_geotiff_tags(TIFF* tif) { XTIFFClose(tif); }

std::vector<unsigned char> geotiff_in_memory(double x_origin, double y_origin, double x_scale,
                                             double y_scale, const std::vector<GeoKeyValue>& keys) {
  MemoryFile file;
  TIFF* tif = XTIFFClientOpen("georeferencing.tif", "wm", &file, memory_read, memory_write,
                              memory_seek, memory_close, memory_size, memory_map, memory_unmap);
  if (!tif) return {};
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 1u);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 1u);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(1));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_MINISBLACK));
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1u);
  write_geotiff_tags(tif, x_origin, y_origin, x_scale, y_scale, keys);
  unsigned char pixel = 0;
  const bool written = TIFFWriteScanline(tif, &pixel, 0, 0) >= 0;
  XTIFFClose(tif);
  return written ? file.bytes : std::vector<unsigned char>();
}
