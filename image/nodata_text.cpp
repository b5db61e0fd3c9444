#include "image/nodata_text.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>

#include "image/image.h"

std::optional<double> nodata_sample(const std::string& text, int data_type, bool signed_samples) {
  const char* start = text.c_str();
  char* end = nullptr;
  const double v = std::strtod(start, &end);
  if (end == start) return std::nullopt;
  while (*end == ' ' || *end == '\t' || *end == '\n') ++end;
  if (*end != '\0') return std::nullopt;
  if (data_type == kImageFloat) {
    if (std::isfinite(v) && std::fabs(v) > FLT_MAX) return std::nullopt;
    return v;
  }
  const double low = data_type == kImage16Bit && signed_samples ? -32768.0 : 0.0;
  const double high = data_type == kImage16Bit ? (signed_samples ? 32767.0 : 65535.0) : 255.0;
  if (!(v >= low && v <= high) || v != std::floor(v)) return std::nullopt;
  return v;
}

std::string sample_type_name(int data_type, bool signed_samples) {
  if (data_type == kImageFloat) return "float";
  if (data_type == kImage16Bit) return signed_samples ? "16-bit signed" : "16-bit unsigned";
  return "8-bit";
}
