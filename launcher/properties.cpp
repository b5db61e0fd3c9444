#include "launcher/properties.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <limits>
#include <optional>

#include "platform/error.h"

namespace kst {
namespace {

bool is_blank(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

void append_utf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Reads "\u" and up to four hexadecimal digits at `i`; returns the code and the length, or a
// length of 0 when no digit follows.
std::pair<uint32_t, size_t> escape_at(const std::string& text, size_t i) {
  if (i + 1 >= text.size() || text[i] != '\\' || text[i + 1] != 'u') return {0, 0};
  uint32_t code = 0;
  size_t digits = 0;
  while (digits < 4 && i + 2 + digits < text.size() &&
         std::isxdigit(static_cast<unsigned char>(text[i + 2 + digits]))) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i + 2 + digits])));
    code = code * 16 + static_cast<uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    ++digits;
  }
  return {code, digits == 0 ? 0 : digits + 2};
}

// Parses an optional sign and decimal digits after leading blanks, stopping at the first other
// character, as the C library's atol does. Nothing for no digits or beyond 64 bits.
std::optional<int64_t> leading_integer(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
  int64_t value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    const int digit = text[i] - '0';
    if (value > (std::numeric_limits<int64_t>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

}  // namespace

std::string trim_property(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && is_blank(text[begin])) ++begin;
  while (end > begin && is_blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string unescape_property(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    auto [code, length] = escape_at(text, i);
    if (length == 0) {
      // A backslash pair other than \u passes through whole, so "\\u" stays as written.
      const size_t take = text[i] == '\\' && i + 1 < text.size() ? 2 : 1;
      out.append(text, i, take);
      i += take;
      continue;
    }
    i += length;
    if (code >= 0xD800 && code < 0xDC00) {
      auto [low, low_length] = escape_at(text, i);
      if (low_length != 0 && low >= 0xDC00 && low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        i += low_length;
      } else {
        code = 0xFFFD;
      }
    } else if (code >= 0xDC00 && code < 0xE000) {
      code = 0xFFFD;
    }
    append_utf8(out, code);
  }
  return out;
}

void Properties::read(const std::string& file) {
  struct stat info {};
  std::ifstream in;
  // Only regular files: a folder cannot be read and a device or pipe might never end.
  if (::stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode)) in.open(file, std::ios::binary);
  if (!in.is_open()) throw Error("could not open file for read");
  read(in);
}

void Properties::read(std::istream& in) {
  std::string line;
  bool first = true;
  while (std::getline(in, line)) {
    if (first && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // UTF-8 mark of editors
    first = false;
    if (!line.empty() && line[0] == '#') continue;
    line = trim_property(line);
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = trim_property(line.substr(0, eq));
    std::string value = trim_property(line.substr(eq + 1));
    std::string next;
    while (!value.empty() && value.back() == '\\' && std::getline(in, next)) {
      value.back() = ' ';
      value += trim_property(next);
    }
    table_[unescape_property(key)] = unescape_property(value);
  }
}

std::string Properties::string(const std::string& key, const std::string& fallback) const {
  const auto found = table_.find(key);
  return found == table_.end() ? fallback : found->second;
}

bool Properties::boolean(const std::string& key) const {
  const std::string value = lower(string(key));
  return value == "true" || value == "on" || value == "t";
}

bool Properties::yes(const std::string& key) const {
  const std::string value = lower(string(key));
  return value == "true" || value == "yes" || value == "on";
}

int64_t Properties::size(const std::string& key) const {
  std::string value = lower(string(key, "0"));
  int64_t unit = 1;
  if (!value.empty() && value.back() == 'k') unit = 1024;
  if (!value.empty() && value.back() == 'm') unit = 1048576;
  if (unit != 1) value.pop_back();
  const std::optional<int64_t> number = leading_integer(value);
  if (!number) return 0;
  if (*number > std::numeric_limits<int64_t>::max() / unit ||
      *number < std::numeric_limits<int64_t>::min() / unit)
    return 0;
  return *number * unit;
}

int Properties::integer(const std::string& key) const {
  const std::optional<int64_t> number = leading_integer(string(key, "0"));
  if (!number || *number > std::numeric_limits<int>::max() ||
      *number < std::numeric_limits<int>::min())
    return 0;
  return static_cast<int>(*number);
}

}  // namespace kst
