// The reader factory's words for the raw readers and their mosaics.
#include <gtest/gtest.h>

#include "image/bbb_image.h"
#include "image/idb_image.h"
#include "image/image_factory.h"
#include "image/lan_image.h"
#include "platform/error.h"
#include "reader_fixtures.h"
#include "support/scratch_dir.h"

using namespace vexal_test;

namespace {

TEST(RawReaderWords, EachWordOpensItsReaderWithTheGivenColours) {
  ScratchDir dir;
  LanSpec layout;
  layout.width = 2;
  layout.height = 2;
  write_lan(dir / "a.lan", layout, [](int, int r, int c) { return r + c; });
  write_text(dir / "a.hdr", "NCOLS 2\nNROWS 2\nNBANDS 1\n");
  write_bytes(dir / "a.bil", {1, 2, 3, 4});
  write_text(dir / "lan.txt", dir / "a.lan\n");
  const uint8_t background[3] = {7, 8, 9}, transparent[3] = {1, 1, 1};

  std::unique_ptr<Image> lan = create_image(dir / "a.lan", "LAN", background, transparent);
  EXPECT_NE(dynamic_cast<LANImage*>(lan.get()), nullptr);
  EXPECT_EQ(lan->no_data_value()[2], 9);
  std::unique_ptr<Image> bbb = create_image(dir / "a.bil", "BBB", background, transparent);
  EXPECT_NE(dynamic_cast<BBBImage*>(bbb.get()), nullptr);
  EXPECT_EQ(bbb->transparent_value()[0], 1);
  std::unique_ptr<Image> mosaic = create_image(dir / "lan.txt", "LAN_MOSAIC", background, nullptr);
  ASSERT_NE(dynamic_cast<ImageMosaic*>(mosaic.get()), nullptr);
  EXPECT_EQ(mosaic->no_data_value()[0], 7);
  EXPECT_EQ(mosaic->transparent_value(), nullptr);
  try {
    create_image(dir / "lan.txt", "LAN_mosaic", nullptr, nullptr);
    FAIL() << "a word in the wrong case was accepted";
  } catch (const Error& e) {
    EXPECT_STREQ(e.message(), "Error: unrecognized image type \"LAN_mosaic\" during image creation.");
  }
}

}  // namespace
