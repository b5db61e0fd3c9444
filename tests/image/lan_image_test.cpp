#include "image/lan_image.h"

#include <gtest/gtest.h>

#include "platform/error.h"
#include "reader_fixtures.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"

using namespace vexal_test;

namespace {

int sample_value(int band, int row, int col) { return band * 80 + row * 7 + col * 3 + 1; }

TEST(LANImage, RealSamplesReadAsGdalReadsThemOrAreRefused) {
  VEXAL_REQUIRE_GDAL();
  VEXAL_REQUIRE_SAMPLE(fake, "lan/fakelan.lan");
  VEXAL_REQUIRE_SAMPLE(four_bit, "lan/fakelan4bit.lan");
  ScratchDir dir;
  LANImage image(fake.string());
  EXPECT_EQ(image.image_width, 2);
  EXPECT_EQ(image.image_height, 2);
  EXPECT_EQ(image.color_scheme, kSchemeGray);
  EXPECT_EQ(whole(image), gdal_planes(fake.string(), dir / "fake.raw"));
  EXPECT_DOUBLE_EQ(image.xcoord(), 1.5);
  EXPECT_DOUBLE_EQ(image.ycoord(), 48.5);
  EXPECT_DOUBLE_EQ(image.yscale(), -1.0);
  // A 4-bit file opens (its header is sound) but its pixels cannot be read.
  LANImage packed(four_bit.string());
  EXPECT_EQ(packed.pack_type(), 1);
  EXPECT_EQ(message_of([&] { whole(packed); }), "Incompatible band structure in LANImage::extract.");
}

// Multi-band files written by gdal's LAN driver from a real RGB image: three bands map to
// planes 0..2; four bands are blue, green, red and a dropped fourth.
TEST(LANImage, MultiBandFilesFromGdal) {
  VEXAL_REQUIRE_GDAL();
  VEXAL_REQUIRE_SAMPLE(rgb, "tiff/rgb-3c-8b.tiff");
  ScratchDir dir;
  const int w = 157, h = 151;
  const std::vector<uint8_t> reference = gdal_planes(rgb.string(), dir / "ref.raw");
  gdal_translate({"-of", "LAN", rgb.string(), dir / "rgb.lan"});
  LANImage three(dir / "rgb.lan");
  EXPECT_EQ(three.nband, 3);
  EXPECT_EQ(whole(three), reference);
  EXPECT_EQ(section(three, 100, 156, 0, 20), window(reference, w, h, 3, 100, 156, 0, 20));

  gdal_translate({"-of", "LAN", "-b", "3", "-b", "2", "-b", "1", "-b", "1", rgb.string(),
                  dir / "bgrx.lan"});
  LANImage four(dir / "bgrx.lan");
  EXPECT_EQ(four.nband, 4);
  EXPECT_EQ(four.coded_bands(), 3);
  std::vector<uint8_t> planes = whole(four);
  ASSERT_EQ(planes.size(), size_t{4} * w * h);  // the fourth plane is extracted but not coded
  planes.resize(size_t{3} * w * h);
  EXPECT_EQ(planes, reference);
}

// The older release's header: gdal reads its width and height as floats; files that hold
// them as integers (as the header layout tables show them) are read too.
TEST(LANImage, OlderHeaderWithFloatOrIntegerSize) {
  VEXAL_REQUIRE_GDAL();
  ScratchDir dir;
  LanSpec layout;
  layout.magic = "HEADER";
  layout.bands = 3;
  layout.width = 9;
  layout.height = 4;
  layout.float_size = true;
  write_lan(dir / "float.lan", layout, sample_value);
  LANImage as_float(dir / "float.lan");
  EXPECT_EQ(as_float.image_width, 9);
  EXPECT_EQ(as_float.image_height, 4);
  EXPECT_EQ(whole(as_float), gdal_planes(dir / "float.lan", dir / "float.raw"));
  layout.float_size = false;
  write_lan(dir / "int.lan", layout, sample_value);
  LANImage as_int(dir / "int.lan");
  EXPECT_EQ(as_int.image_width, 9);
  EXPECT_EQ(whole(as_int), whole(as_float));
}

TEST(LANImage, HeadersThatCannotBeReadAreRefused) {
  ScratchDir dir;
  LanSpec layout;
  layout.width = 4;
  layout.height = 3;
  layout.magic = "HEAD73";
  write_lan(dir / "magic.lan", layout, sample_value);
  EXPECT_EQ(message_of([&] { LANImage i(dir / "magic.lan"); }), "Invalid LAN image header encountered.");
  layout.magic = "HEAD74";
  layout.bands = 2;
  write_lan(dir / "two.lan", layout, sample_value);
  EXPECT_EQ(message_of([&] { LANImage i(dir / "two.lan"); }),
            "Error: 2 banded LAN images are not supported.");
  layout.bands = 7;
  write_lan(dir / "seven.lan", layout, sample_value);
  LANImage seven(dir / "seven.lan");
  EXPECT_EQ(message_of([&] { whole(seven); }), "Error: cannot process 7 spectral band LAN files.");
  // One byte short of the pixels the header claims, and a header cut short.
  layout.bands = 1;
  std::vector<uint8_t> bytes = lan_header(layout);
  bytes.resize(128 + 11, 5);
  write_bytes(dir / "short.lan", bytes);
  EXPECT_EQ(message_of([&] { LANImage i(dir / "short.lan"); }),
            format_message("Error reading file %s.", (dir / "short.lan").c_str()));
  bytes.resize(100);
  write_bytes(dir / "cut.lan", bytes);
  EXPECT_EQ(message_of([&] { LANImage i(dir / "cut.lan"); }),
            format_message("Error reading file %s.", (dir / "cut.lan").c_str()));
  // Sizes whose product overflows 64 bits must not pass the size check.
  layout.width = 0x7fffffff;
  layout.height = 0x7fffffff;
  layout.bands = 0x7fff;
  write_lan(dir / "huge.lan", LanSpec{layout.magic, 0, 1, 1, 1}, sample_value);
  bytes = lan_header(layout);
  bytes.resize(200);
  write_bytes(dir / "huge.lan", bytes);
  EXPECT_EQ(message_of([&] { LANImage i(dir / "huge.lan"); }),
            format_message("Error reading file %s.", (dir / "huge.lan").c_str()));
}

TEST(LANImage, PlacementOverridesAndCompatibility) {
  ScratchDir dir;
  LanSpec layout;
  layout.width = 4;
  layout.height = 3;
  layout.xmap = 1000;
  layout.ymap = 5000;
  layout.xcell = 10;
  layout.ycell = 10;
  write_lan(dir / "a.lan", layout, sample_value);
  LANImage a(dir / "a.lan", 64, 128);
  EXPECT_EQ(a.xstart(), 64);
  EXPECT_EQ(a.ystart(), 128);
  a.place_by_georeference();
  EXPECT_EQ(a.support[0][0], 100);
  EXPECT_EQ(a.support[0][1], 103);
  EXPECT_EQ(a.support[1][0], -500);
  EXPECT_EQ(a.support[1][1], -498);
  double y_resolution = 0;
  ASSERT_GE(metadata_get(&a.metadata, "IMAGE::Y_RESOLUTION", &y_resolution), 0);
  EXPECT_EQ(y_resolution, 10.0);

  layout.pack_type = 2;
  write_lan(dir / "packed.lan", layout, sample_value);
  LANImage packed(dir / "packed.lan");
  EXPECT_EQ(message_of([&] { a.check_compatible(packed); }),
            format_message("File incompatibility: files %s and %s have different pack types.",
                           a.file().path(), packed.file().path()));
  layout.pack_type = 0;
  layout.ycell = 5;
  write_lan(dir / "y.lan", layout, sample_value);
  LANImage other_y(dir / "y.lan");
  EXPECT_EQ(message_of([&] { a.check_compatible(other_y); }),
            format_message("File incompatibility: files %s and %s have different y-resolutions.",
                           a.file().path(), other_y.file().path()));
}

}  // namespace
