// Bit writer -> bit reader: random field widths, 0xFF stuffing, 1-bit padding, and where the
// reader leaves the file when it meets a marker.
#include <gtest/gtest.h>

#include <random>

#include "codec/bit_reader.h"
#include "codec/bit_writer.h"
#include "codec/coded_stream_fixture.h"

using vexal_test::file_with;
using vexal_test::FilePtr;

namespace {

struct Field {
  uint32_t value;
  int width;
};

std::vector<Field> random_fields(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> width(0, 32);
  std::bernoulli_distribution ones(0.3);
  std::vector<Field> fields(n);
  for (Field& field : fields) {
    field.width = width(random);
    // Runs of one bits make many 0xFF bytes and so many stuffed zeros.
    const uint32_t value = ones(random) ? 0xFFFFFFFFu : uint32_t(random());
    field.value = field.width == 32 ? value : value & ((1u << field.width) - 1);
  }
  return fields;
}

}  // namespace

TEST(BitIo, RandomWidthsRoundTripAndStopAtTheMarker) {
  for (unsigned seed = 1; seed <= 3; ++seed) {
    const std::vector<Field> fields = random_fields(20000, seed);
    std::vector<uint8_t> bytes;
    BitWriter writer(bytes);
    size_t total_bits = 0;
    for (const Field& field : fields) {
      writer.put_bits(field.value, field.width);
      total_bits += size_t(field.width);
    }
    writer.pad_with_ones();
    EXPECT_EQ(writer.pending_bits(), 0);
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] == 0xFF) {
        ASSERT_EQ(bytes.at(i + 1), 0x00) << i;
      }
    }
    const size_t marker_at = bytes.size();
    bytes.insert(bytes.end(), {0xFF, 0xD9, 1, 2, 3});

    FilePtr file = file_with(bytes);
    BitReader reader(file.get());
    for (const Field& field : fields) {
      if (field.width == 0) continue;
      ASSERT_GE(reader.fill(field.width), field.width);
      ASSERT_EQ(reader.read(field.width), field.value);
    }
    // Only the padding is left: fewer than eight 1 bits, then the marker.
    const int padding = int((8 - total_bits % 8) % 8);
    EXPECT_EQ(reader.fill(57), padding);
    EXPECT_TRUE(reader.at_marker());
    if (padding > 0) {
      EXPECT_EQ(reader.read(padding), (1u << padding) - 1);
    }
    ASSERT_TRUE(reader.release());
    EXPECT_EQ(ftello(file.get()), off_t(marker_at));
  }
}

TEST(BitIo, ReaderReturnsUnusedBytesAcrossChunkEdges) {
  // The reader fetches 16384 bytes at a time; put a stuffed 0xFF and a split marker on the edge.
  for (size_t zeros : {16382u, 16383u, 16384u}) {
    std::vector<uint8_t> bytes(zeros, 0x00);
    bytes.insert(bytes.end(), {0xFF, 0x00, 0xFF, 0xA9});
    FilePtr file = file_with(bytes);
    BitReader reader(file.get());
    size_t bits = 0;
    while (reader.fill(32) > 0) {
      const int n = std::min(reader.available(), 7);
      reader.skip(n);
      bits += size_t(n);
    }
    EXPECT_EQ(bits, (zeros + 1) * 8);
    EXPECT_TRUE(reader.at_marker());
    ASSERT_TRUE(reader.release());
    EXPECT_EQ(ftello(file.get()), off_t(zeros + 2));
  }
}

TEST(BitIo, ReaderStopsAfterTheLastByteTaken) {
  // Leaving mid-stream (a code that leads nowhere): the byte holding the last bit taken counts
  // as read, the rest of the window goes back, each 0xFF with its stuffing byte.
  const std::vector<uint8_t> bytes{0x12, 0xFF, 0x00, 0x34, 0xFF, 0x00, 0x56, 0xFF, 0xA9};
  for (int taken : {1, 8, 9, 16, 17, 24}) {
    FilePtr file = file_with(bytes);
    BitReader reader(file.get());
    reader.fill(57);
    EXPECT_EQ(reader.available(), 40);
    reader.skip(taken);
    ASSERT_TRUE(reader.release());
    const off_t after_byte[] = {1, 3, 4, 6, 7};  // file position after data byte k
    EXPECT_EQ(ftello(file.get()), after_byte[(taken - 1) / 8]) << taken;
  }
}
