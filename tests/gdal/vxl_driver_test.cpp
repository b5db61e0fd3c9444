// The VXL driver in-process through GDAL's C API: real GeoTIFFs encoded with vexal_encode come
// back with the source's size, coordinate system and geotransform, levels as overviews, the
// metadata records, and pixels identical to the library's, also from memory and zip archives.
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <gtest/gtest.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/gdal_driver_entry.h"
#include "support/largest_size_file.h"
#include "support/run_program.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"
#include "vexal/reader.h"

extern "C" void GDALRegister_VXL();

namespace {

class VxlDriver : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    GDALAllRegister();
    GDALRegister_VXL();
  }

  // Encodes a sample with vexal_encode; empty when the sample is not on this machine.
  std::string encode(const std::string& relative, const std::string& levels = "4",
                     const std::vector<std::string>& extra = {}) {
    const std::filesystem::path source = vexal_test::sample(relative);
    if (source.empty()) return {};
    const std::string out = dir_ / (source.stem().string() + ".vxl");
    std::vector<std::string> args = {"-tifg", "-i", source.string(), "-o", out, "-n", levels,
                                     "-t", dir_.path().string()};
    args.insert(args.end(), extra.begin(), extra.end());
    const vexal_test::ProgramResult r = vexal_test::run_program(VEXAL_ENCODE_BIN, args);
    EXPECT_EQ(r.status, 0) << r.err;
    return out;
  }

  vexal_test::ScratchDir dir_;
};

struct Dataset {
  explicit Dataset(const std::string& name) : h(GDALOpen(name.c_str(), GA_ReadOnly)) {}
  ~Dataset() {
    if (h) GDALClose(h);
  }
  GDALDatasetH h;
};

// Pixels of every band of a window of `band`'s dataset (or of overview `level` when > 0), as
// the file's type, band after band.
std::vector<unsigned char> read_window(GDALDatasetH ds, int level, int x0, int y0, int w, int h) {
  const int bands = GDALGetRasterCount(ds);
  const GDALDataType type = GDALGetRasterDataType(GDALGetRasterBand(ds, 1));
  const int size = GDALGetDataTypeSizeBytes(type);
  std::vector<unsigned char> out(size_t(w) * size_t(h) * size_t(bands) * size_t(size));
  for (int b = 1; b <= bands; ++b) {
    GDALRasterBandH band = GDALGetRasterBand(ds, b);
    if (level > 0) band = GDALGetOverview(band, level - 1);
    EXPECT_EQ(GDALRasterIO(band, GF_Read, x0, y0, w, h,
                           out.data() + size_t(b - 1) * size_t(w) * size_t(h) * size_t(size), w, h,
                           type, 0, 0),
              CE_None);
  }
  return out;
}

std::vector<unsigned char> library_window(const std::string& name, int level, int x0, int y0,
                                          int w, int h) {
  vexal::Reader reader(name);
  std::vector<unsigned char> out(size_t(w) * size_t(h) * size_t(reader.bands()) *
                                 vexal::sample_size(reader.sample_type()));
  reader.read(level, x0, y0, x0 + w - 1, y0 + h - 1, out.data());
  return out;
}

// A MEM dataset of `bands` bands of `type`, sample (x, y) of band b (from 1) value(b, x, y),
// with the nodata value `nodata` in every band.
template <typename F>
GDALDatasetH memory_dataset(int width, int height, int bands, GDALDataType type, double nodata,
                            F value) {
  GDALDatasetH mem =
      GDALCreate(GDALGetDriverByName("MEM"), "", width, height, bands, type, nullptr);
  std::vector<double> samples(size_t(width) * size_t(height));
  for (int b = 1; b <= bands; ++b) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) samples[size_t(y * width + x)] = value(b, x, y);
    GDALRasterBandH band = GDALGetRasterBand(mem, b);
    EXPECT_EQ(GDALRasterIO(band, GF_Write, 0, 0, width, height, samples.data(), width, height,
                           GDT_Float64, 0, 0),
              CE_None);
    GDALSetRasterNoDataValue(band, nodata);
  }
  return mem;
}

}  // namespace

// Every real GeoTIFF that vexal_encode takes: the same coordinate system as GDAL reads from the
// source (same EPSG code where it has one), the same geotransform, and one overview per level.
TEST_F(VxlDriver, RealGeoTiffsKeepTheirCoordinateSystem) {
  const char* samples[] = {"geotiff/utm.tif",        "geotiff/SP27GTIF.TIF",
                           "geotiff/cea.tif",        "geotiff/erdas_spnad83.tif",
                           "geotiff/intergraph_lamb_conf.tif", "geotiff/pci_latlong.tif",
                           "geotiff/byte_point.tif", "geotiff/RGB.byte.tif"};
  int compared = 0;
  for (const char* relative : samples) {
    SCOPED_TRACE(relative);
    const bool tiny = std::strstr(relative, "byte_point");  // 20 x 20 pixels
    const std::string vxl = encode(relative, tiny ? "1" : "4");
    if (vxl.empty()) continue;
    Dataset src(vexal_test::sample(relative).string()), ds(vxl);
    ASSERT_TRUE(src.h && ds.h);
    EXPECT_STREQ(GDALGetDriverShortName(GDALGetDatasetDriver(ds.h)), "VXL");
    EXPECT_EQ(GDALGetRasterXSize(ds.h), GDALGetRasterXSize(src.h));
    EXPECT_EQ(GDALGetRasterYSize(ds.h), GDALGetRasterYSize(src.h));
    EXPECT_EQ(GDALGetRasterCount(ds.h), GDALGetRasterCount(src.h));
    double a[6], b[6];
    ASSERT_EQ(GDALGetGeoTransform(src.h, a), CE_None);
    ASSERT_EQ(GDALGetGeoTransform(ds.h, b), CE_None);
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(a[i], b[i], 1e-9 * (1 + std::fabs(a[i]))) << i;
    OGRSpatialReferenceH s = GDALGetSpatialRef(src.h), d = GDALGetSpatialRef(ds.h);
    ASSERT_TRUE(s && d);
    EXPECT_TRUE(OSRIsSame(s, d));
    const char* code = OSRGetAuthorityCode(s, nullptr);
    if (code) {
      EXPECT_STREQ(OSRGetAuthorityCode(d, nullptr), code);
    }
    vexal::Reader reader(vxl);
    GDALRasterBandH band = GDALGetRasterBand(ds.h, 1);
    ASSERT_EQ(GDALGetOverviewCount(band), reader.levels());
    for (int k = 1; k <= reader.levels(); ++k) {
      EXPECT_EQ(GDALGetRasterBandXSize(GDALGetOverview(band, k - 1)), reader.level_width(k));
      EXPECT_EQ(GDALGetRasterBandYSize(GDALGetOverview(band, k - 1)), reader.level_height(k));
    }
    ++compared;
  }
  if (compared == 0) GTEST_SKIP() << "no GeoTIFF samples under " << vexal_test::testdata_dir();
}

// Pixels: any window and any overview through GDAL's block reading equal the library's read of
// the same window; types, colours, the nodata value (with -nodata: the sample's GDAL_NODATA 0)
// and the metadata domain follow the file.
TEST_F(VxlDriver, PixelsColoursAndMetadata) {
  const std::string vxl = encode("geotiff/RGB.byte.tif", "4", {"-nodata"});
  if (vxl.empty()) GTEST_SKIP() << "sample geotiff/RGB.byte.tif not found";
  Dataset ds(vxl);
  ASSERT_TRUE(ds.h);
  EXPECT_EQ(GDALGetRasterDataType(GDALGetRasterBand(ds.h, 1)), GDT_Byte);
  EXPECT_EQ(GDALGetRasterColorInterpretation(GDALGetRasterBand(ds.h, 1)), GCI_RedBand);
  EXPECT_EQ(GDALGetRasterColorInterpretation(GDALGetRasterBand(ds.h, 3)), GCI_BlueBand);
  GDALRasterBandH green = GDALGetRasterBand(ds.h, 2);
  for (GDALRasterBandH band : {green, GDALGetOverview(green, 1)}) {
    int has_nodata = 0;
    EXPECT_EQ(GDALGetRasterNoDataValue(band, &has_nodata), 0.0);
    EXPECT_TRUE(has_nodata);
    EXPECT_EQ(GDALGetMaskFlags(band), GMF_NODATA);
  }
  EXPECT_TRUE(read_window(ds.h, 0, 0, 0, 791, 718) == library_window(vxl, 0, 0, 0, 791, 718));
  // Across block edges (512) at full size, and inside level 2.
  EXPECT_TRUE(read_window(ds.h, 0, 500, 490, 100, 60) == library_window(vxl, 0, 500, 490, 100, 60));
  EXPECT_TRUE(read_window(ds.h, 2, 13, 7, 150, 170) == library_window(vxl, 2, 13, 7, 150, 170));
  char** domains = GDALGetMetadataDomainList(ds.h);
  EXPECT_GE(CSLFindString(domains, "VXL"), 0);
  CSLDestroy(domains);
  // One valid GDAL key per record ("IMAGE.DATA_TYPE"); the record's own name finds it too.
  EXPECT_STREQ(GDALGetMetadataItem(ds.h, "IMAGE.DATA_TYPE", "VXL"), "0");
  EXPECT_STREQ(GDALGetMetadataItem(ds.h, "IMAGE::COLOR_SCHEME", "VXL"), "0");
  char** items = GDALGetMetadata(ds.h, "VXL");
  EXPECT_EQ(size_t(CSLCount(items)), vexal::Reader(vxl).metadata().size());
  for (char** item = items; item && *item; ++item) {
    char* key = nullptr;
    const char* value = CPLParseNameValue(*item, &key);
    ASSERT_TRUE(key && value) << *item;
    EXPECT_EQ(std::string(*item), std::string(key) + "=" + value);
    CPLFree(key);
  }
}

// Not every file that looks like one is one: other files are left to other drivers, and a
// damaged .vxl fails to open with the library's message instead of crashing.
TEST_F(VxlDriver, OtherAndDamagedFiles) {
  const std::string vxl = encode("geotiff/utm.tif");
  if (vxl.empty()) GTEST_SKIP() << "sample geotiff/utm.tif not found";
  const std::string copy = dir_ / "cut.vxl";
  std::filesystem::copy_file(vxl, copy);
  std::filesystem::resize_file(copy, std::filesystem::file_size(copy) * 2 / 3);
  CPLPushErrorHandler(CPLQuietErrorHandler);
  Dataset cut(copy);
  const std::string message = CPLGetLastErrorMsg();
  CPLPopErrorHandler();
  EXPECT_EQ(cut.h, nullptr);
  EXPECT_NE(message.find("cut.vxl"), std::string::npos) << message;
  Dataset tif(vexal_test::sample("geotiff/utm.tif").string());
  ASSERT_TRUE(tif.h);
  EXPECT_STREQ(GDALGetDriverShortName(GDALGetDatasetDriver(tif.h)), "GTiff");
}

// The largest size a header can state (support/largest_size_file.h) opens with that size, and
// its last block (whose end lies past the largest int) fails with the library's message naming
// the file, through CPLError alone.
TEST_F(VxlDriver, LargestHeaderSize) {
  const std::string name = dir_ / "huge.vxl";
  std::filesystem::copy_file(std::filesystem::path(VEXAL_SOURCE_DIR) /
                                 "fuzz/corpus/gdal_driver_fuzzer/ok-grey-2-levels.vxl",
                             name);
  ASSERT_TRUE(vexal_test::stretch_to_largest_size(name));
  Dataset ds(name);
  ASSERT_TRUE(ds.h);
  EXPECT_EQ(GDALGetRasterXSize(ds.h), 2147483647);
  std::vector<unsigned char> block(512 * 512);
  CPLPushErrorHandler(CPLQuietErrorHandler);
  testing::internal::CaptureStderr();
  EXPECT_EQ(GDALReadBlock(GDALGetRasterBand(ds.h, 1), 4194303, 4194303, block.data()), CE_Failure);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  const std::string message = CPLGetLastErrorMsg();
  CPLPopErrorHandler();
  EXPECT_NE(message.find("huge.vxl: damaged file"), std::string::npos) << message;
}

// The saved inputs of gdal_driver_fuzzer (fuzz/corpus/) through the fuzzer's own body: each
// opens or ends in a GDAL error, valid seeds open, and nothing reaches standard error (the
// library's failures come to the driver as exceptions, the driver's go to CPLError).
TEST_F(VxlDriver, SavedFuzzInputsEndInGdalErrorsOnly) {
  const std::filesystem::path corpus =
      std::filesystem::path(VEXAL_SOURCE_DIR) / "fuzz" / "corpus" / "gdal_driver_fuzzer";
  int valid = 0;
  for (const auto& item : std::filesystem::directory_iterator(corpus)) {
    SCOPED_TRACE(item.path().string());
    std::ifstream in(item.path(), std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
    testing::internal::CaptureStderr();
    const bool opened = fuzz_entries::gdal_driver_entry(bytes.data(), bytes.size());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    if (item.path().filename().string().rfind("ok-", 0) == 0) {
      ++valid;
      EXPECT_TRUE(opened);
    }
  }
  EXPECT_GT(valid, 0);
}
// GDAL's virtual file systems: the file in memory and inside a zip archive gives exactly the
// pixels of the local file, at full size and on an overview.
TEST_F(VxlDriver, MemoryAndZipPathsGiveTheLocalPixels) {
  const std::string vxl = encode("geotiff/RGB.byte.tif");
  if (vxl.empty()) GTEST_SKIP() << "sample geotiff/RGB.byte.tif not found";
  std::ifstream in(vxl, std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
  const std::string mem = "/vsimem/vxl_driver_test/RGB.byte.vxl";
  const std::string zip = "/vsizip/" + (dir_ / "RGB.zip") + "/RGB.byte.vxl";
  for (const std::string& name : {mem, zip}) {
    VSILFILE* out = VSIFOpenL(name.c_str(), "wb");
    ASSERT_NE(out, nullptr) << name;
    EXPECT_EQ(VSIFWriteL(bytes.data(), 1, bytes.size(), out), bytes.size());
    VSIFCloseL(out);
  }
  for (const std::string& name : {mem, zip}) {
    SCOPED_TRACE(name);
    Dataset ds(name);
    ASSERT_TRUE(ds.h);
    EXPECT_STREQ(GDALGetDriverShortName(GDALGetDatasetDriver(ds.h)), "VXL");
    EXPECT_TRUE(read_window(ds.h, 0, 0, 0, 791, 718) == library_window(vxl, 0, 0, 0, 791, 718));
    EXPECT_TRUE(read_window(ds.h, 2, 13, 7, 150, 170) == library_window(vxl, 2, 13, 7, 150, 170));
  }
  VSIUnlink(mem.c_str());
  EXPECT_NE(GDALGetMetadataItem(GDALGetDriverByName("VXL"), GDAL_DCAP_VIRTUALIO, nullptr),
            nullptr);
}

// CreateCopy in-process (so also under the sanitizers): a MEM dataset of two Int16 bands with a
// nodata hole and a coordinate system comes back as it went, with the statistics GDAL computes
// on the source, and a cancelled copy leaves nothing.
TEST_F(VxlDriver, CreateCopyKeepsTypeNodataAndCoordinateSystemAndCancelsCleanly) {
  GDALDatasetH mem = memory_dataset(300, 260, 2, GDT_Int16, -32768, [](int b, int x, int y) {
    return x > 100 && x < 150 && y > 50 && y < 80
               ? -32768
               : int16_t(1000 * b + 400 * std::sin(x / 21.0 + y / 33.0));
  });
  double transform[6] = {600000, 10, 0, 5000000, 0, -10};
  GDALSetGeoTransform(mem, transform);
  OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
  OSRImportFromEPSG(srs, 32632);
  GDALSetSpatialRef(mem, srs);
  GDALDriverH vxl = GDALGetDriverByName("VXL");
  const std::string out = dir_ / "copy.vxl";
  char** options = CSLSetNameValue(nullptr, "RATIO", "2");
  options = CSLSetNameValue(options, "STATISTICS", "YES");
  GDALDatasetH copy = GDALCreateCopy(vxl, out.c_str(), mem, FALSE, options, nullptr, nullptr);
  ASSERT_NE(copy, nullptr);
  double back[6];
  ASSERT_EQ(GDALGetGeoTransform(copy, back), CE_None);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(back[k], transform[k]);
  EXPECT_TRUE(OSRIsSame(GDALGetSpatialRef(copy), srs));
  for (int b = 1; b <= 2; ++b) {
    GDALRasterBandH band = GDALGetRasterBand(copy, b);
    EXPECT_EQ(GDALGetRasterDataType(band), GDT_Int16);
    int has = 0;
    EXPECT_EQ(GDALGetRasterNoDataValue(band, &has), -32768);
    EXPECT_TRUE(has);
    double expected[4], got[4], min_max[2];
    ASSERT_EQ(GDALComputeRasterStatistics(GDALGetRasterBand(mem, b), FALSE, &expected[0],
                                          &expected[1], &expected[2], &expected[3], nullptr,
                                          nullptr), CE_None);
    ASSERT_EQ(GDALGetRasterStatistics(band, FALSE, FALSE, &got[0], &got[1], &got[2], &got[3]),
              CE_None);  // without forcing: from the record, or not at all
    EXPECT_EQ(got[0], expected[0]);
    EXPECT_EQ(got[1], expected[1]);
    EXPECT_NEAR(got[2], expected[2], 1e-9 * std::fabs(expected[2]));
    EXPECT_NEAR(got[3], expected[3], 1e-9 * expected[3]);
    ASSERT_EQ(GDALComputeRasterMinMax(band, FALSE, min_max), CE_None);
    EXPECT_EQ(min_max[0], expected[0]);
    EXPECT_EQ(min_max[1], expected[1]);
  }
  GDALClose(copy);

  const std::string cancelled = dir_ / "cancelled.vxl";
  auto stop_midway = [](double fraction, const char*, void*) { return fraction < 0.4 ? TRUE : FALSE; };
  EXPECT_EQ(GDALCreateCopy(vxl, cancelled.c_str(), mem, FALSE, options, stop_midway, nullptr), nullptr);
  EXPECT_EQ(CPLGetLastErrorNo(), CPLE_UserInterrupt);
  EXPECT_FALSE(std::filesystem::exists(cancelled));
  CSLDestroy(options);
  OSRDestroySpatialReference(srs);
  GDALClose(mem);
}

// Byte bands copied with statistics give the default histogram that GDAL computes on the source,
// from the record; a histogram saved beside the file stays the default, and a copy without
// statistics has none until GDAL computes one, as before.
TEST_F(VxlDriver, HistogramRecordAnswersApproximateRequestsExactly) {
  GDALDatasetH mem = memory_dataset(260, 190, 2, GDT_Byte, 3, [](int b, int x, int y) {
    return uint8_t(127.5 + 127.5 * std::sin(x / (9.0 * b) + y / 15.0));
  });
  GDALDriverH vxl = GDALGetDriverByName("VXL");
  char** options = CSLSetNameValue(nullptr, "STATISTICS", "YES");
  GDALDatasetH copy = GDALCreateCopy(vxl, (dir_ / "hist.vxl").c_str(), mem, FALSE, options,
                                     nullptr, nullptr);
  GDALDatasetH plain = GDALCreateCopy(vxl, (dir_ / "plain.vxl").c_str(), mem, FALSE, nullptr,
                                      nullptr, nullptr);
  ASSERT_NE(copy, nullptr);
  ASSERT_NE(plain, nullptr);
  for (int b = 1; b <= 2; ++b) {
    GDALRasterBandH source = GDALGetRasterBand(mem, b), band = GDALGetRasterBand(copy, b);
    std::vector<GUIntBig> expected(256);
    ASSERT_EQ(GDALGetRasterHistogramEx(source, -0.5, 255.5, 256, expected.data(), FALSE, FALSE,
                                       nullptr, nullptr), CE_None);
    double min = 0, max = 0;
    int buckets = 0;
    GUIntBig* counts = nullptr;
    ASSERT_EQ(GDALGetDefaultHistogramEx(band, &min, &max, &buckets, &counts, FALSE, nullptr,
                                        nullptr), CE_None);
    EXPECT_EQ(std::vector<GUIntBig>(counts, counts + buckets), expected);
    EXPECT_EQ(min, -0.5);
    EXPECT_EQ(max, 255.5);
    VSIFree(counts);
    EXPECT_EQ(GDALGetDefaultHistogramEx(GDALGetRasterBand(plain, b), &min, &max, &buckets,
                                        &counts, FALSE, nullptr, nullptr), CE_Warning);
  }
  GUIntBig saved[2] = {5, 6};
  GDALRasterBandH first = GDALGetRasterBand(copy, 1);
  ASSERT_EQ(GDALSetDefaultHistogramEx(first, 0, 10, 2, saved), CE_None);
  double min = 0, max = 0;
  int buckets = 0;
  GUIntBig* counts = nullptr;
  ASSERT_EQ(GDALGetDefaultHistogramEx(first, &min, &max, &buckets, &counts, TRUE, nullptr, nullptr),
            CE_None);
  EXPECT_EQ(buckets, 2);
  EXPECT_EQ(counts[1], 6u);
  VSIFree(counts);
  CSLDestroy(options);
  GDALClose(plain);
  GDALClose(copy);
  GDALClose(mem);
}

namespace {

// "/vsicount/NAME": the bytes of one file as a GDAL file system that counts the requests GDAL
// passes on (a multi-range read is one, as one HTTP request would be).
struct CountedFile {
  std::vector<char> bytes;
  int requests = 0;
  static CountedFile& the() {
    static CountedFile file;
    return file;
  }
};

struct CountedHandle {
  vsi_l_offset at = 0;
};

void install_counted_file_system() {
  static const bool installed = [] {
    VSIFilesystemPluginCallbacksStruct* fs = VSIAllocFilesystemPluginCallbacksStruct();
    fs->open = [](void*, const char*, const char* access) -> void* {
      return std::strchr(access, 'w') ? nullptr : new CountedHandle;
    };
    fs->stat = [](void*, const char*, VSIStatBufL* st, int) {
      std::memset(st, 0, sizeof(*st));
      st->st_size = CountedFile::the().bytes.size();
      st->st_mode = S_IFREG;
      return 0;
    };
    fs->tell = [](void* f) { return static_cast<CountedHandle*>(f)->at; };
    fs->seek = [](void* f, vsi_l_offset offset, int whence) {
      static_cast<CountedHandle*>(f)->at =
          whence == SEEK_END ? CountedFile::the().bytes.size() + offset
                             : whence == SEEK_CUR ? static_cast<CountedHandle*>(f)->at + offset : offset;
      return 0;
    };
    fs->read = [](void* f, void* buffer, size_t size, size_t count) -> size_t {
      const std::vector<char>& bytes = CountedFile::the().bytes;
      vsi_l_offset& at = static_cast<CountedHandle*>(f)->at;
      const size_t n = std::min<vsi_l_offset>(size * count, bytes.size() - std::min<vsi_l_offset>(at, bytes.size()));
      std::memcpy(buffer, bytes.data() + at, n);
      at += n;
      ++CountedFile::the().requests;
      return size ? n / size : 0;
    };
    fs->read_multi_range = [](void*, int n, void** buffers, const vsi_l_offset* offsets,
                              const size_t* sizes) {
      for (int i = 0; i < n; ++i)
        std::memcpy(buffers[i], CountedFile::the().bytes.data() + offsets[i], sizes[i]);
      ++CountedFile::the().requests;
      return 0;
    };
    fs->eof = [](void*) { return 0; };
    fs->close = [](void* f) {
      delete static_cast<CountedHandle*>(f);
      return 0;
    };
    VSIInstallPluginHandler("/vsicount/", fs);
    VSIFreeFilesystemPluginCallbacksStruct(fs);
    return true;
  }();
  (void)installed;
}

// A MEM dataset over the library's window, to resample as GDAL resamples a request.
// Reads the window x, y, w, h of the three bands of `vxl` as bytes into `pixels` through the
// counting file system; returns the reads it took after opening (-1 when it failed).
int counted_read(const std::string& vxl, int x, int y, int w, int h,
                 std::vector<unsigned char>& pixels) {
  install_counted_file_system();
  std::ifstream in(vxl, std::ios::binary);
  CountedFile::the().bytes.assign(std::istreambuf_iterator<char>(in), {});
  Dataset counted("/vsicount/" + std::filesystem::path(vxl).filename().string());
  if (!counted.h) return -1;
  CountedFile::the().requests = 0;
  pixels.assign(size_t(w) * size_t(h) * 3, 0);
  if (GDALDatasetRasterIO(counted.h, GF_Read, x, y, w, h, pixels.data(), w, h, GDT_Byte, 3,
                          nullptr, 0, 0, 0) != CE_None)
    return -1;
  return CountedFile::the().requests;
}

GDALDatasetH memory_dataset(std::vector<unsigned char>& samples, int w, int h, int bands) {
  GDALDatasetH mem = GDALCreate(GDALGetDriverByName("MEM"), "", w, h, bands, GDT_Byte, nullptr);
  EXPECT_EQ(GDALDatasetRasterIO(mem, GF_Write, 0, 0, w, h, samples.data(), w, h, GDT_Byte, bands,
                                nullptr, 0, 0, 0),
            CE_None);
  return mem;
}

// A smooth, slightly textured 16-bit scene with a nodata (0) corner.
uint16_t scene(int x, int y) {
  if (x < 40 && y < 30) return 0;
  return uint16_t(2000 + 1500 * std::sin(x / 23.0) * std::cos(y / 17.0) + (x * y) % 7);
}

bool folder_is_empty(const std::filesystem::path& folder) {
  return std::filesystem::directory_iterator(folder) == std::filesystem::directory_iterator();
}

}  // namespace

// GDAL's whole requests, decoded at once: a window over four blocks at full size and one on an
// overview, read for two bands into a pixel-interleaved 16-bit buffer, and a request that GDAL
// resamples (bilinear, larger buffer) equal the library's window and GDAL's resampling of it;
// reading the bands of a window one by one gives the same. A 512 x 512 window costs one request
// of the file system.
TEST_F(VxlDriver, WholeRequestsEqualTheLibrarysWindowInTwoRequests) {
  const std::string vxl = encode("geotiff/RGB.byte.tif");
  if (vxl.empty()) GTEST_SKIP() << "sample geotiff/RGB.byte.tif not found";
  Dataset ds(vxl);
  ASSERT_TRUE(ds.h);
  struct Case { int level, x, y, w, h; };
  for (const Case& c : {Case{0, 200, 150, 500, 520}, Case{1, 30, 40, 300, 280}}) {
    SCOPED_TRACE(c.level);
    std::vector<unsigned char> want = library_window(vxl, c.level, c.x, c.y, c.w, c.h);
    const size_t plane = size_t(c.w) * size_t(c.h);
    GDALRasterBandH first = GDALGetRasterBand(ds.h, 1);
    GDALDatasetH level = c.level ? GDALGetBandDataset(GDALGetOverview(first, c.level - 1)) : ds.h;
    std::vector<uint16_t> got(plane * 2);
    int bands[2] = {3, 1};
    ASSERT_EQ(GDALDatasetRasterIO(level, GF_Read, c.x, c.y, c.w, c.h, got.data(), c.w, c.h,
                                  GDT_UInt16, 2, bands, 4, 4 * c.w, 2),
              CE_None);
    for (size_t i = 0; i < plane; ++i) {
      ASSERT_EQ(got[2 * i], want[2 * plane + i]) << i;
      ASSERT_EQ(got[2 * i + 1], want[i]) << i;
    }
    EXPECT_TRUE(read_window(ds.h, c.level, c.x, c.y, c.w, c.h) == want);
  }
  // Bilinear onto a larger buffer, at full size: GDAL's resampling of the library's image, whose
  // kernel reaches past the window's edges.
  const int x = 100, y = 50, w = 600, h = 500, bw = 700, bh = 640;
  const int width = GDALGetRasterXSize(ds.h), height = GDALGetRasterYSize(ds.h);
  std::vector<unsigned char> image = library_window(vxl, 0, 0, 0, width, height);
  GDALDatasetH mem = memory_dataset(image, width, height, 3);
  GDALRasterIOExtraArg extra;
  INIT_RASTERIO_EXTRA_ARG(extra);
  extra.eResampleAlg = GRIORA_Bilinear;
  std::vector<unsigned char> got(size_t(bw) * bh * 3), want(got.size());
  ASSERT_EQ(GDALDatasetRasterIOEx(ds.h, GF_Read, x, y, w, h, got.data(), bw, bh, GDT_Byte, 3,
                                  nullptr, 0, 0, 0, &extra),
            CE_None);
  ASSERT_EQ(GDALDatasetRasterIOEx(mem, GF_Read, x, y, w, h, want.data(), bw, bh, GDT_Byte, 3,
                                  nullptr, 0, 0, 0, &extra),
            CE_None);
  GDALClose(mem);
  EXPECT_TRUE(got == want);

  std::vector<unsigned char> pixels;
  // The part headers of the window, then its records.
  EXPECT_EQ(counted_read(vxl, 250, 150, 512, 512, pixels), 2);
  EXPECT_TRUE(pixels == library_window(vxl, 0, 250, 150, 512, 512));
}

// A whole level read into an array of bands in order (as numpy and gdal_translate ask) decodes
// straight into the caller's buffer, the full size in pieces of rows on the threads: the same
// pixels as vexal_decode writes, also with bands further apart than a band's size.
TEST_F(VxlDriver, WholeLevelsStraightIntoTheBufferEqualVexalDecode) {
  const std::string vxl = encode("geotiff/RGB.byte.tif");
  if (vxl.empty()) GTEST_SKIP() << "sample geotiff/RGB.byte.tif not found";
  Dataset ds(vxl);
  ASSERT_TRUE(ds.h);
  for (int level : {0, 1}) {
    SCOPED_TRACE(level);
    const std::string tif = dir_ / ("level" + std::to_string(level) + ".tif");
    const vexal_test::ProgramResult r = vexal_test::run_program(
        VEXAL_DECODE_BIN, {"-i", vxl, "-o", tif, "-l", std::to_string(level)});
    ASSERT_EQ(r.status, 0) << r.err;
    Dataset decoded(tif);
    ASSERT_TRUE(decoded.h);
    const int w = GDALGetRasterXSize(decoded.h), h = GDALGetRasterYSize(decoded.h);
    const std::vector<unsigned char> want = read_window(decoded.h, 0, 0, 0, w, h);
    GDALDatasetH at = level ? GDALGetBandDataset(GDALGetOverview(GDALGetRasterBand(ds.h, 1), 0))
                            : ds.h;
    ASSERT_EQ(GDALGetRasterXSize(at), w);
    ASSERT_EQ(GDALGetRasterYSize(at), h);
    const size_t plane = size_t(w) * size_t(h), gap = 77;
    std::vector<unsigned char> got(3 * (plane + gap), 0xA5);
    ASSERT_EQ(GDALDatasetRasterIO(at, GF_Read, 0, 0, w, h, got.data(), w, h, GDT_Byte, 3, nullptr,
                                  1, w, GSpacing(plane + gap)),
              CE_None);
    for (int b = 0; b < 3; ++b) {
      const auto band = got.begin() + std::ptrdiff_t(b * (plane + gap));
      EXPECT_TRUE(std::equal(band, band + std::ptrdiff_t(plane), want.begin() + std::ptrdiff_t(b * plane)));
      EXPECT_TRUE(std::all_of(band + std::ptrdiff_t(plane), band + std::ptrdiff_t(plane + gap),
                              [](unsigned char v) { return v == 0xA5; }));
    }
    std::vector<unsigned char> packed(3 * plane);
    ASSERT_EQ(GDALDatasetRasterIO(at, GF_Read, 0, 0, w, h, packed.data(), w, h, GDT_Byte, 3,
                                  nullptr, 0, 0, 0),
              CE_None);
    EXPECT_TRUE(packed == want);
  }
  // The pieces share one fetch: the part headers, then the records, each read once.
  std::vector<unsigned char> pixels;
  EXPECT_EQ(counted_read(vxl, 0, 0, GDALGetRasterXSize(ds.h), GDALGetRasterYSize(ds.h), pixels), 2);
}

// GDALCreate (rasterio's "w" mode, QGIS's "Save As"): pixels written window by window, the
// georeferencing and nodata value set afterwards, are encoded when the dataset closes; it
// reopens with all of them, and the staging file is gone.
TEST_F(VxlDriver, CreateEncodesWhatWasWrittenOnClose) {
  const int w = 301, h = 203;
  const std::string name = dir_ / "made.vxl";
  const std::filesystem::path temp = dir_.path() / "temp";
  std::filesystem::create_directory(temp);
  const std::string temp_dir = "TEMP_DIR=" + temp.string();
  const char* options[] = {"RATIO=2", temp_dir.c_str(), nullptr};
  GDALDatasetH ds = GDALCreate(GDALGetDriverByName("VXL"), name.c_str(), w, h, 1, GDT_UInt16,
                               const_cast<char**>(options));
  ASSERT_TRUE(ds);
  const int cuts_x[] = {0, 130, w}, cuts_y[] = {0, 77, h};
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) {
      const int x0 = cuts_x[i], y0 = cuts_y[j], ww = cuts_x[i + 1] - x0, hh = cuts_y[j + 1] - y0;
      std::vector<uint16_t> part;
      for (int y = y0; y < y0 + hh; ++y)
        for (int x = x0; x < x0 + ww; ++x) part.push_back(scene(x, y));
      ASSERT_EQ(GDALDatasetRasterIO(ds, GF_Write, x0, y0, ww, hh, part.data(), ww, hh, GDT_UInt16,
                                    1, nullptr, 0, 0, 0),
                CE_None);
    }
  double geo[6] = {440720, 30, 0, 3751320, 0, -30};
  ASSERT_EQ(GDALSetGeoTransform(ds, geo), CE_None);
  OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
  ASSERT_EQ(OSRImportFromEPSG(srs, 32611), OGRERR_NONE);
  ASSERT_EQ(GDALSetSpatialRef(ds, srs), CE_None);
  ASSERT_EQ(GDALSetRasterNoDataValue(GDALGetRasterBand(ds, 1), 0), CE_None);
  EXPECT_STREQ(GDALGetDriverShortName(GDALGetDatasetDriver(ds)), "VXL");
  EXPECT_FALSE(folder_is_empty(temp));  // the pixels wait in TEMP_DIR
  GDALClose(ds);
  EXPECT_TRUE(folder_is_empty(temp));

  Dataset back(name);
  ASSERT_TRUE(back.h);
  EXPECT_EQ(GDALGetRasterXSize(back.h), w);
  EXPECT_EQ(GDALGetRasterYSize(back.h), h);
  GDALRasterBandH band = GDALGetRasterBand(back.h, 1);
  EXPECT_EQ(GDALGetRasterDataType(band), GDT_UInt16);
  double t[6];
  ASSERT_EQ(GDALGetGeoTransform(back.h, t), CE_None);
  for (int i = 0; i < 6; ++i) EXPECT_DOUBLE_EQ(t[i], geo[i]) << i;
  ASSERT_TRUE(GDALGetSpatialRef(back.h));
  EXPECT_TRUE(OSRIsSame(GDALGetSpatialRef(back.h), srs));
  OSRDestroySpatialReference(srs);
  int has_nodata = 0;
  EXPECT_EQ(GDALGetRasterNoDataValue(band, &has_nodata), 0.0);
  EXPECT_TRUE(has_nodata);
  std::vector<uint16_t> pixels(size_t(w) * h);
  ASSERT_EQ(GDALRasterIO(band, GF_Read, 0, 0, w, h, pixels.data(), w, h, GDT_UInt16, 0, 0),
            CE_None);
  double squared = 0;
  int lo = 65535, hi = 0, count = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int want = scene(x, y), got = pixels[size_t(y) * w + x];
      if (want == 0) {
        EXPECT_EQ(got, 0) << x << "," << y;
        continue;
      }
      squared += double(want - got) * (want - got);
      lo = std::min(lo, want), hi = std::max(hi, want), ++count;
    }
  const double psnr = 10 * std::log10(double(hi - lo) * (hi - lo) / (squared / count));
  EXPECT_GE(psnr, 40.0);
}

// Refusals, also the encoder's own (an image too small for its levels), come at Create with one
// message; a failure when the dataset closes (here the output
// folder vanished) is a CPLError naming the file, and neither a .vxl nor the staging file stays.
TEST_F(VxlDriver, CreateRefusesEarlyAndFailsCleanlyOnClose) {
  GDALDriverH vxl = GDALGetDriverByName("VXL");
  const std::filesystem::path temp = dir_.path() / "temp", out = dir_.path() / "out";
  std::filesystem::create_directory(temp);
  std::filesystem::create_directory(out);
  const std::string temp_dir = "TEMP_DIR=" + temp.string(), name = (out / "gone.vxl").string();
  const char* options[] = {temp_dir.c_str(), nullptr};
  const char* bad_ratio[] = {"RATIO=fast", nullptr};
  CPLPushErrorHandler(CPLQuietErrorHandler);
  EXPECT_EQ(GDALCreate(vxl, name.c_str(), 10, 10, 1, GDT_Float64, nullptr), nullptr);
  EXPECT_NE(std::string(CPLGetLastErrorMsg()).find("Float64 samples"), std::string::npos);
  EXPECT_EQ(GDALCreate(vxl, name.c_str(), 10, 10, 1, GDT_Byte, const_cast<char**>(bad_ratio)),
            nullptr);
  EXPECT_NE(std::string(CPLGetLastErrorMsg()).find("RATIO=fast"), std::string::npos);
  EXPECT_EQ(GDALCreate(vxl, name.c_str(), 100, 100, 1, GDT_Byte, const_cast<char**>(options)),
            nullptr);  // 4 levels need 121 pixels
  EXPECT_NE(std::string(CPLGetLastErrorMsg()).find("too small"), std::string::npos);
  EXPECT_TRUE(folder_is_empty(temp));
  GDALDatasetH ds = GDALCreate(vxl, name.c_str(), 200, 150, 3, GDT_Byte,
                               const_cast<char**>(options));
  ASSERT_TRUE(ds);
  std::filesystem::remove(out);
  CPLErrorReset();
  GDALClose(ds);
  const std::string message = CPLGetLastErrorMsg();
  CPLPopErrorHandler();
  EXPECT_EQ(CPLGetLastErrorType(), CE_Failure);
  EXPECT_NE(message.find("gone.vxl"), std::string::npos) << message;
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_TRUE(folder_is_empty(temp));
}
