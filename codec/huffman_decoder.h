// Decoding side of a Huffman table: the code tree of a descriptor, with a lookup table that
// resolves the first bits of a code in one step. Walking it bit by bit and through the lookup
// gives the same result, including where a bit leads to no code at all.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "codec/huffman_table.h"

class HuffmanDecoder {
 public:
  static constexpr int kLookupBits = 9;

  // What a walk reached: a symbol, an empty branch (the bits match no code), or an inner node
  // from which more bits are needed.
  enum class Reached : uint8_t { kSymbol, kNoCode, kNode };
  struct Step {
    Reached reached;
    uint8_t length;  // bits taken
    uint16_t value;  // the symbol, or the inner node to continue from
  };

  // 0 on success, 1 when the descriptor is not a prefix code.
  int build(const HuffmanTableDescriptor& desc);

  // The step for the next kLookupBits bits (most significant first), from the root.
  Step lookup(uint32_t bits) const { return lookup_[bits]; }
  // One bit from inner node `node` (0 is the root).
  Step walk(uint16_t node, uint32_t bit) const;

 private:
  // A child is 0 when empty, a positive inner node number, or -(symbol + 1) for a leaf.
  std::vector<std::array<int32_t, 2>> nodes_;
  std::array<Step, 1 << kLookupBits> lookup_{};
};
