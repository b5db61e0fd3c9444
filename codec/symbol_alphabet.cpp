#include "codec/symbol_alphabet.h"

bool alphabet_ranges_valid(int value_range, int run_range) {
  // Index symbols span 180 - V .. 180 + V and must stay clear of the escapes (101..106) and of
  // the reserved 256; run symbols 1..R must stay below the escapes too.
  return value_range >= 0 && value_range <= kIndexSymbolBias - kRun16Symbol - 1 &&
         run_range >= 0 && run_range <= 100;
}
