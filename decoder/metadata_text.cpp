#include "decoder/metadata_text.h"

#include <cstring>

#include "platform/error.h"

std::string metadata_value_text(const MetadataRecord& r, int k) {
  const uint8_t* v = r.values.data();
  switch (r.type) {
    case TYPE_BYTE: return std::to_string(v[k]);
    case TYPE_SBYTE: return std::to_string(int8_t(v[k]));
    case TYPE_SHORT: { uint16_t x; std::memcpy(&x, v + 2 * k, 2); return std::to_string(x); }
    case TYPE_SSHORT: { int16_t x; std::memcpy(&x, v + 2 * k, 2); return std::to_string(x); }
    case TYPE_LONG:
    case TYPE_SLONG: { int32_t x; std::memcpy(&x, v + 4 * k, 4); return std::to_string(x); }
    case TYPE_FLOAT: { float x; std::memcpy(&x, v + 4 * k, 4); return format_message("%g", x); }
    case TYPE_DOUBLE: { double x; std::memcpy(&x, v + 8 * k, 8); return format_message("%.15g", x); }
    case TYPE_ASCII: {
      std::string s = r.strings[size_t(k)];
      while (!s.empty() && s.back() == '\n') s.pop_back();
      return s;
    }
    default: return "?";
  }
}

double metadata_number(const MetadataRecord& r, int k) {
  const uint8_t* v = r.values.data();
  switch (r.type) {
    case TYPE_BYTE: return v[k];
    case TYPE_SBYTE: return int8_t(v[k]);
    case TYPE_SHORT: { uint16_t x; std::memcpy(&x, v + 2 * k, 2); return x; }
    case TYPE_SSHORT: { int16_t x; std::memcpy(&x, v + 2 * k, 2); return x; }
    case TYPE_LONG:
    case TYPE_SLONG: { int32_t x; std::memcpy(&x, v + 4 * k, 4); return x; }
    case TYPE_FLOAT: { float x; std::memcpy(&x, v + 4 * k, 4); return x; }
    case TYPE_DOUBLE: { double x; std::memcpy(&x, v + 8 * k, 8); return x; }
    default: return 0;
  }
}
