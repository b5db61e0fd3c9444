// The public reading library: what it reports about encoded images, windows that agree exactly
// with the one-piece decode however a region is cut, the record cache, georeferencing from a
// real GeoTIFF, and one clear error for every bad request.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "decoder/coefficient_reader.h"
#include "decoder/decoded_image.h"
#include "decoder/record_cache.h"
#include "decoder/subband_geometry.h"
#include "decoder/vxl_check.h"
#include "decoder/vxl_file.h"
#include "encoder/core/encoder.h"
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
  // A file cut short fails when opened, naming the file.
  const auto size = std::filesystem::file_size(name);
  std::filesystem::resize_file(name, size / 2);
  EXPECT_NE(message_of([&] { vexal::Reader{name}; }).find("ok.vxl"), std::string::npos);
}
