#include "encoder/format/symbol_alphabet.h"

#include <algorithm>

bool alphabet_ranges_valid(int value_range, int run_range) {
  // Index symbols span 180 - V .. 180 + V and must stay clear of the escapes (101..106) and of
  // the reserved 256; run symbols 1..R must stay below the escapes too.
  return value_range >= 0 && value_range <= kIndexSymbolBias - kRun16Symbol - 1 &&
         run_range >= 0 && run_range <= 100;
}

namespace {

AlphabetSymbol run_symbol(uint32_t run, int run_range) {
  if (run <= uint32_t(run_range)) return {uint16_t(run), 0, 0, run};
  if (run <= 255) return {kRun8Symbol, 8, uint16_t(run), run};
  return {kRun16Symbol, 16, uint16_t(run), run};
}

AlphabetSymbol index_symbol(int index, int value_range) {
  if (index >= -value_range && index <= value_range) {
    return {uint16_t(index + kIndexSymbolBias), 0, 0, 1};
  }
  const int magnitude = index < 0 ? -index : index;
  if (magnitude <= 255) {
    return {uint16_t(index > 0 ? kPositive8Symbol : kNegative8Symbol), 8, uint16_t(magnitude), 1};
  }
  return {uint16_t(index > 0 ? kPositive16Symbol : kNegative16Symbol), 16, uint16_t(magnitude),
          1};
}

}  // namespace

AlphabetSymbol next_symbol(std::span<const int16_t> indices, size_t position, int value_range,
                           int run_range) {
  if (indices[position] != 0) return index_symbol(indices[position], value_range);
  const size_t limit = std::min(indices.size(), position + kMaxRun);
  size_t end = position + 1;
  while (end < limit && indices[end] == 0) ++end;
  return run_symbol(uint32_t(end - position), run_range);
}
