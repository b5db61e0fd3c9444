#include "codec/huffman_table.h"

#include <algorithm>
#include <vector>

int HuffmanTableDescriptor::value_count() const {
  int total = 0;
  for (int length = 1; length <= kMaxCodeLength; ++length) total += bits[length];
  return total;
}

void count_symbols(std::span<const int16_t> indices, int value_range, int run_range,
                   SymbolCounts& counts) {
  for (size_t position = 0; position < indices.size();) {
    const AlphabetSymbol symbol = next_symbol(indices, position, value_range, run_range);
    ++counts.count[symbol.symbol];
    position += symbol.index_count;
  }
}

namespace {

constexpr int kNoLink = -1;
// With 257 symbols no code can be longer than 256 bits, so sizes of every possible
// distribution fit; the classic 32-entry count would overflow past about nine million symbols.
constexpr int kMaxTreeDepth = kAlphabetSize - 1;

using CodeSizes = std::array<int, kAlphabetSize>;

// The two smallest non-zero counts in one pass: v1 the first minimum found, v2 the first
// minimum among the rest (so ties go to the lower symbol); -1 where there is none.
void two_smallest(const std::array<uint64_t, kAlphabetSize>& freq, int& v1, int& v2) {
  v1 = v2 = -1;
  for (int symbol = 0; symbol < kAlphabetSize; ++symbol) {
    const uint64_t f = freq[symbol];
    if (f == 0) continue;
    if (v1 < 0 || f < freq[v1]) {
      v2 = v1;
      v1 = symbol;
    } else if (v2 < 0 || f < freq[v2]) {
      v2 = symbol;
    }
  }
}

// JPEG Annex K.2: code sizes by repeatedly merging the two rarest entries.
CodeSizes code_sizes(std::array<uint64_t, kAlphabetSize> freq) {
  CodeSizes size{};
  std::array<int, kAlphabetSize> others;
  others.fill(kNoLink);
  for (;;) {
    int v1, v2;
    two_smallest(freq, v1, v2);
    if (v2 < 0) break;
    freq[v1] += freq[v2];
    freq[v2] = 0;
    int end = v1;
    ++size[end];
    while (others[end] != kNoLink) {
      end = others[end];
      ++size[end];
    }
    others[end] = v2;
    for (int at = v2; at != kNoLink; at = others[at]) ++size[at];
  }
  return size;
}

// JPEG Annex K.3: moves codes deeper than 16 bits up, then drops the reserved code from the
// longest length. The four updates run one after another, as J + 1 may equal L - 1.
bool limit_lengths(std::vector<int>& bits) {
  for (int length = kMaxTreeDepth; length > kMaxCodeLength; --length) {
    while (bits[length] > 0) {
      // Codes at the deepest level come in pairs; a lone one means the sizes are inconsistent.
      if (bits[length] == 1) return false;
      int j = length - 2;
      while (j > 0 && bits[j] == 0) --j;
      if (j == 0) return false;
      bits[length] -= 2;
      bits[length - 1] += 1;
      bits[j + 1] += 2;
      bits[j] -= 1;
    }
  }
  // With only the reserved symbol in use there are no codes at all, and nothing to remove.
  for (int length = kMaxCodeLength; length > 0; --length) {
    if (bits[length] > 0) {
      --bits[length];
      break;
    }
  }
  return true;
}

}  // namespace

int build_ht_desc(const SymbolCounts& counts, HuffmanTableDescriptor& desc) {
  std::array<uint64_t, kAlphabetSize> freq = counts.count;
  freq[kReservedSymbol] = 1;
  const CodeSizes size = code_sizes(freq);

  std::vector<int> bits(kMaxTreeDepth + 1, 0);
  for (int symbol = 0; symbol < kAlphabetSize; ++symbol) {
    if (size[symbol] > 0) ++bits[size[symbol]];
  }
  if (!limit_lengths(bits)) return 1;

  desc = {};
  for (int length = 1; length <= kMaxCodeLength; ++length) desc.bits[length] = uint8_t(bits[length]);
  // Symbols in order of their unlimited code size, which limiting keeps monotonic.
  int next = 0, deepest = 0;
  for (int symbol = 0; symbol < kReservedSymbol; ++symbol) deepest = std::max(deepest, size[symbol]);
  for (int length = 1; length <= deepest; ++length) {
    for (int symbol = 0; symbol < kReservedSymbol; ++symbol) {
      if (size[symbol] == length) desc.huffval[next++] = uint8_t(symbol);
    }
  }
  return next == desc.value_count() ? 0 : 1;
}

int GenHTDesc2(std::span<const std::span<const int16_t>> sequences, int value_range,
               int run_range, HuffmanTableDescriptor& desc) {
  if (!alphabet_ranges_valid(value_range, run_range)) return 1;
  SymbolCounts counts;
  for (std::span<const int16_t> sequence : sequences) {
    count_symbols(sequence, value_range, run_range, counts);
  }
  return build_ht_desc(counts, desc);
}

int GenHTDesc2(std::span<const int16_t> sequence, int value_range, int run_range,
               HuffmanTableDescriptor& desc) {
  return GenHTDesc2(std::span<const std::span<const int16_t>>(&sequence, 1), value_range,
                    run_range, desc);
}

int GenCode2(const HuffmanTableDescriptor& desc, HuffmanCodeTable& table) {
  table = {};
  if (desc.value_count() > kMaxTableValues) return 1;
  uint32_t code = 0;
  int value = 0;
  for (int length = 1; length <= kMaxCodeLength; ++length) {
    for (int k = 0; k < desc.bits[length]; ++k) {
      // A code that no longer fits its length means the lengths over-fill the code space.
      if (code >= (uint32_t(1) << length)) return 1;
      const uint8_t symbol = desc.huffval[value++];
      table.code[symbol] = uint16_t(code);
      table.length[symbol] = uint8_t(length);
      ++code;
    }
    code <<= 1;
  }
  return 0;
}
