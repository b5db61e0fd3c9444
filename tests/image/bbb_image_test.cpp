#include "image/bbb_image.h"

#include <gtest/gtest.h>

#include "platform/error.h"
#include "reader_fixtures.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"

using namespace vexal_test;

namespace {

// A header with the given lines; pixel file of `size` bytes beside it.
std::string make_bbb(const ScratchDir& dir, const std::string& header, size_t size,
                     const std::string& name = "image") {
  write_text(dir / (name + ".hdr"), header);
  std::vector<uint8_t> pixels(size);
  for (size_t i = 0; i < size; ++i) pixels[i] = static_cast<uint8_t>(i * 7 + 3);
  write_bytes(dir / (name + ".bil"), pixels);
  return dir / (name + ".bil");
}

// The real header dialects that the reader must refuse, each with the message that says why.
TEST(BBBImage, RealSamplesOutsideTheFormatAreRefusedWithTheirReason) {
  VEXAL_REQUIRE_SAMPLE(float32, "bbb/float32.bil");
  VEXAL_REQUIRE_SAMPLE(int16, "bbb/int16_rat.bil");
  VEXAL_REQUIRE_SAMPLE(lower, "bbb/ehdr10.bil");
  VEXAL_REQUIRE_SAMPLE(worldclim, "bbb/wc_10m_CCCMA_A2a_2020_tmin_9.bil");
  VEXAL_REQUIRE_SAMPLE(landsat, "bbb/tm4628_96.bil");
  const char* size_message =
      "Error: The actual file size (%d) is not consistent with the reported file size (%d) for "
      "file %s.\nThis file's header must be repaired prior to encoding.";
  EXPECT_EQ(message_of([&] { BBBImage i(float32.string()); }),
            format_message(size_message, 1600, 400, float32.c_str()));
  EXPECT_EQ(message_of([&] { BBBImage i(int16.string()); }),
            format_message(size_message, 800, 400, int16.c_str()));
  EXPECT_EQ(message_of([&] { BBBImage i(lower.string()); }),
            "Error: missing required specification NBANDS in BIL/BIP/BSQ header.");
  EXPECT_EQ(message_of([&] { BBBImage i(worldclim.string()); }),
            format_message(size_message, 2, 900 * 2160, worldclim.c_str()));
  EXPECT_EQ(message_of([&] { BBBImage i(landsat.string()); }),
            "Error: this program can of process 1- or 3-band LAN files.");
}

// 8-bit multi-band rasters in all three layouts, written by gdal (BIL through its EHdr driver,
// BIP and BSQ through its ENVI driver under an ESRI header), must give gdal's pixels.
TEST(BBBImage, ThreeLayoutsGiveThePixelsGdalReads) {
  VEXAL_REQUIRE_GDAL();
  VEXAL_REQUIRE_SAMPLE(rgb, "tiff/rgb-3c-8b.tiff");
  ScratchDir dir;
  const std::vector<uint8_t> reference = gdal_planes(rgb.string(), dir / "ref.raw");
  const int w = 157, h = 151;
  ASSERT_EQ(reference.size(), size_t{3} * w * h);
  for (const char* layout : {"BIL", "BIP", "BSQ"}) {
    SCOPED_TRACE(layout);
    const std::string bil = dir / (std::string("t_") + layout + ".bil");
    if (std::string(layout) == "BIL") {
      gdal_translate({"-of", "EHdr", rgb.string(), bil});
    } else {
      gdal_translate({"-of", "ENVI", "-co", std::string("INTERLEAVE=") + layout, rgb.string(),
                      dir / "t.envi"});
      std::rename((dir / "t.envi").c_str(), bil.c_str());
      write_text(dir / (std::string("t_") + layout + ".hdr"),
                 std::string("NROWS 151\nNCOLS 157\nNBANDS 3\nNBITS 8\nLAYOUT ") + layout + "\n");
      // gdal itself must agree that the ESRI header describes these bytes.
      ASSERT_EQ(gdal_planes(bil, dir / "check.raw"), reference);
    }
    BBBImage image(bil);
    EXPECT_EQ(image.nband, 3);
    EXPECT_EQ(image.color_scheme, kSchemeRGB);
    EXPECT_EQ(whole(image), reference);
    EXPECT_EQ(section(image, 40, 99, 17, 150), window(reference, w, h, 3, 40, 99, 17, 150));
  }
}

TEST(BBBImage, SingleBandFromGdalAndSectionsBeyondTheImage) {
  VEXAL_REQUIRE_GDAL();
  VEXAL_REQUIRE_SAMPLE(grey, "tiff/minisblack-1c-8b.tiff");
  ScratchDir dir;
  gdal_translate({"-of", "EHdr", grey.string(), dir / "g.bil"});
  BBBImage image(dir / "g.bil");
  const std::vector<uint8_t> reference = gdal_planes(grey.string(), dir / "ref.raw");
  EXPECT_EQ(image.color_scheme, kSchemeGray);
  EXPECT_EQ(whole(image), reference);
  // Columns past the right edge keep the no-data prefill.
  const std::vector<uint8_t> edge = section(image, 150, 160, 0, 0);
  EXPECT_EQ(std::vector<uint8_t>(edge.begin(), edge.begin() + 7),
            std::vector<uint8_t>(reference.begin() + 150, reference.begin() + 157));
  EXPECT_EQ(std::vector<uint8_t>(edge.begin() + 7, edge.end()), std::vector<uint8_t>(4, 0));
}

TEST(BBBImage, HeaderKeywordsValuesAndDefaults) {
  ScratchDir dir;
  // A keyword glued to its colon, lower-case spellings, skip bytes and a display window.
  const std::string path = make_bbb(
      dir, "ncols: 10\nNROWS:5\nbands 3\ninterleaving bsq\nSKIPBYTES 12\nDYNAMICRANGEWINDOW 400\n"
           "ULXMAP 1000\nULYMAP 5000\nXDIM 2\nYDIM 2\nunknown words here\n",
      12 + 150);
  BBBImage image(path);
  EXPECT_EQ(image.image_width, 10);
  EXPECT_EQ(image.image_height, 5);
  EXPECT_EQ(image.header().layout, BBBImage::kLayoutBSQ);
  EXPECT_EQ(image.header().bandrowbytes, 10);
  EXPECT_EQ(image.header().totalrowbytes, 30);
  double window_value = 0, level = 0;
  ASSERT_GE(metadata_get(&image.metadata, "IMAGE::DYNAMIC_RANGE_WINDOW", &window_value), 0);
  ASSERT_GE(metadata_get(&image.metadata, "IMAGE::DYNAMIC_RANGE_LEVEL", &level), 0);
  EXPECT_EQ(window_value, 400.0);
  EXPECT_EQ(level, 127.0);
  double origin[2] = {};
  ASSERT_GE(metadata_get(&image.metadata, "IMAGE::XY_ORIGIN", origin), 0);
  EXPECT_EQ(origin[0], 1000.0);
  EXPECT_EQ(origin[1], 5000.0);
  // Band-sequential after 12 skipped bytes: band 2, row 4, column 9 is the last byte.
  const std::vector<uint8_t> px = whole(image);
  EXPECT_EQ(px.back(), static_cast<uint8_t>((12 + 149) * 7 + 3));
  EXPECT_EQ(px[50 + 3], static_cast<uint8_t>((12 + 50 + 3) * 7 + 3));
  image.place_by_georeference();
  EXPECT_EQ(image.support[0][0], 500);
  EXPECT_EQ(image.support[0][1], 509);
  EXPECT_EQ(image.support[1][0], -2500);
  EXPECT_EQ(image.support[1][1], -2496);
}

TEST(BBBImage, MalformedHeadersAreRefused) {
  ScratchDir dir;
  const std::string base = "NCOLS 100\nNROWS 50\nNBANDS 3\nLAYOUT BSQ\nSKIPBYTES 512\n";
  EXPECT_NO_THROW(BBBImage(make_bbb(dir, base, 15512)));
  const std::string longer = make_bbb(dir, base, 15513, "longer");
  EXPECT_EQ(message_of([&] { BBBImage i(longer); }),
            format_message("Error: The actual file size (15513) is not consistent with the "
                           "reported file size (15512) for file %s.\nThis file's header must be "
                           "repaired prior to encoding.", longer.c_str()));
  struct Case {
    const char* header;
    const char* message;
  };
  const Case cases[] = {
      {"WORDLENGTH 2\n", "Error: This version of the Vexal Encoder does not support 16 bit imagery."},
      {"WORDLENGTH 3\n", "Error: this program only processes BBB images with a word length of 1 or 2."},
      {"NBANDS 2\n", "Error: this program can of process 1- or 3-band LAN files."},
      {"LAYOUT BXQ\n", "Unknown layout specification found."},
      {"NBANDS 1\nNROWS 5\n", "Error: missing required specification NCOLS in BIL/BIP/BSQ header."},
      {"NBANDS 1\nNCOLS 5\n", "Error: missing required specification NROWS in BIL/BIP/BSQ header."},
      {"NBANDS 1\nNCOLS five\n", nullptr},  // ReadError naming the header
      {"NBANDS 1\nNCOLS -5\nNROWS 2\n", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    const std::string path = make_bbb(dir, c.header, 10, "bad");
    const std::string got = message_of([&] { BBBImage i(path); });
    if (c.message)
      EXPECT_EQ(got, c.message);
    else
      EXPECT_NE(got, "(no error)");
  }
  EXPECT_EQ(message_of([&] { BBBImage i(make_bbb(dir, "NBANDS 1\nNCOLS five\n", 10, "bad")); }),
            format_message("Error reading file %s.", (dir / "bad.hdr").c_str()));
}

TEST(BBBImage, ThreeBandsWithoutLayoutReadOnlyAsGrey) {
  ScratchDir dir;
  BBBImage three(make_bbb(dir, "NCOLS 4\nNROWS 2\nNBANDS 3\n", 24, "three"));
  EXPECT_EQ(message_of([&] { whole(three); }),
            "Error: unknown band structure encountered in subroutine BBBImage::extract.");
  BBBImage one(make_bbb(dir, "NCOLS 4\nNROWS 2\nNBANDS 1\n", 8, "one"));
  EXPECT_EQ(whole(one)[7], static_cast<uint8_t>(7 * 7 + 3));
}

TEST(BBBImage, TransparentPixelsLeaveTheBufferAlone) {
  ScratchDir dir;
  write_text(dir / "t.hdr", "NCOLS 3\nNROWS 1\nNBANDS 3\nLAYOUT BIP\n");
  write_bytes(dir / "t.bil", {1, 2, 3, 9, 9, 9, 9, 9, 8});
  const uint8_t no_data[3] = {50, 60, 70}, transparent[3] = {9, 9, 9};
  BBBImage image(dir / "t.bil", no_data, transparent);
  // The middle pixel equals the transparent colour; the last differs in one band only.
  EXPECT_EQ(whole(image), (std::vector<uint8_t>{1, 50, 9, 2, 60, 9, 3, 70, 8}));
}

TEST(BBBImage, CompatibilityNamesTheFirstDifference) {
  ScratchDir dir;
  BBBImage a(make_bbb(dir, "NCOLS 2\nNROWS 2\nNBANDS 1\nXDIM 2\nYDIM 2\n", 4, "a"));
  BBBImage b(make_bbb(dir, "NCOLS 2\nNROWS 2\nNBANDS 1\nXDIM 3\nYDIM 3\n", 4, "b"));
  BBBImage c(make_bbb(dir, "NCOLS 2\nNROWS 2\nNBANDS 1\nXDIM 2\nYDIM 3\n", 4, "c"));
  BBBImage d(make_bbb(dir, "NCOLS 2\nNROWS 2\nNBANDS 3\nXDIM 2\nYDIM 2\n", 12, "d"));
  const char* an = a.file().path();
  EXPECT_NO_THROW(a.check_compatible(a));
  EXPECT_EQ(message_of([&] { a.check_compatible(b); }),
            format_message("File incompatibility: files %s and %s have different x-resolutions.",
                           an, b.file().path()));
  EXPECT_EQ(message_of([&] { a.check_compatible(c); }),
            format_message("File incompatibility: files %s and %s have different y-resolutions.",
                           an, c.file().path()));
  EXPECT_EQ(message_of([&] { a.check_compatible(d); }),
            format_message("File incompatibility: files %s and %s have a different number of "
                           "spectral bands.", an, d.file().path()));
}

}  // namespace
