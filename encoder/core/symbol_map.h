// The byte-sized symbol alphabet of the coded streams: zero runs and small indices are symbols
// of their own, larger values and longer runs are escapes followed by 8 or 16 extra bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct CodedSymbol {
  uint16_t symbol;      // 1..255; 256 only reserves a code and is never produced
  uint8_t extra_bits;   // 0, 8 or 16, written most significant first after the symbol's code
  uint16_t extra;
};

constexpr int kSymbolValueRange = 45;  // indices -45..45 map to symbols 135..225
constexpr int kSymbolRunRange = 30;    // runs of 1..30 zeros map to symbols 1..30
constexpr int kMaxZeroRun = 65535;     // longer runs continue as a new run

std::vector<CodedSymbol> map_symbols(const int16_t* indices, size_t count);
