// The body of gdal_driver_fuzzer, shared with the corpus replay of tests/gdal: the bytes open
// from /vsimem/ through GDAL with only the VXL driver allowed, and every band's first and last
// block of the full image and of each overview are read, with the description a client asks
// for (metadata, georeferencing, nodata, colours, masks). Uses GDAL and the public library only, as the driver
// does. Returns whether the dataset opened and every block read. Hostile input may only ever
// end in a GDAL error.
#pragma once

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal.h>

#include <cstdint>
#include <string>
#include <vector>

#include "vexal/byte_source.h"
#include "vexal/reader.h"

extern "C" void GDALRegister_VXL();
extern "C" void GDALRegister_GTiff();

namespace fuzz_entries {

// The bytes as a GDAL in-memory file, as a client with a /vsimem/ path would give them.
class MemoryVxl {
 public:
  MemoryVxl(const uint8_t* data, size_t size) {
    static int serial = 0;
    name_ = "/vsimem/vxl_fuzz_" + std::to_string(++serial) + ".vxl";
    VSIFCloseL(VSIFileFromMemBuffer(name_.c_str(), const_cast<GByte*>(data), vsi_l_offset(size),
                                    FALSE));
  }
  ~MemoryVxl() { VSIUnlink(name_.c_str()); }
  MemoryVxl(const MemoryVxl&) = delete;
  MemoryVxl& operator=(const MemoryVxl&) = delete;
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

// Samples of every band above which an input is left unread: a whole small image costs well
// under a millisecond, while a hostile header may announce gigapixels.
constexpr int64_t kGdalFuzzSamples = int64_t(1) << 18;

inline bool gdal_driver_reads(const std::string& name, const uint8_t* data, size_t size) {
  try {
    const vexal::Reader reader(vexal::memory_source(std::vector<uint8_t>(data, data + size)), name);
    if (int64_t(reader.width()) * reader.height() * reader.bands() > kGdalFuzzSamples) return false;
  } catch (const vexal::Error&) {
    // The driver must refuse the same bytes on its own: go on and open them through GDAL.
  }
  const char* const drivers[] = {"VXL", nullptr};
  GDALDatasetH ds = GDALOpenEx(name.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, drivers, nullptr,
                               nullptr);
  if (ds == nullptr) return false;
  double transform[6];
  GDALGetGeoTransform(ds, transform);
  GDALGetSpatialRef(ds);
  CSLDestroy(GDALGetMetadataDomainList(ds));
  for (char** item = GDALGetMetadata(ds, "VXL"); item && *item; ++item) {
    // Every key must be one that GDAL's own key-value parsing gives back whole.
    char* key = nullptr;
    const char* value = CPLParseNameValue(*item, &key);
    if (key == nullptr || value == nullptr || GDALGetMetadataItem(ds, key, "VXL") == nullptr)
      __builtin_trap();
    CPLFree(key);
  }
  std::vector<uint8_t> block;
  bool read_all = true;
  for (int b = 1; b <= GDALGetRasterCount(ds); ++b) {
    GDALRasterBandH band = GDALGetRasterBand(ds, b);
    GDALGetRasterColorInterpretation(band);
    GDALGetRasterNoDataValue(band, nullptr);
    GDALGetMaskFlags(band);
    for (int k = -1; k < GDALGetOverviewCount(band); ++k) {
      GDALRasterBandH level = k < 0 ? band : GDALGetOverview(band, k);
      if (level == nullptr) __builtin_trap();
      int bw = 0, bh = 0;
      GDALGetBlockSize(level, &bw, &bh);
      block.resize(size_t(bw) * size_t(bh) *
                   size_t(GDALGetDataTypeSizeBytes(GDALGetRasterDataType(level))));
      const int across = (GDALGetRasterBandXSize(level) + bw - 1) / bw;
      const int down = (GDALGetRasterBandYSize(level) + bh - 1) / bh;
      read_all = GDALReadBlock(level, 0, 0, block.data()) == CE_None && read_all;
      read_all = GDALReadBlock(level, across - 1, down - 1, block.data()) == CE_None && read_all;
    }
  }
  GDALClose(ds);
  return read_all;
}

inline bool gdal_driver_entry(const uint8_t* data, size_t size) {
  static const bool registered = [] {
    GDALRegister_VXL();
    GDALRegister_GTiff();  // the driver reads its georeferencing through GeoTIFF keys
    return true;
  }();
  (void)registered;
  const MemoryVxl file(data, size);
  CPLPushErrorHandler(CPLQuietErrorHandler);
  const bool opened = gdal_driver_reads(file.name(), data, size);
  CPLPopErrorHandler();
  return opened;
}

}  // namespace fuzz_entries
