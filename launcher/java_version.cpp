#include "launcher/java_version.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

namespace kst {
namespace {

// The leading decimal digits of `part` (0 when none), at most 65535.
unsigned leading_number(const std::string& part) {
  unsigned value = 0;
  for (char c : part) {
    if (!std::isdigit(static_cast<unsigned char>(c))) break;
    value = std::min(value * 10 + static_cast<unsigned>(c - '0'), 65535u);
  }
  return value;
}

std::vector<unsigned> version_parts(const std::string& text) {
  std::vector<unsigned> parts;
  std::string part;
  for (char c : text) {
    if (c == '.' || c == '_') {
      parts.push_back(leading_number(part));
      part.clear();
    } else {
      part += c;
    }
  }
  parts.push_back(leading_number(part));
  parts.resize(std::max<size_t>(parts.size(), 4), 0);
  return parts;
}

}  // namespace

JavaVersion JavaVersion::packed(uint16_t word) {
  JavaVersion version;
  version.word_ = word;
  return version;
}

JavaVersion JavaVersion::modern(uint16_t feature, uint16_t interim, uint16_t update,
                                uint16_t patch) {
  JavaVersion version;
  version.modern_ = true;
  version.parts_ = {feature, interim, update, patch};
  return version;
}

int compare(const JavaVersion& a, const JavaVersion& b) {
  if (a.modern_ != b.modern_) return a.modern_ ? 1 : -1;
  if (!a.modern_) return static_cast<int16_t>(a.word_) - static_cast<int16_t>(b.word_);
  for (size_t i = 0; i < a.parts_.size(); ++i)
    if (a.parts_[i] != b.parts_[i]) return a.parts_[i] < b.parts_[i] ? -1 : 1;
  return 0;
}

std::string JavaVersion::text() const {
  char buffer[48];
  if (modern_)
    std::snprintf(buffer, sizeof buffer, "%u.%u.%u.%u", parts_[0], parts_[1], parts_[2], parts_[3]);
  else
    std::snprintf(buffer, sizeof buffer, "0x%x", word_);
  return buffer;
}

uint16_t pack_version(unsigned minor, unsigned micro, unsigned update) {
  return static_cast<uint16_t>((minor << 8) | (micro << 4) | update);
}

JavaVersion parse_version_string(const std::string& text) {
  const std::vector<unsigned> parts = version_parts(text);
  if (parts[0] > 1)
    return JavaVersion::modern(static_cast<uint16_t>(parts[0]), static_cast<uint16_t>(parts[1]),
                               static_cast<uint16_t>(parts[2]), static_cast<uint16_t>(parts[3]));
  return JavaVersion::packed(pack_version(parts[1], parts[2], parts[3]));
}

}  // namespace kst
