// Coded streams end to end: indices -> table -> stream -> indices, against random and skewed
// data, the escapes, and the way a stream ends at the next marker.
#include "codec/block_coder.h"

#include <gtest/gtest.h>

#include <random>

#include "codec/coded_stream_fixture.h"
#include "codec/ht_desc_io.h"

using vexal_test::contents;
using vexal_test::file_with;
using vexal_test::FilePtr;

namespace {

// Codes `indices` with its own table, as the writers do; returns the stream's bytes.
std::vector<uint8_t> encode(std::span<const int16_t> indices, HuffmanTableDescriptor& desc) {
  EXPECT_EQ(GenHTDesc2(indices, kValueRange, kRunRange, desc), 0);
  HuffmanCodeTable table;
  EXPECT_EQ(GenCode2(desc, table), 0);
  FilePtr file(tmpfile());
  EXPECT_EQ(encode_block2(indices, table, kValueRange, kRunRange, file.get()), 0);
  return contents(file.get());
}

// Decodes `stream` followed by `trailer`; checks that it stops at the trailer's first byte.
std::vector<int16_t> decode(const std::vector<uint8_t>& stream, const HuffmanTableDescriptor& desc,
                            size_t capacity, std::vector<uint8_t> trailer = {0xFF, 0xA9}) {
  std::vector<uint8_t> bytes = stream;
  bytes.insert(bytes.end(), trailer.begin(), trailer.end());
  FilePtr file = file_with(bytes);
  std::vector<int16_t> out(capacity);
  size_t count = 0;
  EXPECT_EQ(expand_data(file.get(), desc, out, count), 0);
  EXPECT_EQ(ftello(file.get()), off_t(stream.size()));
  out.resize(count);
  return out;
}

std::vector<int16_t> round_trip(const std::vector<int16_t>& indices) {
  HuffmanTableDescriptor desc;
  const std::vector<uint8_t> stream = encode(indices, desc);
  return decode(stream, desc, indices.size() + 70000);
}

// Laplacian-like indices with long zero stretches, the shape real subbands have.
std::vector<int16_t> subband_like(size_t n, double scale, unsigned seed) {
  std::mt19937 random(seed);
  std::exponential_distribution<double> magnitude(1.0 / scale);
  std::bernoulli_distribution zero(0.6), negative(0.5);
  std::vector<int16_t> indices(n);
  for (int16_t& index : indices) {
    if (zero(random)) continue;
    const double m = std::min(32767.0, 1.0 + magnitude(random));
    index = int16_t(negative(random) ? -m : m);
  }
  return indices;
}

}  // namespace

TEST(BlockCoder, RoundTripsRandomAndSkewedSequences) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    for (double scale : {0.3, 3.0, 40.0, 2000.0}) {
      const std::vector<int16_t> indices = subband_like(128 * 128, scale, seed);
      EXPECT_EQ(round_trip(indices), indices) << "seed " << seed << " scale " << scale;
    }
  }
  // Every 16-bit value, including both extremes of the escapes.
  std::vector<int16_t> all;
  for (int v = -32768; v <= 32767; v += 7) all.push_back(int16_t(v));
  all.push_back(-32768);
  all.push_back(32767);
  EXPECT_EQ(round_trip(all), all);
}

TEST(BlockCoder, RunsAtTheirBoundaries) {
  // Run lengths around every switch of symbol, separated by a non-zero index.
  for (size_t run : {1u, 29u, 30u, 31u, 254u, 255u, 256u, 65534u, 65535u, 65536u, 70000u,
                     131071u}) {
    std::vector<int16_t> indices(run, 0);
    indices.push_back(5);
    indices.insert(indices.end(), run, 0);
    EXPECT_EQ(round_trip(indices), indices) << run;
  }
}

TEST(BlockCoder, KnownStreams) {
  // 128 x 128 zeros: symbol 106 with the 16 bits 0x4000. Its table has one code, "0", so the
  // stream is 0 then 0100 0000 0000 0000 then seven 1 bits of padding.
  std::vector<int16_t> zeros(128 * 128, 0);
  HuffmanTableDescriptor desc;
  std::vector<uint8_t> stream = encode(zeros, desc);
  EXPECT_EQ(stream, (std::vector<uint8_t>{0xFF, 0xA3, 0x20, 0x00, 0x7F}));
  EXPECT_EQ(desc.value_count(), 1);
  EXPECT_EQ(desc.bits[1], 1);
  EXPECT_EQ(desc.huffval[0], 106);
  EXPECT_EQ(decode(stream, desc, zeros.size()), zeros);

  // Codes 0 (101) and 10 (102): 0 00101110 10 11111111, padded with ones, ends in a data 0xFF
  // that gets its stuffed 0x00.
  std::vector<int16_t> indices{46, -255};
  stream = encode(indices, desc);
  EXPECT_EQ(stream, (std::vector<uint8_t>{0xFF, 0xA3, 0x17, 0x5F, 0xFF, 0x00}));
  EXPECT_EQ(decode(stream, desc, 2), indices);
}

TEST(BlockCoder, EmptySequenceIsTheMarkerAlone) {
  HuffmanTableDescriptor desc;
  const std::vector<uint8_t> stream = encode({}, desc);
  EXPECT_EQ(stream, (std::vector<uint8_t>{0xFF, 0xA3}));
  EXPECT_EQ(desc.value_count(), 0);
  EXPECT_TRUE(decode(stream, desc, 0).empty());
}
