// Word-by-word reading of the plain-text headers of raw rasters (BIL/BIP/BSQ ".hdr" files, USGS
// DOQ keyword headers): words are runs of non-blank characters, values may follow a keyword on
// the same line, and the rest of a line after a keyword's values is ignored.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

class TextHeaderReader {
 public:
  // Takes ownership of an open stream and closes it.
  explicit TextHeaderReader(FILE* stream) : stream_(stream) {}
  ~TextHeaderReader();
  TextHeaderReader(const TextHeaderReader&) = delete;
  TextHeaderReader& operator=(const TextHeaderReader&) = delete;

  // The next word, skipping blanks and line ends; empty at the end of the file. Words longer
  // than kMaxWord characters are cut (the rest is dropped) so hostile files cannot grow them.
  std::optional<std::string> word();
  // Skips to just past the next line end; false when the file ends first.
  bool skip_line();
  // The rest of the current line after leading blanks, without the line end (not consumed
  // past it).
  std::string rest_of_line();
  // Whether the last character read was a line end (the current line is finished).
  bool at_line_start() const { return at_line_start_; }

  static constexpr size_t kMaxWord = 255;

 private:
  FILE* stream_;
  bool at_line_start_ = true;
};

// Whole-word numeric parsing of a header value: the text must start with a number (a trailing
// remainder is ignored, as a formatted read would). Integers must fit in 32 bits.
std::optional<int> parse_int_prefix(const std::string& text);
std::optional<double> parse_double_prefix(const std::string& text);
