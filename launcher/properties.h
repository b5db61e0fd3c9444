// The launcher's properties file: key=value lines with "#" comments, backslash continuation
// lines and \uXXXX escapes. Strings are UTF-8; an escape becomes the UTF-8 form of its code.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <string>

namespace kst {

class Properties {
 public:
  // Adds the pairs of `file` (a key read again replaces the earlier value). Raises Error
  // "could not open file for read" when the file cannot be opened or is not a regular file.
  void read(const std::string& file);
  void read(std::istream& in);
  void set(const std::string& key, const std::string& value) { table_[key] = value; }

  // The value, or `fallback` when the key is absent.
  std::string string(const std::string& key, const std::string& fallback = "") const;
  // True for "true", "on" and "t" in any case.
  bool boolean(const std::string& key) const;
  // True for "true", "yes" and "on" in any case.
  bool yes(const std::string& key) const;
  // A size in bytes: decimal, with an optional "k" (1024) or "m" (1048576) suffix. 0 when
  // absent, not a number, or too large for 64 bits.
  int64_t size(const std::string& key) const;
  // A decimal integer; 0 when absent, not a number or out of range.
  int integer(const std::string& key) const;

  const std::map<std::string, std::string>& table() const { return table_; }

 private:
  std::map<std::string, std::string> table_;
};

// Replaces \uXXXX (one to four hexadecimal digits) by that character in UTF-8; a surrogate
// pair of escapes gives one character, a lone surrogate U+FFFD. Any other backslash pair, and
// "\u" without a digit, passes through unchanged.
std::string unescape_property(const std::string& text);

// Removes every character with code 32 or below from both ends.
std::string trim_property(const std::string& text);

}  // namespace kst
