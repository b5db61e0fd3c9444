// Coding one sequence of quantiser indices as a marked, Huffman-coded stream, and reading such
// a stream back. The stream is 0xFF 0xA3 followed by the stuffed, 1-padded bits; it ends where
// the next marker begins. Both return 0 on success and 1 on failure after printing their line
// on standard error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include "codec/huffman_decoder.h"
#include "codec/huffman_table.h"
#include "codec/symbol_alphabet.h"

// Writes 0xFF 0xA3 and the coded symbols of `indices`. Every symbol the sequence needs must
// have a code in `table` (as made by GenCode2 from a GenHTDesc2 over this sequence).
int encode_block2(std::span<const int16_t> indices, const HuffmanCodeTable& table,
                  int value_range, int run_range, FILE* out);
// The same for the symbols of a sequence (append_symbols), found once for its table and its
// coding.
int encode_symbols(std::span<const AlphabetSymbol> symbols, const HuffmanCodeTable& table,
                   FILE* out);

// Reads a coded stream at the current position of `in` into `out`, setting `count` to the
// number of indices decoded. Stops in front of the next marker (left to be read next), or just
// after the byte where the bits lead to no code. Damaged input fails cleanly: a table that is
// not a prefix code, an end of file before a marker, or more indices than `out` holds.
int expand_data(FILE* in, const HuffmanTableDescriptor& desc, std::span<int16_t> out,
                size_t& count);
// The same for a stream known to end within `length` bytes of the current position (marker
// included): reads nothing beyond them and takes their end as the next marker.
int expand_data(FILE* in, const HuffmanTableDescriptor& desc, std::span<int16_t> out,
                size_t& count, uint64_t length);
// The same for a stream held in memory that ends with `in` at the latest, decoded with a table
// built once for all the streams that share it.
int expand_data(std::span<const uint8_t> in, const HuffmanDecoder& decoder,
                std::span<int16_t> out, size_t& count);
