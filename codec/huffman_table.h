// Huffman tables of the coded streams: a JPEG-style descriptor (BITS and HUFFVAL) built from
// symbol counts, and the code table the coder writes with. Codes are at most 16 bits long and
// the all-ones code of the longest length is never assigned, so 1-bit padding never decodes.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "codec/symbol_alphabet.h"

constexpr int kMaxCodeLength = 16;
constexpr int kMaxTableValues = 256;

// As stored in the files: bits[L] codes of length L for L = 1..16 (bits[0] unused), then the
// sum of bits symbols in huffval, by code length and by increasing symbol within a length.
struct HuffmanTableDescriptor {
  std::array<uint8_t, kMaxCodeLength + 1> bits{};
  std::array<uint8_t, kMaxTableValues> huffval{};

  // Number of coded symbols: the sum of bits[1..16] (may exceed 256 in a damaged table).
  int value_count() const;
};

// Code and code length per symbol 0..255; length 0 means the symbol has no code.
struct HuffmanCodeTable {
  std::array<uint16_t, 256> code{};
  std::array<uint8_t, 256> length{};
};

// Symbol counts over one or more sequences; 64-bit so no block can overflow them.
struct SymbolCounts {
  std::array<uint64_t, kAlphabetSize> count{};
};

// Adds the symbols of `indices` (mapped with V and R) to `counts`.
void count_symbols(std::span<const int16_t> indices, int value_range, int run_range,
                   SymbolCounts& counts);

// Builds the descriptor from counts (count[256] is set to 1 here, reserving the all-ones code).
// Ties between equal counts go to the lower symbol, so equal input gives equal tables.
// 0 on success, 1 on failure.
int build_ht_desc(const SymbolCounts& counts, HuffmanTableDescriptor& desc);

// The table of all records of one block and band. 0 on success, 1 on failure (bad V or R).
int GenHTDesc2(std::span<const std::span<const int16_t>> sequences, int value_range,
               int run_range, HuffmanTableDescriptor& desc);
int GenHTDesc2(std::span<const int16_t> sequence, int value_range, int run_range,
               HuffmanTableDescriptor& desc);

// Canonical codes (JPEG Annex C) for the descriptor. 0 on success, 1 when the descriptor is
// not a prefix code (over-full lengths, more than 256 values).
int GenCode2(const HuffmanTableDescriptor& desc, HuffmanCodeTable& table);
