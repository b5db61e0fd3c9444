// Reading coded streams and their tables from damaged or hostile files: every failure is a
// clear error return, never a read past the data or a hang, and the file is left where the
// next reader expects it.
#include <gtest/gtest.h>

#include <random>

#include "codec/block_coder.h"
#include "codec/coded_stream_fixture.h"
#include "codec/ht_desc_io.h"

using vexal_test::contents;
using vexal_test::file_with;
using vexal_test::FilePtr;

namespace {

struct Decoded {
  int status;
  std::vector<int16_t> indices;
  off_t position;
};

Decoded expand(const std::vector<uint8_t>& bytes, const HuffmanTableDescriptor& desc,
               size_t capacity = 1000) {
  FilePtr file = file_with(bytes);
  std::vector<int16_t> out(capacity);
  size_t count = 0;
  const int status = expand_data(file.get(), desc, out, count);
  out.resize(count);
  return {status, out, ftello(file.get())};
}

// Codes 0 -> symbol 1 (one zero), 10 -> 101 (8 extra bits), 110 -> 181 (index 1).
HuffmanTableDescriptor small_table() {
  HuffmanTableDescriptor desc;
  desc.bits[1] = 1;
  desc.bits[2] = 1;
  desc.bits[3] = 1;
  desc.huffval[0] = 1;
  desc.huffval[1] = 101;
  desc.huffval[2] = 181;
  return desc;
}

}  // namespace

TEST(ExpandData, StopsAtTheFirstMarker) {
  const HuffmanTableDescriptor desc = small_table();
  // 110 0 10 00101110 -> 1, 0, 46 and then padding; a second stream follows.
  // Bits: 1100 1000 1011 10|11 -> 0xC8 0xBB.
  Decoded d = expand({0xFF, 0xA3, 0xC8, 0xBB, 0xFF, 0xA3, 0x00}, desc);
  EXPECT_EQ(d.status, 0);
  EXPECT_EQ(d.indices, (std::vector<int16_t>{1, 0, 46}));
  EXPECT_EQ(d.position, 4);
  // A code cut short by the marker is dropped: 110 0 1|(marker).
  d = expand({0xFF, 0xA3, 0xC8, 0xFF, 0xD1}, desc);
  EXPECT_EQ(d.status, 0);
  EXPECT_EQ(d.indices, (std::vector<int16_t>{1, 0}));
  EXPECT_EQ(d.position, 3);
  // So are extra bits cut short: 10 then only six of the eight bits.
  d = expand({0xFF, 0xA3, 0x80, 0xFF, 0xAA}, desc);
  EXPECT_EQ(d.status, 0);
  EXPECT_TRUE(d.indices.empty());
  EXPECT_EQ(d.position, 3);
}

TEST(ExpandData, BitsLeadingToNoCodeEndTheStream) {
  // 111 matches no code: decoding ends after that byte, before the bytes that follow.
  const Decoded d = expand({0xFF, 0xA3, 0x0E, 0x12, 0x34, 0xFF, 0xA9}, small_table());
  EXPECT_EQ(d.status, 0);
  EXPECT_EQ(d.indices, (std::vector<int16_t>(4, 0)));
  EXPECT_EQ(d.position, 3);
}

TEST(ExpandData, DamagedStreamsFail) {
  const HuffmanTableDescriptor desc = small_table();
  // Wrong or missing marker.
  EXPECT_EQ(expand({0xFF, 0xA6, 0x00}, desc).status, 1);
  EXPECT_EQ(expand({0xFF}, desc).status, 1);
  EXPECT_EQ(expand({}, desc).status, 1);
  // The file ends before any marker closes the stream, also right after a 0xFF.
  EXPECT_EQ(expand({0xFF, 0xA3, 0x00, 0x00}, desc).status, 1);
  EXPECT_EQ(expand({0xFF, 0xA3, 0x00, 0xFF}, desc).status, 1);
  // More indices than the caller's array holds: 0x00 is eight single zeros.
  EXPECT_EQ(expand({0xFF, 0xA3, 0x00, 0x00, 0xFF, 0xA9}, desc, 15).status, 1);
  EXPECT_EQ(expand({0xFF, 0xA3, 0x00, 0x00, 0xFF, 0xA9}, desc, 16).status, 0);
}

TEST(ExpandData, HostileTablesFail) {
  HuffmanTableDescriptor desc;
  desc.bits[1] = 2;
  desc.bits[2] = 1;  // three codes where two bits of 1-bit codes already fill the space
  EXPECT_EQ(expand({0xFF, 0xA3, 0x00, 0xFF, 0xA9}, desc).status, 1);
  desc = {};
  desc.bits.fill(255);  // 4080 values
  EXPECT_EQ(expand({0xFF, 0xA3, 0x00, 0xFF, 0xA9}, desc).status, 1);
  // An empty table decodes nothing: the first bit leads nowhere.
  desc = {};
  const Decoded d = expand({0xFF, 0xA3, 0x00, 0xFF, 0xA9}, desc);
  EXPECT_EQ(d.status, 0);
  EXPECT_TRUE(d.indices.empty());
  // A huge run that the array cannot hold: 106 with 0xFFFF.
  desc.bits[1] = 1;
  desc.huffval[0] = 106;
  const std::vector<uint8_t> run{0xFF, 0xA3, 0x7F, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0xA9};
  EXPECT_EQ(expand(run, desc, 65534).status, 1);
  EXPECT_EQ(expand(run, desc, 65535).indices.size(), 65535u);
}

TEST(ExpandData, RandomBytesNeverMisbehave) {
  // Whatever the bytes, decoding returns (sanitizers check that it stays in bounds), and when
  // it succeeds it leaves the file at a marker or inside the data, never past the end.
  std::mt19937 random(11);
  for (int trial = 0; trial < 300; ++trial) {
    // Mostly real tables over random symbols, so that the bytes get decoded; some random ones.
    HuffmanTableDescriptor desc;
    if (trial % 4 == 0) {
      for (int length = 1; length <= 16; ++length) desc.bits[length] = uint8_t(random() % 3);
      for (uint8_t& v : desc.huffval) v = uint8_t(random());
    } else {
      SymbolCounts counts;
      for (int k = 0; k < 40; ++k) counts.count[random() % 256] += 1 + random() % 100;
      ASSERT_EQ(build_ht_desc(counts, desc), 0);
    }
    std::vector<uint8_t> bytes{0xFF, 0xA3};
    const size_t n = random() % 600;
    for (size_t k = 0; k < n; ++k) bytes.push_back(random() % 4 ? uint8_t(random()) : 0xFF);
    const Decoded d = expand(bytes, desc, 2000);
    EXPECT_LE(d.indices.size(), 2000u);
    if (d.status == 0) {
      EXPECT_LE(size_t(d.position), bytes.size());
    }
  }
}

TEST(TableDescriptor, WriteReadRoundTripAndDamage) {
  HuffmanTableDescriptor desc;
  desc.bits[2] = 3;
  desc.bits[5] = 2;
  desc.huffval = {106, 1, 180, 7, 101};
  FilePtr file(tmpfile());
  ASSERT_EQ(write_ht_desc(file.get(), kTableDescriptorMarker, desc), 0);
  ASSERT_EQ(write_float(file.get(), -0.15625f), 0);
  std::vector<uint8_t> bytes = contents(file.get());
  ASSERT_EQ(bytes.size(), 2u + 16 + 5 + 4);
  EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 4, bytes.end()),
            (std::vector<uint8_t>{0xBE, 0x20, 0x00, 0x00}));

  FilePtr in = file_with(bytes);
  HuffmanTableDescriptor back;
  ASSERT_EQ(ReadHTDesc(in.get(), back), 0);
  EXPECT_EQ(back.bits, desc.bits);
  EXPECT_EQ(back.huffval, desc.huffval);
  float step = 0;
  ASSERT_EQ(read_float(in.get(), step), 0);
  EXPECT_EQ(step, -0.15625f);
  EXPECT_EQ(read_float(in.get(), step), 1);  // nothing left

  // A wrong marker, a table cut short, and one that claims more than 256 values.
  bytes[1] = 0xAA;
  EXPECT_EQ(ReadHTDesc(file_with(bytes).get(), back), 1);
  bytes[1] = 0xA6;
  EXPECT_EQ(ReadHTDesc(file_with(std::span(bytes).first(20)).get(), back), 1);
  EXPECT_EQ(ReadHTDesc(file_with(std::span(bytes).first(10)).get(), back), 1);
  std::vector<uint8_t> huge{0xFF, 0xA6};
  huge.insert(huge.end(), 16, 0xFF);
  huge.insert(huge.end(), 4080, 0x00);
  EXPECT_EQ(ReadHTDesc(file_with(huge).get(), back), 1);
}
