#include "metadata/nodata_mask.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/error.h"

// Runs arrive block by block in any order, touching and overlapping; the encoded mask must
// name exactly the pixels of a plain bitmap that saw the same runs.
TEST(NodataMask, RunsInAnyOrderMatchABitmapThroughEncoding) {
  const int w = 97, h = 41;
  std::vector<bool> bitmap(size_t(w) * h, false);
  NodataMask mask(w, h);
  std::mt19937 rng(5);
  for (int k = 0; k < 600; ++k) {
    const int y = int(rng() % h), x0 = int(rng() % w);
    const int x1 = std::min(w - 1, x0 + int(rng() % 12));
    mask.add_run(y, x0, x1);
    for (int x = x0; x <= x1; ++x) bitmap[size_t(y) * w + size_t(x)] = true;
  }
  const std::vector<uint8_t> bytes = mask.encode();
  const NodataMask back = NodataMask::decode(bytes.data(), bytes.size());
  ASSERT_EQ(back.width(), w);
  ASSERT_EQ(back.height(), h);
  int wrong = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      wrong += back.is_nodata(x, y) != bitmap[size_t(y) * w + size_t(x)] ||
               mask.is_nodata(x, y) != bitmap[size_t(y) * w + size_t(x)];
  EXPECT_EQ(wrong, 0);
  // Touching runs merge: a full row costs a run count, a gap and a length.
  NodataMask row(300, 1);
  for (int x = 299; x >= 0; x -= 3) row.add_run(0, std::max(0, x - 2), x);
  EXPECT_EQ(row.encode().size(), 2u + 1u + 1u + 1u + 2u);
}

// Damaged records are refused with an error, never read past their end or allocated from.
TEST(NodataMask, DamagedRecordsAreRefused) {
  NodataMask mask(40, 3);
  mask.add_run(1, 5, 9);
  const std::vector<uint8_t> good = mask.encode();
  for (size_t cut = 0; cut < good.size(); ++cut)
    EXPECT_THROW(NodataMask::decode(good.data(), cut), Error) << cut;
  const std::vector<std::vector<uint8_t>> bad = {
      {40, 0xFF, 0xFF, 0xFF, 0x03},  // a huge height in five bytes
      {40, 1, 1, 38, 5},             // a run past the width
      {40, 1, 1, 3, 0},              // an empty run
      {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80},  // a number without end
  };
  for (const auto& b : bad) EXPECT_THROW(NodataMask::decode(b.data(), b.size()), Error);
}
