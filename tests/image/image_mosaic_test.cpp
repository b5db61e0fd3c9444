#include "image/image_mosaic.h"

#include <gtest/gtest.h>

#include "doq_fixture.h"
#include "image/lan_image.h"
#include "platform/error.h"
#include "reader_fixtures.h"
#include "tiff_fixture.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"

using namespace vexal_test;

namespace {

// The four quarters (x, y, width, height) of a 157 x 151 image, listed out of order.
const int kQuarters[4][4] = {{80, 70, 77, 81}, {0, 0, 80, 70}, {0, 70, 80, 81}, {80, 0, 77, 70}};

// Cuts the real RGB sample into georeferenced quarters with gdal in `format` and checks that
// the mosaic of the quarters, placed by their georeferencing, is the uncut image.
void expect_quarters_rebuild_the_image(const char* format, const char* extension,
                                       const char* tile_word) {
  VEXAL_REQUIRE_GDAL();
  VEXAL_REQUIRE_SAMPLE(rgb, "tiff/rgb-3c-8b.tiff");
  ScratchDir dir;
  gdal_translate({"-of", "GTiff", "-a_ullr", "1000", "2000", "1157", "1849", rgb.string(),
                  dir / "geo.tif"});
  std::string list;
  for (int i = 0; i < 4; ++i) {
    const std::string tile = dir / ("q" + std::to_string(i) + extension);
    const int* q = kQuarters[i];
    gdal_translate({"-of", format, "-srcwin", std::to_string(q[0]), std::to_string(q[1]),
                    std::to_string(q[2]), std::to_string(q[3]), dir / "geo.tif", tile});
    list += tile + (i == 1 ? "\n\n   \t\n" : "\n");  // blank lines are skipped
  }
  write_text(dir / "tiles.txt", list);
  ImageMosaic mosaic(dir / "tiles.txt", tile_word);
  EXPECT_EQ(mosaic.tile_count(), 4);
  EXPECT_EQ(mosaic.image_width, 157);
  EXPECT_EQ(mosaic.image_height, 151);
  EXPECT_EQ(mosaic.nband, 3);
  EXPECT_TRUE(mosaic.is_georeferenced());
  EXPECT_DOUBLE_EQ(mosaic.xcoord(), mosaic.tile(1).xcoord());
  EXPECT_DOUBLE_EQ(mosaic.ycoord(), mosaic.tile(1).ycoord());
  const std::vector<uint8_t> reference = gdal_planes(rgb.string(), dir / "ref.raw");
  EXPECT_EQ(whole(mosaic), reference);
  EXPECT_EQ(section(mosaic, 60, 100, 50, 90), window(reference, 157, 151, 3, 60, 100, 50, 90));
  std::string names;
  ASSERT_GE(metadata_get(&mosaic.metadata, "IMAGE::INPUT_NAME", &names), 0);
  EXPECT_EQ(names, dir / ("q0" + std::string(extension)) + ", " + dir / ("q1" + std::string(extension)) +
                       ", " + dir / ("q2" + std::string(extension)) + ", " +
                       dir / ("q3" + std::string(extension)));
}

TEST(ImageMosaic, LanQuartersPlacedByGeoreferenceRebuildTheImage) {
  expect_quarters_rebuild_the_image("LAN", ".lan", "LAN");
}

TEST(ImageMosaic, BilQuartersPlacedByGeoreferenceRebuildTheImage) {
  expect_quarters_rebuild_the_image("EHdr", ".bil", "BBB");
}

// Two quarter quadrangles side by side, each with a collar that holds other values: the
// mosaic must show every quadrangle pixel from its own file and no collar pixel.
TEST(ImageMosaic, DoqQuadranglesFillEachOthersCollars) {
  ScratchDir dir;
  auto world = [](int band, double x, double y) {
    return static_cast<uint8_t>(static_cast<int>(x) * 7 + static_cast<int>(y) * 3 + band * 50);
  };
  std::string list;
  for (int i = 0; i < 2; ++i) {
    Doq d;
    d.samples = 300;
    d.lines = 240;
    d.origin_x = 1000 + 250 * i;
    d.origin_y = 6000;
    const double west = 1020 + 250 * i, east = west + 250, north = 5980, south = 5780;
    const double corners[4][2] = {{west, north}, {east, north}, {east, south}, {west, south}};
    std::memcpy(d.corners, corners, sizeof corners);
    d.value = [=](int band, int row, int col) {
      const double x = d.origin_x + col, y = d.origin_y - row;
      const bool collar = x < west || x > east || y > north || y < south;
      return static_cast<uint8_t>(world(band, x, y) + (collar ? 128 : 0));
    };
    write_keyword_doq(dir / ("d" + std::to_string(i) + ".doq"), d);
    list += dir / ("d" + std::to_string(i) + ".doq") + "\n";
  }
  write_text(dir / "doq.txt", list);
  ImageMosaic mosaic(dir / "doq.txt", "DOQ");
  ASSERT_EQ(mosaic.image_width, 501);
  ASSERT_EQ(mosaic.image_height, 201);
  const std::vector<uint8_t> got = whole(mosaic);
  int wrong = 0;
  for (int b = 0; b < 3; ++b)
    for (int r = 0; r < 201; ++r)
      for (int c = 0; c < 501; ++c)
        wrong += got[(static_cast<size_t>(b) * 201 + r) * 501 + c] != world(b, 1020 + c, 5980 - r);
  EXPECT_EQ(wrong, 0);
  EXPECT_DOUBLE_EQ(mosaic.xcoord(), 1020);
  EXPECT_DOUBLE_EQ(mosaic.ycoord(), 5980);
  // Each member adds its quadrangle records to the mosaic's list.
  EXPECT_GE(metadata_find(&mosaic.metadata, "USGS::QUADRECT:TEST QUAD:NW"), 0);
  uint16_t pcs = 0;
  ASSERT_GE(metadata_get(&mosaic.metadata, "GEO::ProjectedCSTypeGeoKey", &pcs), 0);
  EXPECT_EQ(pcs, 26918);
}

// Tile b overlaps tile a; the later tile wins except where its pixel is the transparent
// colour, through which the earlier tile shows. A pixel differing in one band is not
// transparent.
TEST(ImageMosaic, LaterTilesCoverEarlierOnesExceptTransparentPixels) {
  ScratchDir dir;
  write_text(dir / "a.hdr", "NCOLS 4\nNROWS 1\nNBANDS 3\nLAYOUT BIP\nULXMAP -10\nULYMAP -5\n");
  write_bytes(dir / "a.bil", std::vector<uint8_t>(12, 10));
  write_text(dir / "b.hdr", "NCOLS 4\nNROWS 1\nNBANDS 3\nLAYOUT BIP\nULXMAP -8\nULYMAP -5\n");
  write_bytes(dir / "b.bil", {20, 21, 22, 0, 0, 0, 0, 0, 1, 0, 0, 0});
  write_text(dir / "list.txt", dir / "a.bil" + "\n" + dir / "b.bil");  // no final newline
  const uint8_t no_data[3] = {97, 98, 99}, transparent[3] = {0, 0, 0};
  ImageMosaic mosaic(dir / "list.txt", "BBB", no_data, transparent);
  EXPECT_EQ(mosaic.tile_count(), 2);
  EXPECT_EQ(mosaic.image_width, 6);
  EXPECT_EQ(mosaic.tile(0).support[0][0], 0);
  EXPECT_EQ(mosaic.tile(1).support[0][0], 2);
  EXPECT_EQ(whole(mosaic), (std::vector<uint8_t>{10, 10, 20, 10, 0, 97,  //
                                                 10, 10, 21, 10, 0, 98,  //
                                                 10, 10, 22, 10, 1, 99}));
  EXPECT_DOUBLE_EQ(mosaic.file_size(), 24.0);
  EXPECT_EQ(mosaic.transparent_value()[0], 0);
}

// A one-row tile among tiles whose rows run downward keeps its row (it is not flipped to the
// bottom of the mosaic as a tile with upward rows would be).
TEST(ImageMosaic, OneRowTileKeepsItsRow) {
  ScratchDir dir;
  write_text(dir / "a.hdr", "NCOLS 2\nNROWS 3\nNBANDS 1\n");
  write_bytes(dir / "a.bil", std::vector<uint8_t>(6, 10));
  write_text(dir / "b.hdr", "NCOLS 2\nNROWS 1\nNBANDS 1\n");
  write_bytes(dir / "b.bil", {20, 21});
  write_text(dir / "list.txt", dir / "a.bil" + "\n" + dir / "b.bil" + "\n");
  ImageMosaic mosaic(dir / "list.txt", "BBB");
  EXPECT_EQ(whole(mosaic), (std::vector<uint8_t>{20, 21, 10, 10, 10, 10}));
}

// Float tiles placed by the origins on their lines, one of them negative: the mosaic spans
// both, the first tile moves to the top-left corner, and uncovered samples stay 0.
TEST(ImageMosaic, RfiTilesPlacedByTheirListOrigins) {
  ScratchDir dir;
  for (int t = 0; t < 2; ++t) {
    std::vector<uint8_t> bytes(12 + 4 * 100);
    const int32_t header[3] = {10, 10, 1};
    std::memcpy(bytes.data(), header, 12);
    for (int i = 0; i < 100; ++i) {
      const float v = static_cast<float>(t * 1000 + i);
      std::memcpy(&bytes[12 + 4 * i], &v, 4);
    }
    write_bytes(dir / ("t" + std::to_string(t) + ".rfi"), bytes);
  }
  write_text(dir / "rfi.txt", dir / "t0.rfi" + "\t-10  5\n" + dir / "t1.rfi" + " 20 15\n");
  ImageMosaic mosaic(dir / "rfi.txt", "RFI");
  EXPECT_EQ(mosaic.image_width, 40);
  EXPECT_EQ(mosaic.image_height, 20);
  EXPECT_EQ(mosaic.data_type, kImageFloat);
  EXPECT_EQ(mosaic.tile(0).support[0][1], 9);
  EXPECT_EQ(mosaic.tile(0).support[1][1], 9);
  EXPECT_EQ(mosaic.tile(1).support[0][0], 30);
  EXPECT_EQ(mosaic.tile(1).support[1][0], 10);
  int s[2][2] = {{0, 39}, {0, 19}};
  std::unique_ptr<PixelData> block = mosaic.extract(s);
  const float* px = block->float_data();
  EXPECT_EQ(px[0], 0.0f);
  EXPECT_EQ(px[9 * 40 + 9], 99.0f);
  EXPECT_EQ(px[10 * 40 + 30], 1000.0f);
  EXPECT_EQ(px[19 * 40 + 39], 1099.0f);
  EXPECT_EQ(px[5 * 40 + 20], 0.0f);
}

TEST(ImageMosaic, MalformedListsAreRefused) {
  ScratchDir dir;
  LanSpec layout;
  layout.width = 2;
  layout.height = 2;
  write_lan(dir / "a.lan", layout, [](int, int r, int c) { return r * 2 + c; });
  layout.xcell = 2;
  write_lan(dir / "coarse.lan", layout, [](int, int r, int c) { return r * 2 + c; });
  const std::string list = dir / "list.txt";
  auto refused = [&](const std::string& text, const std::string& word) {
    write_text(list, text);
    return message_of([&] { ImageMosaic m(list, word); });
  };
  EXPECT_EQ(refused("\n" + dir / "a.lan" + " 0\n", "TIF"),
            format_message("Incorrect number of fields on line 2 of file %s.", list.c_str()));
  // Without origins the whole line names the tile.
  EXPECT_EQ(refused("\n\n" + dir / "a.lan" + " 5\n", "LAN"),
            format_message("Error opening file %s for read.", (dir / "a.lan 5").c_str()));
  EXPECT_EQ(refused(dir / "a.lan" + " x 0\n", "RFI"), format_message("Error reading file %s.", list.c_str()));
  EXPECT_EQ(refused(dir / "a.lan\n", "GIF"), "Error: unknown image type \"GIF\"");
  EXPECT_EQ(refused("\n  \n", "LAN"),
            format_message("Error: mosaic list file %s names no image file.", list.c_str()));
  EXPECT_EQ(refused(dir / "a.lan\n" + dir / "coarse.lan\n", "LAN"),
            format_message("File incompatibility: files %s and %s have different x-resolutions.",
                           (dir / "coarse.lan").c_str(), (dir / "a.lan").c_str()));
  EXPECT_EQ(message_of([&] { ImageMosaic m(dir / "none.txt", "LAN"); }),
            format_message("Error opening file %s for read.", (dir / "none.txt").c_str()));
}

// GeoTIFF quarters whose pixel sizes differ in the 14th digit, as GDAL's tools leave them: the
// resolution records agree like the pixel sizes and the quarters rebuild the image; a quarter in
// another coordinate system is still refused.
TEST(ImageMosaic, GeoTiffQuartersWithPixelSizeNoiseRebuildTheImage) {
  VEXAL_REQUIRE_GDAL();
  VEXAL_REQUIRE_SAMPLE(rgb, "tiff/rgb-3c-8b.tiff");
  ScratchDir dir;
  std::string list;
  auto cut = [&](int i, const char* srs, const std::string& name) {
    const int* q = kQuarters[i];
    const double size = 1 + i * 1e-14, x0 = 1000 + q[0], y0 = 2000 - q[1];
    const std::string tile = dir / name;
    gdal_translate({"-srcwin", std::to_string(q[0]), std::to_string(q[1]), std::to_string(q[2]),
                    std::to_string(q[3]), "-a_srs", srs, "-a_ullr", format_message("%.17g", x0),
                    format_message("%.17g", y0), format_message("%.17g", x0 + q[2] * size),
                    format_message("%.17g", y0 - q[3] * size), rgb.string(), tile});
    return tile;
  };
  for (int i = 0; i < 4; ++i) list += cut(i, "EPSG:32611", "q" + std::to_string(i) + ".tif") + "\n";
  write_text(dir / "tiles.txt", list);
  ImageMosaic mosaic(dir / "tiles.txt", "TFG");
  EXPECT_EQ(mosaic.image_width, 157);
  EXPECT_EQ(mosaic.image_height, 151);
  EXPECT_EQ(whole(mosaic), gdal_planes(rgb.string(), dir / "ref.raw"));

  write_text(dir / "tiles.txt", list + cut(3, "EPSG:32612", "other.tif") + "\n");
  EXPECT_EQ(message_of([&] { ImageMosaic m(dir / "tiles.txt", "TFG"); }),
            format_message("File incompatibility: files %s and %s have incompatable metadata.",
                           (dir / "other.tif").c_str(), (dir / "q0.tif").c_str()));
}

// Names are the rest of the line (blanks included), and pixel sizes that differ only by the
// rounding of the tools that wrote them are one resolution.
TEST(ImageMosaic, NamesWithBlanksAndPixelSizesWithNoise) {
  ScratchDir dir;
  vexal_test::TiffSpec layout;
  const char* sizes[] = {"32.8", "32.8000000000002"};
  const char* names[] = {"west tile.tif", "east  tile.tif"};
  for (int t = 0; t < 2; ++t) {
    const std::string name = dir / names[t];
    vexal_test::write_tiff(name, layout, vexal_test::pattern(layout, 1 + t));
    write_text(name.substr(0, name.size() - 3) + "tfw",
               format_message("%s\n0\n0\n-%s\n%f\n5000\n", sizes[t], sizes[t], 1000 + t * 64 * 32.8));
  }
  write_text(dir / "list.txt", "  " + dir / names[0] + " \n" + dir / names[1] + "\t\n");
  ImageMosaic placed(dir / "list.txt", "TFW");
  EXPECT_EQ(placed.image_width, 128);
  EXPECT_EQ(placed.tile(1).support[0][0], 64);

  write_text(dir / "origins.txt", dir / names[1] + " 0 0\n" + dir / names[0] + "  64\t0\n");
  ImageMosaic by_origin(dir / "origins.txt", "TIF");
  EXPECT_EQ(by_origin.image_width, 128);
  EXPECT_EQ(by_origin.tile(0).file().str(), dir / names[1]);
  EXPECT_EQ(by_origin.tile(1).support[0][0], 64);
}

TEST(ImageMosaic, OneTileBehavesLikeTheTileAndDumpsBothLevels) {
  ScratchDir dir;
  LanSpec layout;
  layout.width = 3;
  layout.height = 2;
  layout.xmap = 100;
  layout.ymap = 200;
  write_lan(dir / "a.lan", layout, [](int, int r, int c) { return r * 3 + c; });
  write_text(dir / "one.txt", dir / "a.lan" + "\n");
  ImageMosaic mosaic(dir / "one.txt", "LAN");
  LANImage tile(dir / "a.lan");
  EXPECT_EQ(whole(mosaic), whole(tile));
  std::string name;
  ASSERT_GE(metadata_get(&mosaic.metadata, "IMAGE::INPUT_NAME", &name), 0);
  EXPECT_EQ(name, dir / "a.lan");
  EXPECT_GE(metadata_find(&mosaic.metadata, "IMAGE::COLOR_SCHEME"), 0);
  EXPECT_EQ(message_of([&] {
              int s[2][2] = {{0, 1}, {0, 1}};
              uint16_t buffer[4];
              mosaic.extract(s, buffer);
            }),
            "Error: floating point extraction not supported for input file type.");
  testing::internal::CaptureStdout();
  mosaic.print_parameters();
  const std::string dump = testing::internal::GetCapturedStdout();
  EXPECT_EQ(dump.rfind("**********************************\n**** Image Mosaic Parameters *****\n"
                       "**********************************\n\n  Image width: 3\n  Image height: 2\n"
                       "  Samples-per-pixel: 1\n  Number of image files in mosaic: 1\n", 0),
            0u);
  EXPECT_NE(dump.find("*** Individual File Parameters ***\n**********************************\n\n***** " +
                      dir / "a.lan" + " *****\n\n"),
            std::string::npos);
}

}  // namespace
