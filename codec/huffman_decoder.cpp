#include "codec/huffman_decoder.h"

#include <algorithm>

int HuffmanDecoder::build(const HuffmanTableDescriptor& desc) {
  HuffmanCodeTable table;
  if (GenCode2(desc, table)) return 1;
  nodes_.assign(1, {0, 0});
  for (int symbol = 0; symbol < 256; ++symbol) {
    const int length = table.length[symbol];
    if (length == 0) continue;
    int32_t node = 0;
    for (int bit = length - 1; bit > 0; --bit) {
      int32_t& child = nodes_[node][(table.code[symbol] >> bit) & 1];
      if (child < 0) return 1;  // a shorter code is a prefix of this one
      if (child == 0) {
        child = int32_t(nodes_.size());
        nodes_.push_back({0, 0});
      }
      node = nodes_[node][(table.code[symbol] >> bit) & 1];
    }
    int32_t& leaf = nodes_[node][table.code[symbol] & 1];
    if (leaf != 0) return 1;
    leaf = -(symbol + 1);
  }
  // Each code of at most kLookupBits fills the entries it begins; the walk makes the rest (the
  // beginnings of longer codes, and bits that lead to no code).
  lookup_.fill(Step{Reached::kNode, 0, 0});
  for (int symbol = 0; symbol < 256; ++symbol) {
    const int length = table.length[symbol];
    if (length == 0 || length > kLookupBits) continue;
    const uint32_t first = uint32_t(table.code[symbol]) << (kLookupBits - length);
    std::fill_n(lookup_.begin() + first, size_t(1) << (kLookupBits - length),
                Step{Reached::kSymbol, uint8_t(length), uint16_t(symbol)});
  }
  for (uint32_t bits = 0; bits < lookup_.size(); ++bits) {
    if (lookup_[bits].length != 0) continue;
    Step step{Reached::kNode, 0, 0};
    for (int taken = 1; taken <= kLookupBits && step.reached == Reached::kNode; ++taken) {
      step = walk(step.value, (bits >> (kLookupBits - taken)) & 1);
      step.length = uint8_t(taken);
    }
    lookup_[bits] = step;
  }
  return 0;
}

HuffmanDecoder::Step HuffmanDecoder::walk(uint16_t node, uint32_t bit) const {
  const int32_t child = nodes_[node][bit];
  if (child == 0) return {Reached::kNoCode, 1, 0};
  if (child < 0) return {Reached::kSymbol, 1, uint16_t(-child - 1)};
  return {Reached::kNode, 1, uint16_t(child)};
}
