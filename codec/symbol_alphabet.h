// The byte-sized alphabet that quantiser indices are coded with: zero runs, small indices as
// themselves, escapes with 8 or 16 extra bits for the rest. Shared by the temporary subband
// files and the output file, so both sides must map identically.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// 257 slots, 0..256; 256 is never coded and only reserves the all-ones code.
constexpr int kAlphabetSize = 257;
constexpr int kReservedSymbol = 256;

// The thresholds the encoder and the file writer always use.
constexpr int kValueRange = 45;  // V: |index| <= V is coded as symbol index + 180
constexpr int kRunRange = 30;    // R: runs of 1..R zeros are coded as the symbol R itself

constexpr int kPositive8Symbol = 101;   // V + 1 .. 255, 8 extra bits
constexpr int kNegative8Symbol = 102;   // -255 .. -(V + 1), 8 extra bits of minus the index
constexpr int kPositive16Symbol = 103;  // 256 .. , 16 extra bits
constexpr int kNegative16Symbol = 104;  // .. -256, 16 extra bits of minus the index
constexpr int kRun8Symbol = 105;        // R + 1 .. 255 zeros, 8 extra bits
constexpr int kRun16Symbol = 106;       // 256 .. 65535 zeros, 16 extra bits
constexpr int kIndexSymbolBias = 180;
constexpr int kMaxRun = 65535;

// One coded symbol: its Huffman symbol, the extra bits that follow its code (most significant
// first), and how many indices of the sequence it stands for.
struct AlphabetSymbol {
  uint16_t symbol;
  uint8_t extra_width;  // 0, 8 or 16
  uint16_t extra_value;
  uint32_t index_count;
};

// True when V and R keep the alphabet's regions apart (0 <= V <= 73, 0 <= R <= 100).
bool alphabet_ranges_valid(int value_range, int run_range);

// The symbol for the indices starting at `position` (< indices.size()). A zero run never
// exceeds 65535 and never runs past the end of `indices`. Inline: it runs once per symbol.
inline AlphabetSymbol next_symbol(std::span<const int16_t> indices, size_t position,
                                  int value_range, int run_range) {
  const int index = indices[position];
  if (index != 0) {
    if (index >= -value_range && index <= value_range) {
      return {uint16_t(index + kIndexSymbolBias), 0, 0, 1};
    }
    const int magnitude = index < 0 ? -index : index;
    const bool wide = magnitude > 255;
    const int symbol = index > 0 ? (wide ? kPositive16Symbol : kPositive8Symbol)
                                 : (wide ? kNegative16Symbol : kNegative8Symbol);
    return {uint16_t(symbol), uint8_t(wide ? 16 : 8), uint16_t(magnitude), 1};
  }
  const size_t limit = std::min(indices.size(), position + kMaxRun);
  size_t end = position + 1;
  while (end < limit && indices[end] == 0) ++end;
  const uint32_t run = uint32_t(end - position);
  if (run <= uint32_t(run_range)) return {uint16_t(run), 0, 0, run};
  if (run <= 255) return {kRun8Symbol, 8, uint16_t(run), run};
  return {kRun16Symbol, 16, uint16_t(run), run};
}

// The symbols of a whole sequence, appended to `out`.
inline void append_symbols(std::span<const int16_t> indices, int value_range, int run_range,
                           std::vector<AlphabetSymbol>& out) {
  for (size_t position = 0; position < indices.size();) {
    const AlphabetSymbol symbol = next_symbol(indices, position, value_range, run_range);
    out.push_back(symbol);
    position += symbol.index_count;
  }
}
