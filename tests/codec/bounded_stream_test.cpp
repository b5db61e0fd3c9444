// Coded streams whose end is known (records read at scattered offsets): decoding gives what an
// unbounded read gives, never reads a byte past the given length, and a length that cuts the
// stream short yields fewer indices or an error rather than bytes of the next structure.
#include <gtest/gtest.h>

#include <random>

#include "codec/block_coder.h"
#include "codec/coded_stream_fixture.h"

using vexal_test::contents;
using vexal_test::file_with;
using vexal_test::FilePtr;

namespace {

struct Coded {
  std::vector<int16_t> indices;
  HuffmanTableDescriptor desc;
  std::vector<uint8_t> stream;  // marker included
};

// Long enough that the reader needs several chunks.
Coded coded_subband(unsigned seed) {
  std::mt19937 random(seed);
  std::geometric_distribution<int> magnitude(0.02);
  Coded c;
  c.indices.resize(60000);
  for (int16_t& v : c.indices) v = int16_t(random() % 3 ? 0 : magnitude(random) * (random() % 2 ? 1 : -1));
  EXPECT_EQ(GenHTDesc2(c.indices, kValueRange, kRunRange, c.desc), 0);
  HuffmanCodeTable table;
  EXPECT_EQ(GenCode2(c.desc, table), 0);
  FilePtr file(tmpfile());
  EXPECT_EQ(encode_block2(c.indices, table, kValueRange, kRunRange, file.get()), 0);
  c.stream = contents(file.get());
  return c;
}

struct Result {
  int status;
  std::vector<int16_t> indices;
  off_t position;
};

Result expand_bounded(const std::vector<uint8_t>& bytes, const HuffmanTableDescriptor& desc,
                      uint64_t length) {
  FilePtr file = file_with(bytes);
  std::vector<int16_t> out(70000);
  size_t count = 0;
  const int status = expand_data(file.get(), desc, out, count, length);
  out.resize(count);
  return {status, out, ftello(file.get())};
}

}  // namespace

TEST(BoundedStream, ExactLengthDecodesLikeAMarkerAndReadsNothingBeyond) {
  const Coded c = coded_subband(3);
  ASSERT_GT(c.stream.size(), 20000u);
  // What follows is not a marker: only the length can end the stream there.
  std::vector<uint8_t> bytes = c.stream;
  bytes.insert(bytes.end(), {0x12, 0x34, 0x56, 0x78});
  const Result r = expand_bounded(bytes, c.desc, c.stream.size());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.indices, c.indices);
  EXPECT_LE(r.position, off_t(c.stream.size()));
  // A generous bound (the next structure further on, behind a real marker) changes nothing.
  bytes = c.stream;
  bytes.insert(bytes.end(), {0xFF, 0xA3, 0x00, 0x00});
  const Result loose = expand_bounded(bytes, c.desc, bytes.size());
  EXPECT_EQ(loose.status, 0);
  EXPECT_EQ(loose.indices, c.indices);
  EXPECT_EQ(loose.position, off_t(c.stream.size()));
}

TEST(BoundedStream, ShortLengthsNeverReachTheNextStructure) {
  const Coded c = coded_subband(5);
  for (uint64_t length : std::vector<uint64_t>{0, 1, 2, 3, 700, c.stream.size() / 2}) {
    std::vector<uint8_t> bytes = c.stream;
    const Result r = expand_bounded(bytes, c.desc, length);
    EXPECT_LE(uint64_t(r.position), length) << length;
    if (r.status == 0) {
      EXPECT_LT(r.indices.size(), c.indices.size()) << length;
      EXPECT_TRUE(std::equal(r.indices.begin(), r.indices.end(), c.indices.begin())) << length;
    }
  }
}
