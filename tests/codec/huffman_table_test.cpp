// Table building: optimal lengths against an independent Huffman construction, the tie-break,
// length limiting of very deep trees, codes that stay prefix-free and decodable, and the
// decoder's lookup against its own tree.
#include "codec/huffman_table.h"

#include <gtest/gtest.h>

#include <queue>
#include <random>

#include "codec/block_coder.h"
#include "codec/coded_stream_fixture.h"
#include "codec/huffman_decoder.h"

namespace {

// Cost of an optimal prefix code for the non-zero counts, by the textbook priority queue.
uint64_t optimal_cost(const std::array<uint64_t, kAlphabetSize>& counts) {
  std::priority_queue<uint64_t, std::vector<uint64_t>, std::greater<>> queue;
  for (uint64_t c : counts) {
    if (c > 0) queue.push(c);
  }
  uint64_t cost = 0;
  while (queue.size() > 1) {
    const uint64_t a = queue.top();
    queue.pop();
    const uint64_t b = queue.top();
    queue.pop();
    cost += a + b;
    queue.push(a + b);
  }
  return cost;
}

// Checks the descriptor's shape: at most 16 bits, one code per listed symbol, no symbol twice,
// and exactly one free code (the reserved all-ones one) so that the lengths are complete.
void expect_well_formed(const HuffmanTableDescriptor& desc, int symbols_in_use) {
  ASSERT_EQ(desc.value_count(), symbols_in_use);
  std::array<bool, 256> seen{};
  for (int k = 0; k < desc.value_count(); ++k) {
    EXPECT_FALSE(seen[desc.huffval[k]]) << int(desc.huffval[k]);
    seen[desc.huffval[k]] = true;
  }
  int longest = 0;
  uint64_t kraft = 0;  // in units of 2^-16
  for (int length = 1; length <= kMaxCodeLength; ++length) {
    kraft += uint64_t(desc.bits[length]) << (kMaxCodeLength - length);
    if (desc.bits[length] > 0) longest = length;
  }
  if (symbols_in_use > 0) {
    EXPECT_EQ(kraft + (uint64_t(1) << (16 - longest)), 1u << 16);
  }
  HuffmanCodeTable table;
  ASSERT_EQ(GenCode2(desc, table), 0);
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256 && table.length[a] > 0; ++b) {
      if (a == b || table.length[b] < table.length[a]) continue;
      // a's code must not be a prefix of b's.
      EXPECT_NE(table.code[b] >> (table.length[b] - table.length[a]), table.code[a])
          << a << " " << b;
    }
    // The all-ones pattern stays free, so 1-bit padding never completes a code.
    if (table.length[a] > 0) {
      EXPECT_NE(table.code[a], (1u << table.length[a]) - 1) << a;
    }
  }
}

int used(const SymbolCounts& counts) {
  int n = 0;
  for (int s = 0; s < kReservedSymbol; ++s) n += counts.count[s] > 0;
  return n;
}

// Sums count x code length over the table's symbols.
uint64_t table_cost(const SymbolCounts& counts, const HuffmanTableDescriptor& desc) {
  HuffmanCodeTable table;
  EXPECT_EQ(GenCode2(desc, table), 0);
  uint64_t cost = 0;
  for (int s = 0; s < kReservedSymbol; ++s) cost += counts.count[s] * table.length[s];
  return cost;
}

}  // namespace

TEST(HuffmanTable, LengthsAreOptimalForRandomCounts) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 200; ++trial) {
    SymbolCounts counts;
    std::uniform_int_distribution<int> symbols(1, 256), magnitude(1, 5000);
    const int n = symbols(random);
    for (int k = 0; k < n; ++k) counts.count[random() % 256] += uint64_t(magnitude(random));
    HuffmanTableDescriptor desc;
    ASSERT_EQ(build_ht_desc(counts, desc), 0);
    expect_well_formed(desc, used(counts));
    // The reserved symbol (count 1) is part of the optimal tree; dropping it only shortens
    // other codes, by no more than its own length.
    std::array<uint64_t, kAlphabetSize> with_reserved = counts.count;
    with_reserved[kReservedSymbol] = 1;
    const uint64_t optimal = optimal_cost(with_reserved);
    const uint64_t cost = table_cost(counts, desc);
    EXPECT_LE(cost, optimal - 1);
    EXPECT_GE(cost + kMaxCodeLength, optimal);
  }
}

TEST(HuffmanTable, TiesGoToTheLowerSymbol) {
  // Counts 1, 1, 2 for symbols 1, 2, 3 and the reserved 1: after merging 1 and 2, symbol 1's
  // pair and symbol 3 both count 2 and the reserved symbol joins symbol 1's pair (lower
  // number). Sizes: 3 -> 1, 256 -> 2, 1 and 2 -> 3; then the reserved code leaves length 3.
  SymbolCounts counts;
  counts.count[1] = 1;
  counts.count[2] = 1;
  counts.count[3] = 2;
  HuffmanTableDescriptor desc;
  ASSERT_EQ(build_ht_desc(counts, desc), 0);
  const std::array<uint8_t, 17> bits{0, 1, 1, 1};
  EXPECT_EQ(desc.bits, bits);
  EXPECT_EQ(desc.huffval[0], 3);
  EXPECT_EQ(desc.huffval[1], 1);
  EXPECT_EQ(desc.huffval[2], 2);
}

TEST(HuffmanTable, DeepTreesAreLimitedTo16Bits) {
  // Fibonacci counts (1, 2, 3, 5, ... beside the reserved 1) make the deepest possible tree:
  // one more level per symbol, far past 32 levels for the larger n. Limiting then meets
  // J + 1 = L - 1 at every step.
  std::vector<int16_t> values;  // indices coded as themselves, in symbol order
  for (int v = -kValueRange; v <= kValueRange; ++v) {
    if (v != 0) values.push_back(int16_t(v));
  }
  for (int n : {17, 18, 20, 33, 40, 60, 90}) {
    SymbolCounts counts;
    uint64_t a = 1, b = 2;
    for (int k = 0; k < n; ++k) {
      counts.count[values[k] + kIndexSymbolBias] = a;
      const uint64_t next = a + b;
      a = b;
      b = next;
    }
    HuffmanTableDescriptor desc;
    ASSERT_EQ(build_ht_desc(counts, desc), 0) << n;
    expect_well_formed(desc, n);
    EXPECT_GT(desc.bits[16], 0) << n;
    // The most frequent symbols keep the shortest codes.
    EXPECT_EQ(desc.bits[1], 1) << n;
    EXPECT_EQ(desc.huffval[0], values[n - 1] + kIndexSymbolBias) << n;

    // And the limited table codes and decodes every symbol it holds.
    HuffmanCodeTable table;
    ASSERT_EQ(GenCode2(desc, table), 0);
    std::vector<int16_t> indices(values.begin(), values.begin() + n);
    for (int k = n - 1; k >= 0; k -= 3) indices.push_back(values[k]);
    vexal_test::FilePtr file(tmpfile());
    ASSERT_EQ(encode_block2(indices, table, kValueRange, kRunRange, file.get()), 0);
    fputc(0xFF, file.get());
    fputc(0xA9, file.get());
    rewind(file.get());
    std::vector<int16_t> out(indices.size());
    size_t count = 0;
    ASSERT_EQ(expand_data(file.get(), desc, out, count), 0);
    EXPECT_EQ(out, indices);
  }
}

TEST(HuffmanTable, EverySymbolInUse) {
  // 256 symbols with geometric counts: a full table at the 16-bit limit.
  SymbolCounts counts;
  for (int s = 0; s < 256; ++s) counts.count[s] = uint64_t(1) << (s % 40);
  HuffmanTableDescriptor desc;
  ASSERT_EQ(build_ht_desc(counts, desc), 0);
  expect_well_formed(desc, 256);
}

TEST(HuffmanTable, SymbolsOfASequence) {
  // The counting walks zero runs and escapes as the coder does.
  std::vector<int16_t> indices(70000, 0);
  indices.insert(indices.end(), {46, -46, -256, 300, 45, -45, 0, 0, 0, 9});
  indices.insert(indices.end(), 31, 0);
  indices.push_back(7);
  SymbolCounts counts;
  count_symbols(indices, kValueRange, kRunRange, counts);
  SymbolCounts expected;
  for (int s : {106, 106, 101, 102, 104, 103, 225, 135, 3, 189, 105, 187}) ++expected.count[s];
  EXPECT_EQ(counts.count, expected.count);
  HuffmanTableDescriptor desc;
  EXPECT_EQ(GenHTDesc2(indices, 80, kRunRange, desc), 1);  // V would collide with the escapes
}

// The decoder's lookup against walking the code tree bit by bit from the root, for every pattern
// of the lookup's width: optimal tables of random counts, deep tables whose codes run past the
// lookup, and tables whose free all-ones code leads nowhere.
TEST(HuffmanDecoder, LookupEqualsTheWalkForEveryPattern) {
  std::mt19937 random(11);
  std::vector<HuffmanTableDescriptor> tables;
  for (int trial = 0; trial < 60; ++trial) {
    SymbolCounts counts;
    const int n = 1 + int(random() % 256);
    for (int k = 0; k < n; ++k) counts.count[random() % 256] += 1 + random() % (trial % 2 ? 5 : 100000);
    tables.emplace_back();
    ASSERT_EQ(build_ht_desc(counts, tables.back()), 0);
  }
  for (const HuffmanTableDescriptor& desc : tables) {
    HuffmanDecoder decoder;
    ASSERT_EQ(decoder.build(desc), 0);
    for (uint32_t bits = 0; bits < (1u << HuffmanDecoder::kLookupBits); ++bits) {
      HuffmanDecoder::Step walked{HuffmanDecoder::Reached::kNode, 0, 0};
      int taken = 0;
      while (walked.reached == HuffmanDecoder::Reached::kNode && taken < HuffmanDecoder::kLookupBits)
        walked = decoder.walk(walked.value, (bits >> (HuffmanDecoder::kLookupBits - ++taken)) & 1);
      const HuffmanDecoder::Step looked = decoder.lookup(bits);
      ASSERT_EQ(int(looked.reached), int(walked.reached)) << bits;
      ASSERT_EQ(looked.length, taken) << bits;
      ASSERT_EQ(looked.value, walked.value) << bits;
    }
  }
}
