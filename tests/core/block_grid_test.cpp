#include "encoder/core/block_grid.h"

#include <gtest/gtest.h>

#include "encoder/core/block_tiler.h"
#include "encoder/core/dump_schedule.h"
#include "platform/error.h"

namespace {

std::string error_of(int width, int height, int block, int nlev) {
  try {
    BlockGrid(width, height, block, nlev, false);
  } catch (const Quorvale::Exception& e) {
    return e.message();
  }
  return "";
}

TEST(BlockGrid, BlockSizePerAxis) {
  EXPECT_EQ(minimum_block_extent(4), 121);
  EXPECT_EQ(block_extent(1000, 512, 4), 512);  // last block 488 wide, above the minimum
  EXPECT_EQ(block_extent(1030, 512, 4), 454);  // remainder 6 is shortened away: 122
  EXPECT_EQ(block_extent(1030, 512, 5), 390);  // remainder 250
  EXPECT_EQ(block_extent(1024, 512, 5), 512);  // exact multiple
  EXPECT_EQ(block_extent(300, 512, 3), 300);   // smaller than one block
  EXPECT_EQ(block_extent(57, 512, 3), 57);     // the minimum itself, one block
  for (int dim = 57; dim < 700; ++dim) {
    for (int block : {58, 64, 100, 128, 333}) {
      int f = 0;
      try {
        f = block_extent(dim, block, 3);
      } catch (const Quorvale::Exception&) {
        continue;
      }
      // Either one block, or every block (the partial last one included) above the minimum.
      EXPECT_TRUE(f == dim || (f > 57 && (dim % f == 0 || dim % f > 57))) << dim << " " << block;
    }
  }
  EXPECT_EQ(error_of(100, 100, 512, 4),
            "Error: image too small for given nlev.\nThe image is 100 x 100 pixels; 4 levels "
            "need at least 121 in each direction.");
  EXPECT_EQ(error_of(1000, 100, 512, 4),
            "Error: image too small for given nlev.\nThe image is 1000 x 100 pixels; 4 levels "
            "need at least 121 in each direction.");
  EXPECT_EQ(error_of(1000, 1000, 130, 5), "Error: block size too small for given nlev.");
  // A block at or below the minimum is refused even when it divides the image evenly.
  EXPECT_EQ(error_of(1000, 1000, 100, 4), "Error: block size too small for given nlev.");
  EXPECT_EQ(error_of(1000, 1000, 0, 1), "Error: block size too small for given nlev.");

  const BlockGrid full(1000, 700, 256, 2, true);
  EXPECT_EQ(full.block_width(), 1000);
  EXPECT_EQ(full.columns(), 1);
}

TEST(BlockGrid, MortonWalkCoversThePowerOfFourAroundTheImage) {
  const BlockGrid grid(3 * 64, 2 * 64, 64, 1, false);  // 3 x 2 blocks
  EXPECT_EQ(BlockGrid::morton_index(2, 1), 6);
  EXPECT_EQ(grid.node_count(), 16);
  int in_image = 0;
  for (int64_t i = 0; i < grid.node_count(); ++i) {
    int c, r;
    BlockGrid::morton_cell(i, c, r);
    EXPECT_EQ(BlockGrid::morton_index(c, r), i);
    in_image += grid.in_image(c, r);
  }
  EXPECT_EQ(in_image, 6);
  EXPECT_EQ(BlockGrid(60, 60, 512, 1, false).node_count(), 1);
  const BlockRect last = grid.rect(2, 1);
  EXPECT_EQ(last.x0, 128);
  EXPECT_EQ(last.x1, 191);
  EXPECT_EQ(last.y1, 127);
}

TEST(DumpSchedule, LevelsAreDumpedPerGroupOfBlocks) {
  using L = std::vector<int>;
  EXPECT_EQ(set_dump_list(3, 0), (L{7, 8, 9}));
  EXPECT_EQ(set_dump_list(3, 3), (L{4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(set_dump_list(3, 7), (L{4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(set_dump_list(3, 15), (L{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(set_dump_list(3, -1), (L{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(set_dump_list(1, 0), (L{0, 1, 2, 3}));
}

TEST(DumpSchedule, ProgressAdvancesPerBlockOfTheImage) {
  const BlockGrid grid(3 * 64, 2 * 64, 64, 1, false);
  BlockTiler tiler(grid, 1, 1);
  struct CountingSink : RecordSink {
    void write_record(SubbandRecordData& r) override { records.push_back(r.subband); }
    std::vector<int> records;
  } sink;
  std::vector<float> seen;
  int checks = 0;
  decompose_blocks(
      grid, 1, [](const BlockRect&, platform::FloatBuffer& p) { std::fill(p.begin(), p.end(), 9.f); },
      sink, tiler, [&] { ++checks; }, [&](float f) { seen.push_back(f); }, 0.2f, 0.8f);
  ASSERT_EQ(seen.size(), 6u);
  for (size_t i = 0; i < seen.size(); ++i) EXPECT_NEAR(seen[i], 0.2f + 0.1f * float(i), 1e-6);
  // Level 1 with one level: every subband is dumped after each block that has final
  // coefficients, never twice at once.
  EXPECT_GE(sink.records.size(), 4u * 6u / 2u);
  EXPECT_GT(checks, 12);
}

}  // namespace
