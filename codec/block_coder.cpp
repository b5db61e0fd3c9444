#include "codec/block_coder.h"

#include <algorithm>
#include <vector>

#include "codec/bit_reader.h"
#include "codec/bit_writer.h"
#include "codec/huffman_decoder.h"
#include "codec/ht_desc_io.h"
#include "codec/symbol_alphabet.h"
#include "codec/failure_lines.h"

namespace {

constexpr size_t kFlushBytes = 1 << 16;

bool write_bytes(std::vector<uint8_t>& bytes, FILE* out) {
  if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) {
    fprintf(stderr, "File size: %ld\n", long(ftello(out)));
    return false;
  }
  bytes.clear();
  return true;
}

}  // namespace

int encode_block2(std::span<const int16_t> indices, const HuffmanCodeTable& table,
                  int value_range, int run_range, FILE* out) {
  if (!alphabet_ranges_valid(value_range, run_range)) return 1;
  std::vector<AlphabetSymbol> symbols;
  append_symbols(indices, value_range, run_range, symbols);
  return encode_symbols(symbols, table, out);
}

int encode_symbols(std::span<const AlphabetSymbol> symbols, const HuffmanCodeTable& table,
                   FILE* out) {
  std::vector<uint8_t> bytes{kMarkerPrefix, kCodedStreamMarker};
  bytes.reserve(kFlushBytes + 16);
  BitWriter writer(bytes);
  for (const AlphabetSymbol& symbol : symbols) {
    const int length = table.length[symbol.symbol];
    if (length == 0) {
      fprintf(stderr, "No code for symbol %d in encode_block2.\n", symbol.symbol);
      return 1;
    }
    // Code (16 bits at most) and extra bits (16 at most) go out as one field.
    writer.put_bits(uint32_t(table.code[symbol.symbol]) << symbol.extra_width | symbol.extra_value,
                    length + symbol.extra_width);
    if (bytes.size() >= kFlushBytes && !write_bytes(bytes, out)) return 1;
  }
  writer.pad_with_ones();
  return write_bytes(bytes, out) ? 0 : 1;
}

namespace {

enum class Outcome { kContinue, kMarker, kNoCode, kFailed };

// Why the bits ran out: a marker ends the stream normally, anything else is an error.
Outcome out_of_bits(const BitReader& reader) {
  if (reader.at_marker()) return Outcome::kMarker;
  report_failure_line(reader.read_failed() ? "Read error.\n" : "Unexpected EOF.\n");
  return Outcome::kFailed;
}

// The next symbol's code: through the lookup while enough bits are buffered, then bit by bit.
Outcome next_code(BitReader& reader, const HuffmanDecoder& decoder, uint16_t& symbol) {
  HuffmanDecoder::Step step{HuffmanDecoder::Reached::kNode, 0, 0};
  if (reader.available() >= HuffmanDecoder::kLookupBits) {
    step = decoder.lookup(reader.peek(HuffmanDecoder::kLookupBits));
    reader.skip(step.length);
  }
  while (step.reached == HuffmanDecoder::Reached::kNode) {
    if (reader.available() == 0 && reader.fill(1) == 0) return out_of_bits(reader);
    step = decoder.walk(step.value, reader.read(1));
  }
  if (step.reached == HuffmanDecoder::Reached::kNoCode) return Outcome::kNoCode;
  symbol = step.value;
  return Outcome::kContinue;
}

int extra_width(uint16_t symbol) {
  if (symbol < kPositive8Symbol || symbol > kRun16Symbol) return 0;
  const bool wide = symbol == kPositive16Symbol || symbol == kNegative16Symbol ||
                    symbol == kRun16Symbol;
  return wide ? 16 : 8;
}

// Appends what `symbol` (with its extra bits) stands for; false when `out` has no room.
bool append_symbol(uint16_t symbol, uint32_t extra, std::span<int16_t> out, size_t& count) {
  size_t zeros = 0;
  int16_t value = 0;
  if (symbol >= kRun16Symbol + 1) {
    value = int16_t(symbol - kIndexSymbolBias);
  } else if (symbol == kPositive8Symbol || symbol == kPositive16Symbol) {
    value = int16_t(extra);
  } else if (symbol == kNegative8Symbol || symbol == kNegative16Symbol) {
    value = int16_t(-int32_t(extra));
  } else {
    zeros = symbol == kRun8Symbol || symbol == kRun16Symbol ? extra : symbol;
    if (zeros > out.size() - count) return false;
    std::fill_n(out.begin() + count, zeros, int16_t(0));
    count += zeros;
    return true;
  }
  if (count == out.size()) return false;
  out[count++] = value;
  return true;
}

// One symbol of any kind, read and appended.
Outcome decode_symbol(BitReader& reader, const HuffmanDecoder& decoder, std::span<int16_t> out,
                      size_t& count) {
  uint16_t symbol = 0;
  const Outcome code = next_code(reader, decoder, symbol);
  if (code != Outcome::kContinue) return code;
  const int width = extra_width(symbol);
  if (reader.available() < width) return out_of_bits(reader);
  const uint32_t extra = width ? reader.read(width) : 0;
  if (!append_symbol(symbol, extra, out, count)) {
    report_failure_line("Too many values in coded stream in expand_data.\n");
    return Outcome::kFailed;
  }
  return Outcome::kContinue;
}

// Most symbols are single indices whose code the lookup resolves at once: those go straight to
// the output, the rest through the general path. The count is kept locally, where no store
// through the output can touch it.
Outcome decode_symbols(BitReader& reader, const HuffmanDecoder& decoder, std::span<int16_t> out,
                       size_t& count) {
  size_t n = count;
  Outcome outcome = Outcome::kContinue;
  while (outcome == Outcome::kContinue) {
    if (reader.available() < 32) reader.fill(56);
    if (reader.available() >= HuffmanDecoder::kLookupBits) {
      const HuffmanDecoder::Step step = decoder.lookup(reader.peek(HuffmanDecoder::kLookupBits));
      if (step.reached == HuffmanDecoder::Reached::kSymbol && step.value > kRun16Symbol &&
          n < out.size()) {
        reader.skip(step.length);
        out[n++] = int16_t(step.value - kIndexSymbolBias);
        continue;
      }
      // A long index (the coarse subbands are full of them) with its extra bits, when they are
      // in the window and the output has room.
      if (step.reached == HuffmanDecoder::Reached::kSymbol && step.value >= kPositive8Symbol &&
          step.value <= kNegative16Symbol) {
        const int width = extra_width(step.value);
        if (reader.available() >= step.length + width && n < out.size()) {
          reader.skip(step.length);
          const int32_t extra = int32_t(reader.read(width));
          const bool negative = step.value == kNegative8Symbol || step.value == kNegative16Symbol;
          out[n++] = int16_t(negative ? -extra : extra);
          continue;
        }
      }
    }
    outcome = decode_symbol(reader, decoder, out, n);
  }
  count = n;
  return outcome;
}

bool stream_marker(const uint8_t* marker) {
  if (marker[0] == kMarkerPrefix && marker[1] == kCodedStreamMarker) return true;
  report_failure_line("Marker byte problem in expand_data.\n");
  return false;
}

}  // namespace

int expand_data(FILE* in, const HuffmanTableDescriptor& desc, std::span<int16_t> out,
                size_t& count) {
  return expand_data(in, desc, out, count, UINT64_MAX);
}

int expand_data(FILE* in, const HuffmanTableDescriptor& desc, std::span<int16_t> out,
                size_t& count, uint64_t length) {
  count = 0;
  HuffmanDecoder decoder;
  if (decoder.build(desc)) {
    report_failure_line("Invalid Huffman table in expand_data.\n");
    return 1;
  }
  uint8_t marker[2];
  if (length < 2 || fread(marker, 1, 2, in) != 2) {
    report_failure_line("Unexpected EOF.\n");
    return 1;
  }
  if (!stream_marker(marker)) return 1;
  BitReader reader(in, length == UINT64_MAX ? length : length - 2);
  if (decode_symbols(reader, decoder, out, count) == Outcome::kFailed) return 1;
  if (!reader.release()) {
    report_failure_line("Seek error.\n");
    return 1;
  }
  return 0;
}

int expand_data(std::span<const uint8_t> in, const HuffmanDecoder& decoder,
                std::span<int16_t> out, size_t& count) {
  count = 0;
  if (in.size() < 2) {
    report_failure_line("Unexpected EOF.\n");
    return 1;
  }
  if (!stream_marker(in.data())) return 1;
  BitReader reader(in.subspan(2));
  return decode_symbols(reader, decoder, out, count) == Outcome::kFailed ? 1 : 0;
}
