#include "image/tiff_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>

#include "image/image_factory.h"
#include "platform/error.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"
#include "tiff_fixture.h"

using vexal_test::TiffSpec;

namespace {

std::string message_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no exception)";
}

double record_double(const MetadataList& list, const char* key, int index = 0) {
  const MetadataRecord* r = metadata_record(&list, key);
  if (!r || r->type != TYPE_DOUBLE) return -12345.0;
  double v;
  std::memcpy(&v, r->values.data() + 8 * index, 8);
  return v;
}

std::vector<uint16_t> colour_map(int bits, bool grey) {
  int n = 1 << bits;
  std::vector<uint16_t> map(3 * n);
  for (int i = 0; i < n; ++i) {
    map[i] = static_cast<uint16_t>(((i * 37) & 255) * 257);
    map[n + i] = grey ? map[i] : static_cast<uint16_t>(((i * 91 + 5) & 255) * 257);
    map[2 * n + i] = grey ? map[i] : static_cast<uint16_t>((255 - i % 256) * 257);
  }
  return map;
}

// An 8-bit grey image of one uncompressed strip whose directory precedes the pixels, with only
// `present` bytes of pixels in the file.
void write_header_first_tiff(const std::string& path, uint16_t w, uint16_t h, size_t present) {
  std::vector<uint8_t> b = {'I', 'I', 42, 0, 8, 0, 0, 0, 8, 0};
  auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) {
    for (uint32_t v : {uint32_t{tag}, uint32_t{type}}) b.push_back(v & 255), b.push_back(v >> 8);
    for (uint32_t v : {1u, value})
      for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 255);
  };
  const uint32_t data = 8 + 2 + 8 * 12 + 4;
  entry(256, 3, w);
  entry(257, 3, h);
  entry(258, 3, 8);
  entry(259, 3, 1);
  entry(262, 3, 1);
  entry(273, 4, data);
  entry(278, 3, h);
  entry(279, 4, uint32_t{w} * h);
  b.insert(b.end(), 4, 0);
  for (size_t i = 0; i < present; ++i) b.push_back(static_cast<uint8_t>(i));
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
}

}  // namespace

// Every accepted plain TIFF sample reads as libtiff reads it: strips and tiles, big- and
// little-endian, BigTIFF, bilevel MinIsWhite, CCITT G4, palette and JPEG tiles.
TEST(TiffImageSamples, AcceptedFilesMatchLibtiff) {
  for (const char* name :
       {"tiff/minisblack-1c-8b.tiff", "tiff/miniswhite-1c-1b.tiff", "tiff/palette-1c-8b.tiff",
        "tiff/rgb-3c-8b.tiff", "tiff/quad-tile.jpg.tiff", "tiff/tiff_strip_raw.tif",
        "tiff/tiff_tiled_raw.tif", "tiff/tiff_tiled_planar_raw.tif", "tiff/hopper_g4.tif",
        "tiff/hopper_bigtiff.tif"}) {
    SCOPED_TRACE(name);
    VEXAL_REQUIRE_SAMPLE(path, name);
    TIFFImage image(path.string(), 0, 0);
    EXPECT_EQ(vexal_test::differences_from_rgba(image, path.string()), 0u);
  }
}

TEST(TiffImageSamples, StripAndTileLayoutsOfOnePictureAgree) {
  VEXAL_REQUIRE_SAMPLE(strip, "tiff/tiff_strip_raw.tif");
  VEXAL_REQUIRE_SAMPLE(tiled, "tiff/tiff_tiled_raw.tif");
  VEXAL_REQUIRE_SAMPLE(planar, "tiff/tiff_tiled_planar_raw.tif");
  TIFFImage a(strip.string(), 0, 0), b(tiled.string(), 0, 0), c(planar.string(), 0, 0);
  EXPECT_EQ(vexal_test::read_all(a), vexal_test::read_all(b));
  EXPECT_EQ(vexal_test::read_all(a), vexal_test::read_all(c));
}

// CMYK planes follow the system's conversion of the separated samples libtiff delivers.
TEST(TiffImageSamples, CmykSample) {
  VEXAL_REQUIRE_SAMPLE(path, "tiff/rgbsmall_cmyk.tif");
  TIFFImage image(path.string(), 0, 0);
  ASSERT_EQ(image.nband, 4);
  EXPECT_EQ(image.color_scheme, kSchemeCMYK);
  std::vector<uint8_t> planes = vexal_test::read_all(image);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  ASSERT_TRUE(tif);
  const int w = image.image_width, plane = w * image.image_height;
  std::vector<uint8_t> line(TIFFScanlineSize(tif));
  int bad = 0;
  for (int y = 0; y < image.image_height; ++y) {
    ASSERT_GE(TIFFReadScanline(tif, line.data(), y, 0), 0);
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = &line[4 * x];
      int i = y * w + x;
      auto conv = [](int a, int k) { return 255 - static_cast<int>((a + k) / 2.0 + 0.5); };
      bad += planes[i] != conv(p[0], p[3]) || planes[plane + i] != conv(p[1], p[3]) ||
             planes[2 * plane + i] != conv(p[2], p[3]) ||
             planes[3 * plane + i] != std::min({p[0], p[1], p[2]});
    }
  }
  TIFFClose(tif);
  EXPECT_EQ(bad, 0);
}

TEST(TiffImageSamples, RefusedFilesGiveTheirMessages) {
  VEXAL_REQUIRE_SAMPLE(path, "tiff/palette-1c-4b.tiff");
  EXPECT_EQ(message_of([&] { TIFFImage image(path.string(), 0, 0); }),
            "Error: this program can only read 1 and 8 bit-per-sample TIFF images, 16-bit "
            "integer and 32-bit floating point ones.");
  // Once refused: 16-bit samples, and RGBA whose alpha band is now kept and coded on its own.
  VEXAL_REQUIRE_SAMPLE(deep, "tiff/minisblack-1c-16b.tiff");
  TIFFImage sixteen(deep.string(), 0, 0);
  EXPECT_EQ(sixteen.data_type, kImage16Bit);
  VEXAL_REQUIRE_SAMPLE(rgba, "tiff/stefan_full_rgba.tif");
  TIFFImage four(rgba.string(), 0, 0);
  EXPECT_TRUE(four.separate_bands);
  EXPECT_EQ(four.coded_bands(), 4);
  EXPECT_STREQ(metadata_record(&four.metadata, "IMAGE::BAND_COLORS")->strings[0].c_str(),
               "Red,Green,Blue,Alpha");
}

// Codecs and layouts the samples do not cover, written here with libtiff: each must read
// exactly as libtiff's RGBA interface reads it (JPEG within its own rounding).
TEST(TiffImageFixtures, CodecsAndLayoutsMatchLibtiff) {
  vexal_test::ScratchDir dir;
  struct Case {
    const char* label;
    TiffSpec layout;
    int tolerance;
  };
  auto layout = [](uint16_t samples, uint16_t photometric, uint16_t compression, uint32_t rps,
                 uint32_t tile) {
    TiffSpec s;
    s.width = 150;
    s.height = 77;
    s.samples = samples;
    s.photometric = photometric;
    s.compression = compression;
    s.rows_per_strip = rps;
    s.tile = tile;
    return s;
  };
  std::vector<Case> cases = {
      {"lzw strips grey", layout(1, PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW, 5, 0), 0},
      {"deflate tiles rgb", layout(3, PHOTOMETRIC_RGB, COMPRESSION_ADOBE_DEFLATE, 0, 32), 0},
      {"packbits tiles grey", layout(1, PHOTOMETRIC_MINISWHITE, COMPRESSION_PACKBITS, 0, 48), 0},
      {"lzw strips rgb", layout(3, PHOTOMETRIC_RGB, COMPRESSION_LZW, 13, 0), 0},
      {"raw tiles miniswhite", layout(1, PHOTOMETRIC_MINISWHITE, COMPRESSION_NONE, 0, 16), 0},
  };
  Case be{"big-endian lzw rgb", layout(3, PHOTOMETRIC_RGB, COMPRESSION_LZW, 7, 0), 0};
  be.layout.mode = "wb";
  cases.push_back(be);
  Case big{"bigtiff deflate tiles", layout(1, PHOTOMETRIC_MINISBLACK, COMPRESSION_ADOBE_DEFLATE, 0, 64), 0};
  big.layout.mode = "w8";
  cases.push_back(big);
  Case jpeg{"jpeg ycbcr tiles", layout(3, PHOTOMETRIC_YCBCR, COMPRESSION_JPEG, 0, 32), 0};
  cases.push_back(jpeg);
  Case jpeg_strips{"jpeg grey strips", layout(1, PHOTOMETRIC_MINISBLACK, COMPRESSION_JPEG, 16, 0), 0};
  cases.push_back(jpeg_strips);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string path = dir / (std::string(c.label) + ".tif");
    vexal_test::write_tiff(path, c.layout, vexal_test::pattern(c.layout), [&](TIFF* tif) {
      if (c.layout.photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    });
    TIFFImage image(path, 0, 0);
    EXPECT_EQ(vexal_test::differences_from_rgba(image, path, c.tolerance), 0u);
  }
}

// Bilevel images: both photometrics, partial bytes at tile and strip edges, the reversed fill
// order, and 1-bit palettes whose bit is the palette index.
TEST(TiffImageFixtures, BilevelVariantsMatchLibtiff) {
  vexal_test::ScratchDir dir;
  int n = 0;
  for (uint16_t photometric : {PHOTOMETRIC_MINISBLACK, PHOTOMETRIC_MINISWHITE})
    for (uint32_t tile : {0u, 16u})
      for (uint16_t fill : {FILLORDER_MSB2LSB, FILLORDER_LSB2MSB}) {
        if (tile && fill == FILLORDER_LSB2MSB) continue;  // libtiff cannot write these
        TiffSpec s;
        s.width = 45;
        s.height = 37;
        s.bits = 1;
        s.photometric = photometric;
        s.tile = tile;
        s.rows_per_strip = 4;
        s.fill_order = fill;
        std::string path = dir / ("bilevel" + std::to_string(n++) + ".tif");
        vexal_test::write_tiff(path, s, vexal_test::pattern(s, n));
        SCOPED_TRACE(path);
        TIFFImage image(path, 0, 0);
        EXPECT_EQ(vexal_test::differences_from_rgba(image, path), 0u);
        // Black is 0 under both photometrics.
        std::vector<uint8_t> planes = vexal_test::read_all(image);
        EXPECT_TRUE(std::all_of(planes.begin(), planes.end(),
                                [](uint8_t v) { return v == 0 || v == 255; }));
      }
  TiffSpec s;
  s.width = 21;
  s.height = 9;
  s.bits = 1;
  s.photometric = PHOTOMETRIC_PALETTE;
  s.color_map = colour_map(1, false);
  std::string path = dir / "palette1.tif";
  vexal_test::write_tiff(path, s, vexal_test::pattern(s));
  TIFFImage image(path, 0, 0);
  EXPECT_EQ(image.nband, 3);
  EXPECT_EQ(vexal_test::differences_from_rgba(image, path), 0u);
}

TEST(TiffImageFixtures, PalettesGreyAndColour) {
  vexal_test::ScratchDir dir;
  TiffSpec s;
  s.width = 33;
  s.height = 20;
  s.photometric = PHOTOMETRIC_PALETTE;
  s.compression = COMPRESSION_LZW;
  s.rows_per_strip = 3;
  s.color_map = colour_map(8, true);
  vexal_test::write_tiff(dir / "grey.tif", s, vexal_test::pattern(s));
  TIFFImage grey(dir / "grey.tif", 0, 0);
  EXPECT_EQ(grey.nband, 1);
  EXPECT_EQ(grey.color_scheme, kSchemeGray);
  EXPECT_EQ(grey.lut_size(), 0);
  EXPECT_EQ(grey.name().find("CLUT"), std::string::npos);
  EXPECT_EQ(vexal_test::differences_from_rgba(grey, dir / "grey.tif"), 0u);

  s.color_map[256 + 200] ^= 0x100;  // one entry no longer grey
  vexal_test::write_tiff(dir / "colour.tif", s, vexal_test::pattern(s));
  TIFFImage colour(dir / "colour.tif", 0, 0);
  EXPECT_EQ(colour.nband, 3);
  EXPECT_EQ(colour.color_scheme, kSchemeRGB);
  EXPECT_EQ(colour.lut_size(), 256);
  EXPECT_EQ(colour.name(), "Cmpr_LZW CLUT ");
  EXPECT_EQ(vexal_test::differences_from_rgba(colour, dir / "colour.tif"), 0u);
  const MetadataRecord* lut = metadata_record(&colour.metadata, "IMAGE::INPUT_LUT");
  ASSERT_TRUE(lut);
  EXPECT_EQ(lut->count, 768);
  EXPECT_EQ(lut->values[256 + 200], s.color_map[256 + 200] >> 8);
}

// Sections in any position: partly outside the image, offset by the placement, and the
// transparent colour leaving the prefill visible.
TEST(TiffImageExtract, SectionsPlacementAndTransparency) {
  vexal_test::ScratchDir dir;
  TiffSpec s;
  s.width = 40;
  s.height = 30;
  s.samples = 3;
  s.photometric = PHOTOMETRIC_RGB;
  s.compression = COMPRESSION_ADOBE_DEFLATE;
  s.tile = 16;
  std::vector<uint8_t> data = vexal_test::pattern(s);
  data[3 * (5 * 40 + 7)] = 1, data[3 * (5 * 40 + 7) + 1] = 2, data[3 * (5 * 40 + 7) + 2] = 3;
  vexal_test::write_tiff(dir / "a.tif", s, data);
  const uint8_t no_data[3] = {9, 9, 9}, transparent[3] = {1, 2, 3};
  TIFFImage image(dir / "a.tif", 100, 200, no_data, transparent);
  EXPECT_EQ(image.support[0][0], 100);
  EXPECT_EQ(image.support[1][1], 229);
  int section[2][2] = {{95, 110}, {203, 206}};  // columns 95..99 outside the file
  std::unique_ptr<PixelData> block = image.extract(section);
  const auto* p = static_cast<const uint8_t*>(block->data());
  const int w = 16, plane = 16 * 4;
  for (int b = 0; b < 3; ++b)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < w; ++x) {
        int fx = x + 95 - 100, fy = y + 3;
        uint8_t expected = fx < 0 || (fx == 7 && fy == 5) ? 9 : data[3 * (fy * 40 + fx) + b];
        ASSERT_EQ(p[b * plane + y * w + x], expected) << b << " " << x << " " << y;
      }
  int missed[2][2] = {{0, 10}, {0, 10}};
  std::vector<uint8_t> untouched(3 * 121, 77);
  image.extract(missed, untouched.data());
  EXPECT_TRUE(std::all_of(untouched.begin(), untouched.end(), [](uint8_t v) { return v == 77; }));
}

TEST(TiffImageMetadata, ResolutionRecordsAndOrigin) {
  vexal_test::ScratchDir dir;
  TiffSpec s;
  s.width = 10;
  s.height = 600;
  vexal_test::write_tiff(dir / "none.tif", s, vexal_test::pattern(s));
  TIFFImage none(dir / "none.tif", 0, 0);
  EXPECT_EQ(metadata_find(&none.metadata, "IMAGE::X_RESOLUTION"), kMetaNotFound);
  EXPECT_EQ(metadata_find(&none.metadata, "IMAGE::Y_RESOLUTION"), kMetaNotFound);
  EXPECT_EQ(record_double(none.metadata, "IMAGE::XY_ORIGIN", 0), 0.0);
  EXPECT_EQ(record_double(none.metadata, "IMAGE::XY_ORIGIN", 1), 600.0);
  EXPECT_FALSE(none.is_georeferenced());

  s.x_resolution = 300;
  s.y_resolution = 150;
  vexal_test::write_tiff(dir / "res.tif", s, vexal_test::pattern(s));
  TIFFImage res(dir / "res.tif", 0, 0);
  EXPECT_FLOAT_EQ(record_double(res.metadata, "IMAGE::X_RESOLUTION"), 1.0f / 300);
  EXPECT_FLOAT_EQ(record_double(res.metadata, "IMAGE::Y_RESOLUTION"), 1.0f / 150);
  EXPECT_FLOAT_EQ(record_double(res.metadata, "IMAGE::XY_ORIGIN", 1), 600.0f / 300);
  const MetadataRecord* bits = metadata_record(&res.metadata, "IMAGE::BITS_PER_SAMPLE");
  ASSERT_TRUE(bits);
  EXPECT_EQ(bits->type, TYPE_SHORT);
  EXPECT_EQ(metadata_find(&res.metadata, "IMAGE::WIDTH") <
                metadata_find(&res.metadata, "IMAGE::BITS_PER_SAMPLE"),
            true);
}

TEST(TiffImageErrors, RefusedVariantsAndDamagedFiles) {
  vexal_test::ScratchDir dir;
  TiffSpec s;
  s.samples = 2;
  vexal_test::write_tiff(dir / "two.tif", s, vexal_test::pattern(s));
  // Two bands were refused once; now both are coded, each on its own.
  EXPECT_EQ(TIFFImage(dir / "two.tif", 0, 0).coded_bands(), 2);
  // Separate planes are read, but not YCbCr ones, which libtiff turns into RGB only interleaved.
  s.samples = 3;
  s.photometric = PHOTOMETRIC_YCBCR;
  s.planar = PLANARCONFIG_SEPARATE;
  vexal_test::write_tiff(dir / "planar.tif", s, vexal_test::pattern(s));
  EXPECT_EQ(message_of([&] { TIFFImage i(dir / "planar.tif", 0, 0); }),
            "Error: the file " + (dir / "planar.tif") +
                " is a non-supported planar configuration type of 2.\nPlease convert image to "
                "Baseline TIFF and recompress.");

  std::ofstream(dir / "text.tif") << "not a tiff at all";
  EXPECT_EQ(message_of([&] { TIFFImage i(dir / "text.tif", 0, 0); }),
            "Error: " + (dir / "text.tif") + " is not a TIFF file (Not a TIFF or MDI file, bad "
                                             "magic number 28526 (0x6f6e)).");

  // An uncompressed strip cut short: the header is sound, the pixels are missing.
  write_header_first_tiff(dir / "cut.tif", 200, 100, 9000);
  TIFFImage cut(dir / "cut.tif", 0, 0);
  int top[2][2] = {{0, 199}, {0, 9}};
  EXPECT_NO_THROW(cut.extract(top));
  int bottom[2][2] = {{0, 199}, {90, 99}};
  EXPECT_EQ(message_of([&] { cut.extract(bottom); }),
            "Error reading file " + (dir / "cut.tif") + ".");

  // A compressed strip cut short fails with libtiff's reason, never with a crash.
  TiffSpec t;
  t.width = 200;
  t.height = 100;
  t.compression = COMPRESSION_ADOBE_DEFLATE;
  t.rows_per_strip = 10;
  vexal_test::write_tiff(dir / "zcut.tif", t, vexal_test::pattern(t));
  auto size = std::filesystem::file_size(dir / "zcut.tif");
  std::filesystem::resize_file(dir / "zcut.tif", size / 2);
  std::string message = message_of([&] {
    TIFFImage z(dir / "zcut.tif", 0, 0);
    vexal_test::read_all(z);
  });
  EXPECT_EQ(message.rfind("Error", 0), 0u) << message;
  EXPECT_NE(message.find(dir / "zcut.tif"), std::string::npos) << message;
}

TEST(TiffImageMosaic, CompatibilityNeedsTheSameBandCount) {
  vexal_test::ScratchDir dir;
  TiffSpec grey, rgb;
  rgb.samples = 3;
  rgb.photometric = PHOTOMETRIC_RGB;
  vexal_test::write_tiff(dir / "g.tif", grey, vexal_test::pattern(grey));
  vexal_test::write_tiff(dir / "c.tif", rgb, vexal_test::pattern(rgb));
  TIFFImage g(dir / "g.tif", 0, 0), g2(dir / "g.tif", 64, 0), c(dir / "c.tif", 0, 0);
  EXPECT_NO_THROW(g.check_compatible(g2));
  EXPECT_EQ(message_of([&] { g.check_compatible(c); }),
            "File incompatibility: files " + (dir / "g.tif") + " and " + (dir / "c.tif") +
                " have a different number of spectral bands.");
}

// The factory's TIFF family: the same file as plain TIFF, or georeferenced by its tags.
TEST(TiffImageFactory, TypeWordsPickTheReader) {
  VEXAL_REQUIRE_SAMPLE(path, "geotiff/byte_point.tif");
  const uint8_t background[3] = {1, 2, 3};
  std::unique_ptr<Image> plain = create_image(path.string(), "TIFF", background, nullptr);
  std::unique_ptr<Image> geo = create_image(path.string(), "TIFG", background, nullptr);
  EXPECT_FALSE(plain->is_georeferenced());
  EXPECT_TRUE(geo->is_georeferenced());
  EXPECT_EQ(geo->xcoord(), 440720.0);
  EXPECT_EQ(geo->no_data_value()[2], 3);
  EXPECT_EQ(message_of([&] { create_image(path.string(), "TIFW", nullptr, nullptr); }),
            "Error: can't find a TIFF world file for " + path.string() + ".");
}
