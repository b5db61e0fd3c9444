#include "encoder/core/symbol_map.h"

namespace {

CodedSymbol run_symbol(size_t run) {
  if (run <= size_t(kSymbolRunRange)) return {uint16_t(run), 0, 0};
  if (run <= 255) return {105, 8, uint16_t(run)};
  return {106, 16, uint16_t(run)};
}

CodedSymbol value_symbol(int k) {
  if (k >= -kSymbolValueRange && k <= kSymbolValueRange) return {uint16_t(k + 180), 0, 0};
  if (k > 0) return k <= 255 ? CodedSymbol{101, 8, uint16_t(k)} : CodedSymbol{103, 16, uint16_t(k)};
  return -k <= 255 ? CodedSymbol{102, 8, uint16_t(-k)} : CodedSymbol{104, 16, uint16_t(-k)};
}

}  // namespace

std::vector<CodedSymbol> map_symbols(const int16_t* indices, size_t count) {
  std::vector<CodedSymbol> out;
  size_t i = 0;
  while (i < count) {
    if (indices[i] != 0) {
      out.push_back(value_symbol(indices[i++]));
      continue;
    }
    size_t run = 0;
    while (i < count && indices[i] == 0 && run < size_t(kMaxZeroRun)) ++run, ++i;
    out.push_back(run_symbol(run));
  }
  return out;
}
