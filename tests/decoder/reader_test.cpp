// The public reading library: what it reports about encoded images, windows that agree exactly
// with the one-piece decode however a region is cut, the record cache, georeferencing from a
// real GeoTIFF, and one clear error for every bad request; reading through byte sources (a file
// in memory gives the local pixels, a window reads only its records and the tables that locate
// them, counted against the file's tables), and a Reader shared by threads.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "decoder/band_part.h"
#include "decoder/coefficient_reader.h"
#include "decoder/decoded_image.h"
#include "decoder/record_cache.h"
#include "decoder/region_decoder.h"
#include "decoder/subband_geometry.h"
#include "decoder/vxl_check.h"
#include "decoder/vxl_file.h"
#include "encoder/core/encoder.h"
#include "support/largest_size_file.h"
#include "support/run_program.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"
#include "synthetic_image.h"
#include "vexal/reader.h"

namespace {

std::string encode(SyntheticImage& image, const std::string& out, int levels, int block) {
  const Quorvale::FileSpecification temp(std::filesystem::path(out).parent_path().string());
  Encoder encoder(&image, levels, block, 8.0f / 4, &temp, nullptr, nullptr, 4.0f, 2.0f, true,
                  0.25f);
  encoder.encode(Quorvale::FileSpecification(out));
  return out;
}

// The whole level through the decoder's one-piece path, as bytes.
std::vector<unsigned char> one_piece(const std::string& name, int level) {
  const VxlFile file(name);
  const DecodedImage d = decode_image(file, level, Window{0, 0, reduced_size(file.width(), level) - 1,
                                                          reduced_size(file.height(), level) - 1});
  const auto* p = d.data_type == 1   ? reinterpret_cast<const unsigned char*>(d.f32.data())
                  : d.data_type == 2 ? reinterpret_cast<const unsigned char*>(d.u16.data())
                                     : d.u8.data();
  const size_t n = d.data_type == 1 ? d.f32.size() * 4 : d.data_type == 2 ? d.u16.size() * 2 : d.u8.size();
  return {p, p + n};
}

struct Shape {
  int bands, data_type, scheme;
  vexal::SampleType type;
  vexal::ColorScheme expected_scheme;
};

class ReaderShapes : public testing::TestWithParam<Shape> {};

}  // namespace

// Every sample type and colour scheme: the description, and a level read in odd-sized pieces
// (small cache, so records are decoded again and again) equals the one-piece decode bit for bit.
TEST_P(ReaderShapes, PiecesEqualTheOnePieceDecode) {
  const Shape s = GetParam();
  vexal_test::ScratchDir dir;
  SyntheticImage image(301, 263, s.bands, s.data_type, s.scheme);
  const std::string name = encode(image, dir / "in.vxl", 3, 128);
  vexal::Reader reader(name);
  EXPECT_EQ(reader.width(), 301);
  EXPECT_EQ(reader.height(), 263);
  EXPECT_EQ(reader.bands(), s.bands);
  EXPECT_EQ(reader.sample_type(), s.type);
  EXPECT_EQ(reader.color_scheme(), s.expected_scheme);
  EXPECT_EQ(reader.levels(), 3);
  EXPECT_EQ(reader.level_width(2), 76);
  EXPECT_EQ(reader.level_height(3), 33);
  EXPECT_FALSE(reader.georeferencing());
  ASSERT_NE(reader.find_metadata("IMAGE::DATA_TYPE"), nullptr);
  EXPECT_EQ(reader.find_metadata("IMAGE::DATA_TYPE")->numbers.at(0), s.data_type);
  reader.set_cache_limit(200 * 1024);
  const size_t sample = vexal::sample_size(s.type);
  for (int level : {0, 1, 3}) {
    const int w = reader.level_width(level), h = reader.level_height(level);
    const std::vector<unsigned char> want = one_piece(name, level);
    std::vector<unsigned char> got(want.size());
    const int step_x = 37 + level, step_y = 53;
    std::vector<unsigned char> piece;
    for (int y0 = 0; y0 < h; y0 += step_y)
      for (int x0 = 0; x0 < w; x0 += step_x) {
        const int x1 = std::min(w, x0 + step_x) - 1, y1 = std::min(h, y0 + step_y) - 1;
        const int pw = x1 - x0 + 1, ph = y1 - y0 + 1;
        piece.assign(size_t(pw) * size_t(ph) * size_t(s.bands) * sample, 0);
        reader.read(level, x0, y0, x1, y1, piece.data());
        for (int b = 0; b < s.bands; ++b)
          for (int y = 0; y < ph; ++y)
            std::memcpy(&got[((size_t(b) * h + size_t(y0 + y)) * w + size_t(x0)) * sample],
                        &piece[((size_t(b) * ph + size_t(y)) * pw) * sample], size_t(pw) * sample);
      }
    EXPECT_TRUE(got == want) << "level " << level;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Types, ReaderShapes,
    testing::Values(Shape{1, kImage8Bit, kSchemeGray, vexal::SampleType::kUInt8, vexal::ColorScheme::kGray},
                    Shape{3, kImage8Bit, kSchemeRGB, vexal::SampleType::kUInt8, vexal::ColorScheme::kRGB},
                    Shape{4, kImage8Bit, kSchemeCMYK, vexal::SampleType::kUInt8, vexal::ColorScheme::kCMYK},
                    Shape{1, kImage16Bit, kSchemeGray, vexal::SampleType::kUInt16, vexal::ColorScheme::kGray},
                    Shape{3, kImageFloat, kSchemeRGB, vexal::SampleType::kFloat32, vexal::ColorScheme::kRGB}));

// The statistics record against a one-piece reference over the source's samples, nodata left
// out: exact extremes, mean and deviation within 1e-9, bit for bit the same for 1 and 3 threads.
// Nodata has the blocks read with margins, which must not be counted; without the option a file
// has no record. 8-bit files also record each band's exact histogram.
TEST(Reader, StatisticsRecordMatchesTheSource) {
  vexal_test::ScratchDir dir;
  const Quorvale::FileSpecification temp(dir.path().string());
  for (const auto& [bands, type, scheme] : {std::tuple{3, kImage8Bit, kSchemeRGB},
                                            {1, kImage16Bit, kSchemeGray},
                                            {1, kImageFloat, kSchemeGray}}) {
    SyntheticImage image(700, 530, bands, type, scheme);
    // The samples as the encoder reads them.
    auto source = [&](int b, int x, int y) {
      return type == kImageFloat ? double(float(image.sample(b, x, y))) : image.sample(b, x, y);
    };
    image.nodata = source(0, 300, 200);
    std::vector<std::vector<vexal::BandStatistics>> runs;
    std::vector<std::vector<vexal::Histogram>> histograms;
    for (int threads : {1, 3, 0}) {
      const std::string name = dir / ("stats" + std::to_string(threads) + ".vxl");
      Encoder encoder(&image, 3, 256, 8.0f / 4, &temp, nullptr, nullptr, 4.0f, 2.0f, true, 0.25f);
      encoder.set_threads(std::max(threads, 1));
      encoder.set_record_statistics(threads != 0);
      encoder.encode(Quorvale::FileSpecification(name));
      const vexal::Reader reader(name);
      ASSERT_EQ(reader.statistics().has_value(), threads != 0) << name;
      ASSERT_EQ(reader.histograms().has_value(), threads != 0 && type == kImage8Bit) << name;
      if (threads != 0) runs.push_back(*reader.statistics());
      if (reader.histograms()) histograms.push_back(*reader.histograms());
      metadata_delete(&image.metadata, "IMAGE::STATISTICS");
      metadata_delete(&image.metadata, "IMAGE::HISTOGRAM");
    }
    for (int b = 0; b < bands; ++b) {
      long double sum = 0, deviations = 0;
      double lo = INFINITY, hi = -INFINITY;
      int64_t n = 0;
      vexal::Histogram counts{};
      auto counted = [&](double v) { return v != *image.nodata; };
      for (int y = 0; y < 530; ++y)
        for (int x = 0; x < 700; ++x)
          if (const double v = source(b, x, y); counted(v)) {
            sum += v, ++n, lo = std::min(lo, v), hi = std::max(hi, v);
            if (type == kImage8Bit) ++counts[size_t(v)];
          }
      const long double mean = sum / n;
      for (int y = 0; y < 530; ++y)
        for (int x = 0; x < 700; ++x)
          if (const double v = source(b, x, y); counted(v))
            deviations += (v - mean) * (v - mean);
      const double stddev = double(std::sqrt(deviations / n));
      const vexal::BandStatistics& s = runs[0][size_t(b)];
      SCOPED_TRACE("type " + std::to_string(type) + " band " + std::to_string(b));
      if (b == 0) {
        EXPECT_LT(n, 700 * 530);  // the nodata sample is left out
      }
      EXPECT_EQ(s.minimum, lo);
      EXPECT_EQ(s.maximum, hi);
      EXPECT_NEAR(s.mean, double(mean), 1e-9 * std::fabs(double(mean)));
      EXPECT_NEAR(s.stddev, stddev, 1e-9 * stddev);
      EXPECT_DOUBLE_EQ(s.valid_percent, 100.0 * double(n) / (700.0 * 530.0));
      EXPECT_EQ(std::memcmp(&s, &runs[1][size_t(b)], sizeof s), 0);
      if (type == kImage8Bit) {
        EXPECT_EQ(histograms[0][size_t(b)], counts);
        EXPECT_EQ(histograms[1][size_t(b)], counts);
      }
    }
  }
}

// A walk over every 128 x 128 window of a larger image decodes each record once: neighbouring
// windows share their coarse records and the filters' overlap through the cache.
TEST(RecordCache, WindowWalkDecodesEachRecordOnce) {
  vexal_test::ScratchDir dir;
  SyntheticImage image(700, 600, 1, kImage8Bit, kSchemeGray);
  const VxlFile file(encode(image, dir / "walk.vxl", 4, 256));
  auto walk = [&](RecordCache& cache) {
    std::vector<unsigned char> out(128 * 128);
    for (int y0 = 0; y0 < 600; y0 += 128)
      for (int x0 = 0; x0 < 700; x0 += 128)
        decode_samples(file, 0,
                       Window{x0, y0, std::min(700, x0 + 128) - 1, std::min(600, y0 + 128) - 1},
                       &cache, out.data());
  };
  RecordCache cache(size_t(64) << 20);
  walk(cache);
  EXPECT_EQ(cache.insertions(), uint64_t(check_vxl_structure(file).records));
  // Without room, each window decodes what it needs again.
  RecordCache none(0);
  walk(none);
  EXPECT_GT(none.insertions(), 2 * cache.insertions());
  EXPECT_EQ(none.bytes(), 0u);
}

// A real GeoTIFF through vexal_encode: origin at the corner, pixel size, keys and EPSG code as
// the source has them (NAD27 / UTM 11N, 60 m), and the keys carried into a tiny GeoTIFF.
// A tall window on two threads goes in pieces of rows, and reads may put the bands further
// apart than a band's size: strips of rows read that way into one image equal the one-thread,
// one-piece decode, for several bands and for one (16-bit).
TEST(Reader, RowPiecesOnThreadsIntoSpacedBandsEqualTheOnePieceDecode) {
  vexal_test::ScratchDir dir;
  for (const Shape& s : {Shape{3, kImage8Bit, kSchemeRGB, vexal::SampleType::kUInt8, {}},
                         Shape{1, kImage16Bit, kSchemeGray, vexal::SampleType::kUInt16, {}}}) {
    SCOPED_TRACE(s.bands);
    SyntheticImage image(1201, 1003, s.bands, s.data_type, s.scheme);
    const std::string name = encode(image, dir / "tall.vxl", 3, 256);
    for (int level : {0, 1}) {
      vexal::set_read_threads(1);
      const std::vector<unsigned char> want = one_piece(name, level);
      vexal::set_read_threads(2);
      vexal::Reader reader(name);
      const int w = reader.level_width(level), h = reader.level_height(level);
      const size_t sample = vexal::sample_size(s.type), plane = size_t(w) * size_t(h) + 5;
      std::vector<unsigned char> got(plane * size_t(s.bands) * sample, 0xA5);
      for (int y0 = 0; y0 < h; y0 += 900)
        reader.read(level, 0, y0, w - 1, std::min(h, y0 + 900) - 1,
                    &got[size_t(y0) * size_t(w) * sample], plane);
      for (int b = 0; b < s.bands; ++b) {
        const auto band = got.begin() + std::ptrdiff_t(size_t(b) * plane * sample);
        EXPECT_TRUE(std::equal(band, band + std::ptrdiff_t((plane - 5) * sample),
                               want.begin() + std::ptrdiff_t(size_t(b) * (plane - 5) * sample)))
            << "level " << level << " band " << b;
      }
    }
  }
  vexal::set_read_threads(1);
}

TEST(Reader, GeoreferencingOfARealGeoTiff) {
  VEXAL_REQUIRE_SAMPLE(source, "geotiff/utm.tif");
  vexal_test::ScratchDir dir;
  const vexal_test::ProgramResult r = vexal_test::run_program(
      VEXAL_ENCODE_BIN, {"-tifg", "-i", source.string(), "-o", dir / "utm.vxl", "-t", dir.path().string()});
  ASSERT_EQ(r.status, 0) << r.err;
  vexal::Reader reader(dir / "utm.vxl");
  ASSERT_TRUE(reader.georeferencing());
  const vexal::Georeferencing& g = *reader.georeferencing();
  EXPECT_DOUBLE_EQ(g.origin_x, 440720.0);
  EXPECT_DOUBLE_EQ(g.origin_y, 3751320.0);
  EXPECT_DOUBLE_EQ(g.pixel_width, 60.0);
  EXPECT_DOUBLE_EQ(g.pixel_height, 60.0);
  EXPECT_EQ(g.epsg, 26711);
  ASSERT_FALSE(g.keys.empty());
  EXPECT_EQ(g.keys[0].id, 1025);  // GTRasterTypeGeoKey, PixelIsArea
  const std::vector<uint8_t> tiff = reader.georeferencing_as_geotiff();
  ASSERT_GT(tiff.size(), 8u);
  EXPECT_EQ(std::memcmp(tiff.data(), "II*\0", 4), 0);
}

TEST(Reader, BadRequestsGetOneErrorNamingTheFile) {
  vexal_test::ScratchDir dir;
  auto message_of = [](auto&& f) -> std::string {
    try {
      f();
    } catch (const vexal::Error& e) {
      return e.what();
    }
    return "(no error)";
  };
  EXPECT_NE(message_of([&] { vexal::Reader(dir / "absent.vxl"); }).find("absent.vxl"), std::string::npos);
  std::ofstream(dir / "text.vxl") << "not an image at all";
  EXPECT_NE(message_of([&] { vexal::Reader(dir / "text.vxl"); }).find("is not a Vexal file"),
            std::string::npos);
  // A FIFO (which would wait for a writer), a folder: refused at once.
  ASSERT_EQ(mkfifo((dir / "fifo.vxl").c_str(), 0600), 0);
  EXPECT_NE(message_of([&] { vexal::Reader(dir / "fifo.vxl"); }).find("not a regular file"),
            std::string::npos);
  EXPECT_NE(message_of([&] { vexal::Reader(dir.path().string()); }).find("not a regular file"),
            std::string::npos);
  SyntheticImage image(200, 150, 1, kImage8Bit, kSchemeGray);
  const std::string name = encode(image, dir / "ok.vxl", 2, 128);
  vexal::Reader reader(name);
  std::vector<unsigned char> buffer(200 * 150);
  EXPECT_NE(message_of([&] { reader.read(0, 0, 0, 200, 10, buffer.data()); }).find("not inside"),
            std::string::npos);
  EXPECT_NE(message_of([&] { reader.read(3, 0, 0, 1, 1, buffer.data()); }).find("level 3"),
            std::string::npos);
  // Damage met on reading is the exception alone, ending with the coding routine's reason: the
  // library writes nothing to standard error (a GDAL client would show it out of place).
  std::ifstream in(name, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  auto be32 = [&](size_t at) {
    return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 |
           uint32_t(uint8_t(bytes[at + 2])) << 8 | uint8_t(bytes[at + 3]);
  };
  bytes[be32(be32(23) + 8) + 2 + 15] = char(255);  // low-pass block header: a table too long
  std::ofstream(dir / "table.vxl", std::ios::binary) << bytes;
  testing::internal::CaptureStderr();
  const std::string table = message_of([&] {
    vexal::Reader damaged(dir / "table.vxl");
    damaged.read(0, 0, 0, 199, 149, buffer.data());
  });
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(table.ends_with(": Invalid Huffman table in ReadHtDesc.")) << table;
  // Requests a caller can get wrong: each refused with its own reason, the buffer untouched.
  std::fill(buffer.begin(), buffer.end(), 7);
  EXPECT_NE(message_of([&] { reader.read(0, 0, 0, 9, 9, nullptr); }).find("ok.vxl: no buffer"),
            std::string::npos);
  EXPECT_NE(message_of([&] { reader.read(0, 5, 0, 4, 9, buffer.data()); }).find("is empty"),
            std::string::npos);
  EXPECT_NE(message_of([&] { reader.read(-1, 0, 0, 1, 1, buffer.data()); }).find("level -1"),
            std::string::npos);
  EXPECT_NE(message_of([&] { reader.read(0, 0, 0, 9, 9, buffer.data(), 99); }).find("overlap"),
            std::string::npos);
  EXPECT_NE(message_of([&] { reader.read(0, -3, 0, 1, 1, buffer.data()); }).find("not inside"),
            std::string::npos);
  EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 7), std::ptrdiff_t(buffer.size()));
  EXPECT_EQ(reader.level_width(-1), 0);
  EXPECT_EQ(reader.level_height(3), 0);
  // A file cut short fails when opened, naming the file.
  const auto size = std::filesystem::file_size(name);
  std::filesystem::resize_file(name, size / 2);
  EXPECT_NE(message_of([&] { vexal::Reader{name}; }).find("ok.vxl"), std::string::npos);
}

// The largest size a header can state (support/largest_size_file.h): every level's size is
// exact, windows at either corner and the whole image fail with one error naming the file, and
// no arithmetic overflows on the way (the sanitizer build checks that).
TEST(Reader, LargestHeaderSizeIsDescribedAndRefusedCleanly) {
  vexal_test::ScratchDir dir;
  SyntheticImage image(64, 64, 1, kImage8Bit, kSchemeGray);
  const std::string name = encode(image, dir / "huge.vxl", 2, 128);
  ASSERT_TRUE(vexal_test::stretch_to_largest_size(name));

  vexal::Reader reader(name);
  EXPECT_EQ(reader.level_width(0), 2147483647);
  EXPECT_EQ(reader.level_height(1), 1 << 30);
  EXPECT_EQ(reader.level_width(2), 1 << 29);
  std::vector<unsigned char> buffer(16 * 16);
  for (int level : {0, 1, 2}) {
    const int last = reader.level_width(level) - 1;
    for (int x0 : {0, last - 15}) {
      SCOPED_TRACE(testing::Message() << "level " << level << " x0 " << x0);
      try {
        reader.read(level, x0, x0, x0 + 15, x0 + 15, buffer.data());
        ADD_FAILURE() << "a low-pass block larger than the file decoded";
      } catch (const vexal::Error& e) {
        EXPECT_NE(std::string(e.what()).find("huge.vxl: damaged file"), std::string::npos)
            << e.what();
      }
    }
  }
  try {
    reader.read(0, 0, 0, 2147483646, 2147483646, buffer.data());
    ADD_FAILURE() << "the whole image was decoded";
  } catch (const vexal::Error& e) {
    EXPECT_NE(std::string(e.what()).find("too large to decode at once"), std::string::npos)
        << e.what();
  }
}

namespace {

std::vector<uint8_t> bytes_of(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Counts what passes through: bytes, and batches (a multi-range read is one request).
class CountingSource final : public vexal::ByteSource {
 public:
  explicit CountingSource(std::shared_ptr<vexal::ByteSource> inner) : inner_(std::move(inner)) {}
  std::uint64_t size() const override { return inner_->size(); }
  void read(std::uint64_t offset, void* buffer, std::size_t length) override {
    ++requests;
    bytes += length;
    inner_->read(offset, buffer, length);
  }
  void read_ranges(const Range* ranges, std::size_t count) override {
    ++requests;
    for (std::size_t i = 0; i < count; ++i) {
      bytes += ranges[i].length;
      inner_->read(ranges[i].offset, ranges[i].buffer, ranges[i].length);
    }
  }
  std::atomic<uint64_t> bytes = 0, requests = 0;

 private:
  std::shared_ptr<vexal::ByteSource> inner_;
};

std::vector<unsigned char> window(vexal::Reader& reader, int level, int x0, int y0, int x1, int y1) {
  std::vector<unsigned char> out(size_t(x1 - x0 + 1) * size_t(y1 - y0 + 1) *
                                 size_t(reader.bands()));
  reader.read(level, x0, y0, x1, y1, out.data());
  return out;
}

// Bytes of the coded records a window needs, and of the headers of their parts (each counted
// as it could be at most: the largest table), straight from the file's tables.
struct Needed {
  uint64_t records = 0, headers = 0;
};

Needed needed_for(const VxlFile& f, int level, const Window& w) {
  Needed n;
  for (const SubbandWindow& sw : subband_windows(f, level, w))
    for (const VxlBlock& block : f.subbands()[size_t(sw.subband)].blocks)
      for (uint32_t offset : block.band_offsets) {
        const CoefficientWindow& c = sw.window;
        if (offset == 0 || block.x1 < c.x0 || block.x0 > c.x1 || block.y1 < c.y0 || block.y0 > c.y1)
          continue;
        const BandPart& p = *f.part(block, offset);
        n.headers += 2 + 16 + 256 + 12 + 4 * p.record_offsets.size();
        for (size_t r = 0; r < p.record_offsets.size(); ++r) {
          const CoefficientWindow rr = p.record_rect(block, r);
          if (rr.x1 < c.x0 || rr.x0 > c.x1 || rr.y1 < c.y0 || rr.y0 > c.y1) continue;
          const uint64_t end = r + 1 < p.record_offsets.size() ? p.record_offsets[r + 1]
                                                               : f.end_of_structure(p.record_offsets[r]);
          n.records += end - p.record_offsets[r];
        }
      }
  return n;
}

}  // namespace

TEST(ByteSource, MemoryAndCountedReadsGiveTheLocalPixelsFromOnlyTheBytesNeeded) {
  vexal_test::ScratchDir dir;
  SyntheticImage image(1500, 1100, 3, kImage8Bit, kSchemeRGB);
  const std::string name = encode(image, dir / "rgb.vxl", 4, 512);
  vexal::Reader local(name);
  vexal::Reader memory(vexal::memory_source(bytes_of(name)), "rgb in memory");
  EXPECT_EQ(memory.path(), "rgb in memory");
  for (int level : {0, 2, 4}) {
    const int x1 = local.level_width(level) - 1, y1 = local.level_height(level) - 1;
    EXPECT_TRUE(window(local, level, 0, 0, x1, y1) == window(memory, level, 0, 0, x1, y1)) << level;
  }

  auto counted = std::make_shared<CountingSource>(vexal::open_file_source(name));
  vexal::Reader reader(counted, name);
  // Opening: the header, every table and the metadata, in at most three requests.
  EXPECT_LE(counted->requests, 3u);
  EXPECT_LT(counted->bytes, 64u * 1024);
  reader.set_cache_limit(0);
  const VxlFile file(name);
  const Window w{700, 400, 955, 655};
  const Needed need = needed_for(file, 0, w);
  counted->bytes = counted->requests = 0;
  const std::vector<unsigned char> first = window(reader, 0, w.x0, w.y0, w.x1, w.y1);
  EXPECT_LE(counted->requests, 2u);  // the part headers, then the records
  EXPECT_LE(counted->bytes, need.records + need.records / 10 + need.headers)
      << need.records << " record bytes";
  // The headers are kept: the same window again reads its records alone.
  counted->bytes = counted->requests = 0;
  EXPECT_TRUE(window(reader, 0, w.x0, w.y0, w.x1, w.y1) == first);
  EXPECT_EQ(counted->requests, 1u);
  EXPECT_LE(counted->bytes, need.records + need.records / 10);
  EXPECT_TRUE(first == window(local, 0, w.x0, w.y0, w.x1, w.y1));
}

// A source that fails, or a file cut short behind the source, is one Error naming the file.
TEST(ByteSource, FailuresNameTheFile) {
  class Failing final : public vexal::ByteSource {
   public:
    std::uint64_t size() const override { return 1 << 20; }
    void read(std::uint64_t, void*, std::size_t) override { throw std::runtime_error("no route"); }
  };
  try {
    vexal::Reader(std::make_shared<Failing>(), "https://example.invalid/a.vxl");
    FAIL() << "opened";
  } catch (const vexal::Error& e) {
    EXPECT_STREQ(e.what(), "https://example.invalid/a.vxl: no route");
  }
  EXPECT_THROW(vexal::Reader(nullptr, "none"), vexal::Error);
}

// One Reader, many threads: reads and cache changes take turns, and every read is exact.
TEST(ByteSource, SharedReaderWithCacheChangesStaysExact) {
  vexal_test::ScratchDir dir;
  SyntheticImage image(600, 500, 3, kImage8Bit, kSchemeRGB);
  vexal::Reader reader(encode(image, dir / "shared.vxl", 3, 256));
  const std::vector<unsigned char> want = window(reader, 0, 100, 100, 355, 355);
  std::atomic<bool> wrong = false, done = false;
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t)
    readers.emplace_back([&] {
      for (int i = 0; i < 6; ++i)
        if (window(reader, 0, 100, 100, 355, 355) != want) wrong = true;
    });
  std::thread limits([&] {
    for (size_t i = 0; !done; ++i) reader.set_cache_limit((i % 3) * (size_t(1) << 20));
  });
  for (std::thread& t : readers) t.join();
  done = true;
  limits.join();
  EXPECT_FALSE(wrong);
}
