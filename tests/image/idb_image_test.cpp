#include "image/idb_image.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "image/lan_image.h"
#include "platform/error.h"
#include "reader_fixtures.h"
#include "support/scratch_dir.h"

using namespace vexal_test;

namespace {

constexpr int kW = 8, kH = 6;

// A tile of the database at pixel offset (x, y), georeferenced to match: map x = pixel x,
// map y = 1000 - pixel y, one unit per pixel. Its samples are a function of the database
// position, so the assembled mosaic can be checked against one formula.
void write_tile(const std::string& path, int x, int y, int w = kW, int h = kH) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  LanSpec layout;
  layout.width = w;
  layout.height = h;
  layout.xmap = static_cast<float>(x);
  layout.ymap = static_cast<float>(1000 - y);
  write_lan(path, layout, [&](int, int r, int c) { return (x + c) * 5 + (y + r) * 11; });
}

// Leaf depth 3: the root's first subtree holds a full 2 x 2 tile directory, its second subtree
// a directory with two tiles.
void write_database(const std::string& root) {
  std::filesystem::create_directories(root);
  for (int k = 0; k < 4; ++k) write_tile(root + "/000000/" + std::to_string(k) + ".lan", (k % 2) * kW, (k / 2) * kH);
  write_tile(root + "/001000/0.lan", 2 * kW, 0);
  write_tile(root + "/001000/1.lan", 3 * kW, 0);
}

TEST(IDBImage, TreeOffsetsAndAssembledPixels) {
  ScratchDir dir;
  const std::string root = dir / "db";
  write_database(root);
  const std::vector<IDBTile> tiles = find_idb_tiles(root);
  ASSERT_EQ(tiles.size(), 6u);
  EXPECT_EQ(tiles[3].path, root + "/000000/3.lan");
  EXPECT_EQ(tiles[3].x, kW);
  EXPECT_EQ(tiles[3].y, kH);
  EXPECT_EQ(tiles[5].path, root + "/001000/1.lan");
  EXPECT_EQ(tiles[5].x, 3 * kW);
  EXPECT_EQ(tiles[5].y, 0);

  IDBImage image(root);
  EXPECT_EQ(image.tile_count(), 6);
  EXPECT_EQ(image.color_scheme, kSchemeGray);
  ASSERT_EQ(image.image_width, 4 * kW);
  ASSERT_EQ(image.image_height, 2 * kH);
  const std::vector<uint8_t> px = whole(image);
  int wrong = 0;
  for (int y = 0; y < 2 * kH; ++y)
    for (int x = 0; x < 4 * kW; ++x) {
      const bool covered = x < 2 * kW || y < kH;
      const uint8_t expected = covered ? static_cast<uint8_t>(x * 5 + y * 11) : 0;
      wrong += px[static_cast<size_t>(y) * 4 * kW + x] != expected;
    }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(static_cast<LANImage&>(image.tile(5)).xstart(), 3 * kW);
}

TEST(IDBImage, ThirdSubtreeOfLargeTilesStartsFourTilesRight) {
  ScratchDir dir;
  const std::string root = dir / "db";
  write_tile(root + "/002000/0.lan", 2048, 0, 512, 512);
  const std::vector<IDBTile> tiles = find_idb_tiles(root);
  ASSERT_EQ(tiles.size(), 1u);
  EXPECT_EQ(tiles[0].x, 2 * 2 * 512);
}

TEST(IDBImage, MalformedTreesAreRefused) {
  ScratchDir dir;
  EXPECT_EQ(message_of([&] { IDBImage i(dir / "absent"); }),
            format_message("IDB root directory %s does not exist.", (dir / "absent").c_str()));

  const std::string sizes = dir / "sizes";
  write_database(sizes);
  write_tile(sizes + "/001000/2.lan", 0, kH, kW + 1, kH);
  EXPECT_EQ(message_of([&] { IDBImage i(sizes); }),
            "IDB Error: All of the .lan images do not have the same dimensions.");

  const std::string depth = dir / "depth";
  write_database(depth);
  write_tile(depth + "/002000/a/0.lan", 4 * kW, 0);
  EXPECT_EQ(message_of([&] { IDBImage i(depth); }), "IDB Error: Incompatible subdirectory depth.");

  const std::string empty = dir / "empty";
  write_database(empty);
  std::filesystem::create_directories(empty + "/003000");
  EXPECT_EQ(message_of([&] { IDBImage i(empty); }),
            format_message("IDB error: The directory %s contains no subdirectories or .lan files.",
                           (empty + "/003000").c_str()));

  std::filesystem::create_directories(dir / "bare");
  EXPECT_EQ(message_of([&] { IDBImage i(dir / "bare"); }),
            format_message("IDB error: The database %s contains no .lan files.", (dir / "bare").c_str()));
}

}  // namespace
