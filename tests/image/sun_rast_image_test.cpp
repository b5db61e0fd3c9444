#include "image/sun_rast_image.h"

#include <gtest/gtest.h>

#include "image/reader_test_util.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"

namespace {

using vexal_test::Bytes;
using vexal_test::thrown_message;

const char* const kConvert = "/usr/bin/convert";

// A Sun raster file laid out by hand: header, colour map, rows exactly as given (padded by
// the caller).
struct Raster {
  uint32_t width = 4, height = 2, depth = 8, type = 1, map_type = 0;
  Bytes map;
  Bytes rows;
  bool big_endian = true;
  int64_t map_length = -1;  // the map's size unless set
};

Raster raster(uint32_t width, uint32_t height, uint32_t depth, Bytes rows = {}) {
  Raster r;
  r.width = width;
  r.height = height;
  r.depth = depth;
  r.rows = std::move(rows);
  return r;
}

Raster mapped(uint32_t width, Bytes map, Bytes rows) {
  Raster r = raster(width, 1, 8, std::move(rows));
  r.map_type = 1;
  r.map = std::move(map);
  return r;
}

Bytes build(const Raster& r) {
  Bytes out;
  auto put = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) {
      const int shift = r.big_endian ? 24 - 8 * i : 8 * i;
      out.push_back(static_cast<uint8_t>(v >> shift));
    }
  };
  put(0x59a66a95);
  put(r.width);
  put(r.height);
  put(r.depth);
  put(static_cast<uint32_t>(r.rows.size()));
  put(r.type);
  put(r.map_type);
  put(r.map_length >= 0 ? static_cast<uint32_t>(r.map_length) : static_cast<uint32_t>(r.map.size()));
  out.insert(out.end(), r.map.begin(), r.map.end());
  out.insert(out.end(), r.rows.begin(), r.rows.end());
  return out;
}

class SunRastFixture : public ::testing::Test {
 protected:
  std::string write(const Raster& r, const std::string& name = "x.ras") {
    const std::string path = scratch_ / name;
    vexal_test::write_bytes(path, build(r));
    return path;
  }
  vexal_test::ScratchDir scratch_;
};

// ---- Real files: the pixels ImageMagick reads ------------------------------------------

struct RealRaster {
  const char* path;
  int bands;
};

class SunRastSample : public ::testing::TestWithParam<RealRaster> {};

TEST_P(SunRastSample, MatchesImageMagick) {
  const std::string relative = std::string("rast/") + GetParam().path;
  VEXAL_REQUIRE_SAMPLE(path, relative);
  if (!vexal_test::have_tool(kConvert)) GTEST_SKIP() << "ImageMagick not installed";
  SunRastImage image(path.string(), 0, 0);
  ASSERT_EQ(image.nband, GetParam().bands);
  EXPECT_EQ(image.color_scheme, GetParam().bands == 1 ? kSchemeGray : kSchemeRGB);
  const Bytes reference = vexal_test::tool_bytes(
      kConvert, {path.string(), "-depth", "8", GetParam().bands == 1 ? "gray:-" : "rgb:-"});
  ASSERT_EQ(reference.size(), size_t(image.image_width) * image.image_height * image.nband);
  EXPECT_EQ(vexal_test::whole_image(image, image.nband), reference);
}

INSTANTIATE_TEST_SUITE_P(Real, SunRastSample,
                         ::testing::Values(RealRaster{"rgb-gimp-2.10-1bit.ras", 1},
                                           RealRaster{"rgb-gimp-2.10-gray.ras", 1},
                                           RealRaster{"rgb-gimp-2.10-pal16.ras", 3},
                                           RealRaster{"rgb-gimp-2.8.10-standard.ras", 3},
                                           RealRaster{"rgb24.ras", 3}));

TEST(SunRastImage, RunLengthEncodedSamplesAreRefused) {
  for (const char* name : {"rast/rle_24bit.ras", "rast/sunraster.im1"}) {
    VEXAL_REQUIRE_SAMPLE(path, name);
    EXPECT_EQ(thrown_message([&] { SunRastImage image(path.string(), 0, 0); }),
              "This program can't read byte encoded Sun rasterfiles.");
  }
}

// ---- Layouts built by hand, checked against ImageMagick and against the layout --------

TEST_F(SunRastFixture, RowPaddingOfOddWidthsMatchesImageMagick) {
  if (!vexal_test::have_tool(kConvert)) GTEST_SKIP() << "ImageMagick not installed";
  // 17 bits padded to 32; 5 x 3 bytes padded to 16; 3 grey bytes padded to 4.
  Raster bits = raster(17, 3, 1);
  for (int y = 0; y < 3; ++y) bits.rows.insert(bits.rows.end(), {0xA5, uint8_t(0x3C + y), 0x80, 0xFF});
  Raster rgb = raster(5, 2, 24);
  for (int i = 0; i < 32; ++i) rgb.rows.push_back(static_cast<uint8_t>(i * 7));
  Raster grey = raster(3, 2, 8, {10, 20, 30, 99, 40, 50, 60, 99});
  for (const Raster& r : {bits, rgb, grey}) {
    SCOPED_TRACE(r.depth);
    const std::string path = write(r);
    SunRastImage image(path, 0, 0);
    const Bytes reference =
        vexal_test::tool_bytes(kConvert, {path, "-depth", "8", r.depth == 24 ? "rgb:-" : "gray:-"});
    EXPECT_EQ(vexal_test::whole_image(image, image.nband), reference);
  }
  // The layout itself: the last 1-bit pixel of row 0 is the top bit of its third byte.
  SunRastImage image(write(bits), 0, 0);
  auto pixels = vexal_test::whole_image(image, 1);
  EXPECT_EQ(pixels[16], 0);                        // 0x80: set, black
  EXPECT_EQ(pixels[17 + 16], 0);                   // row 1 starts 4 bytes on
  EXPECT_EQ(pixels[0], 0);                         // 0xA5 = 1010 0101
  EXPECT_EQ(pixels[1], 255);
}

TEST_F(SunRastFixture, BigEndianFileAndLittleEndianTwinReadAlike) {
  Raster r = raster(2, 2, 24, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  const auto big = vexal_test::whole_image(*std::make_unique<SunRastImage>(write(r, "b.ras"), 0, 0), 3);
  r.big_endian = false;
  const auto little = vexal_test::whole_image(*std::make_unique<SunRastImage>(write(r, "l.ras"), 0, 0), 3);
  EXPECT_EQ(big, little);
  // Standard type stores B, G, R.
  EXPECT_EQ(big, (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}));
}

TEST_F(SunRastFixture, ThirtyTwoBitPixelsDropTheirFirstByte) {
  Raster r = raster(2, 1, 32, {0xEE, 1, 2, 3, 0xEE, 4, 5, 6});
  for (uint32_t type : {1u, 3u}) {
    r.type = type;
    SunRastImage image(write(r), 0, 0);
    EXPECT_EQ(image.nband, 4);
    EXPECT_EQ(image.color_scheme, kSchemeUnknown);
    EXPECT_EQ(image.coded_bands(), 3);
    const Bytes expected = type == 3 ? Bytes{1, 2, 3, 4, 5, 6} : Bytes{3, 2, 1, 6, 5, 4};
    EXPECT_EQ(vexal_test::whole_image(image, 3), expected) << "type " << type;
  }
}

TEST_F(SunRastFixture, ColourMapsGiveGreyOrRgb) {
  // Four entries, red table then green then blue; all grey.
  Raster r = mapped(4, {0, 80, 160, 240, 0, 80, 160, 240, 0, 80, 160, 240}, {3, 2, 1, 0});
  {
    SunRastImage image(write(r), 0, 0);
    EXPECT_EQ(image.nband, 1);
    EXPECT_EQ(image.color_scheme, kSchemeGray);
    EXPECT_EQ(image.name(), "");
    EXPECT_EQ(image.lut_size(), 4);
    EXPECT_EQ(vexal_test::whole_image(image, 1), (Bytes{240, 160, 80, 0}));
  }
  r.map[4 + 2] = 161;  // one green entry differs
  SunRastImage image(write(r), 0, 0);
  EXPECT_EQ(image.nband, 3);
  EXPECT_EQ(image.color_scheme, kSchemeRGB);
  EXPECT_EQ(image.name(), "CLUT ");
  EXPECT_EQ(vexal_test::whole_image(image, 3),
            (Bytes{240, 240, 240, 160, 161, 160, 80, 80, 80, 0, 0, 0}));
  const MetadataRecord* lut = metadata_record(&image.metadata, "IMAGE::INPUT_LUT");
  ASSERT_NE(lut, nullptr);
  EXPECT_EQ(lut->count, 12);
}

TEST_F(SunRastFixture, IndicesPastAShortColourMapReadZeroNotBeyondTheMap) {
  Raster r = mapped(2, {10, 20, 30, 40, 50, 60}, {1, 200});  // two coloured entries
  SunRastImage image(write(r), 0, 0);
  EXPECT_EQ(vexal_test::whole_image(image, 3), (Bytes{20, 40, 60, 0, 0, 0}));
}

TEST_F(SunRastFixture, TransparentColourLeavesMappedPixelsUnwritten) {
  Raster r = mapped(3, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {0, 1, 2, 0});
  const uint8_t no_data[3] = {77, 77, 77};
  const uint8_t transparent[3] = {2, 5, 8};  // entry 1
  SunRastImage image(write(r), 0, 0, no_data, transparent);
  EXPECT_EQ(vexal_test::whole_image(image, 3), (Bytes{1, 4, 7, 77, 77, 77, 3, 6, 9}));
}

TEST_F(SunRastFixture, SectionsArePlacedByTheOrigin) {
  Raster r = raster(4, 2, 8, {1, 2, 3, 4, 5, 6, 7, 8});
  const uint8_t no_data[3] = {9, 9, 9};
  SunRastImage image(write(r), 10, 20, no_data);
  EXPECT_EQ(image.support[0][0], 10);
  EXPECT_EQ(image.support[0][1], 13);
  EXPECT_EQ(image.support[1][1], 21);
  // A section hanging over the top-left corner: only the overlap is written.
  EXPECT_EQ(vexal_test::section_planes<uint8_t>(image, 9, 11, 19, 20),
            (Bytes{9, 9, 9, 9, 1, 2}));
  // A section that misses the file keeps its prefill.
  EXPECT_EQ(vexal_test::section_planes<uint8_t>(image, 0, 1, 0, 0), (Bytes{9, 9}));
}

TEST_F(SunRastFixture, OneBitSectionsStartingInsideAByteMatchTheWholeImage) {
  Raster r = raster(21, 2, 1, {0x12, 0x34, 0x56, 0x00, 0x9A, 0xBC, 0xDE, 0x00});
  SunRastImage image(write(r), 0, 0);
  const Bytes whole = vexal_test::whole_image(image, 1);
  const Bytes part = vexal_test::section_planes<uint8_t>(image, 5, 19, 1, 1);
  EXPECT_EQ(part, Bytes(whole.begin() + 21 + 5, whole.begin() + 21 + 20));
}

// ---- Refusals ---------------------------------------------------------------------------

TEST_F(SunRastFixture, HeaderVariantsAreRefusedWithTheirMessages) {
  struct Case {
    void (*tweak)(Raster&);
    const char* message;
  };
  const Case cases[] = {
      {[](Raster& r) { r.depth = 16; }, "Error: this program can't read depth 16 Sun raster files."},
      {[](Raster& r) { r.type = 2; }, "This program can't read byte encoded Sun rasterfiles."},
      {[](Raster& r) { r.type = 4; }, "This program can't read byte TIFF format Sun rasterfiles."},
      {[](Raster& r) { r.type = 5; }, "This program can't read byte IFF format Sun rasterfiles."},
      {[](Raster& r) { r.type = 0xffff; },
       "This program can't read byte experimental format Sun rasterfiles."},
      {[](Raster& r) { r.type = 6; }, "Unknown Sun rasterfile type found."},
      {[](Raster& r) { r.depth = 24, r.map_type = 1; },
       "This program doesn't understand Sun raster files with a color map and a depth that is "
       "not equal to 8."},
      {[](Raster& r) { r.map_type = 2; }, "This program can't read raw Sun raster file color maps."},
      {[](Raster& r) { r.map_type = 7; }, "Unknown Sun raster file color map type found."},
      {[](Raster& r) { r.map_length = 10; },
       "This program doesn't understand Sun raster files with a color map length that is not "
       "divisible by 3."},
      {[](Raster& r) { r.width = 0; }, "Invalid Sun rasterfile header encountered."},
  };
  for (const Case& c : cases) {
    Raster r = raster(4, 2, 8, Bytes(64));
    c.tweak(r);
    const std::string path = write(r);
    EXPECT_EQ(thrown_message([&] { SunRastImage image(path, 0, 0); }), c.message);
  }
  Bytes not_raster = build(Raster{});
  not_raster[0] = 0x5A;
  vexal_test::write_bytes(scratch_ / "bad.ras", not_raster);
  EXPECT_EQ(thrown_message([&] { SunRastImage image(scratch_ / "bad.ras", 0, 0); }),
            "Invalid Sun rasterfile header encountered.");
}

TEST_F(SunRastFixture, FilesShorterThanTheirHeaderSaysGiveReadError) {
  Raster rows_missing = raster(32, 32, 24, Bytes(32 * 96 - 1));
  Raster map_missing = mapped(1, {}, {0, 0});
  map_missing.map_length = 0x7FFFFFF8;
  Raster huge = raster(0x7FFFFFFF, 0x7FFFFFFF, 32);
  for (const Raster& r : {rows_missing, map_missing, huge}) {
    const std::string path = write(r);
    EXPECT_EQ(thrown_message([&] { SunRastImage image(path, 0, 0); }),
              "Error reading file " + path + ".");
  }
  Bytes cut = build(Raster{});
  cut.resize(20);
  vexal_test::write_bytes(scratch_ / "cut.ras", cut);
  EXPECT_EQ(thrown_message([&] { SunRastImage image(scratch_ / "cut.ras", 0, 0); }),
            "Error reading file " + scratch_ / "cut.ras" + ".");
  EXPECT_EQ(thrown_message([&] { SunRastImage image(scratch_ / "none.ras", 0, 0); }),
            "Error opening file " + scratch_ / "none.ras" + " for read.");
}

}  // namespace
