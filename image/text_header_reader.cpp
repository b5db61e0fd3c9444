#include "image/text_header_reader.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

TextHeaderReader::~TextHeaderReader() {
  if (stream_) std::fclose(stream_);
}

std::optional<std::string> TextHeaderReader::word() {
  int c = std::fgetc(stream_);
  while (c != EOF && std::isspace(c)) {
    at_line_start_ = c == '\n';
    c = std::fgetc(stream_);
  }
  if (c == EOF) return std::nullopt;
  std::string text;
  while (c != EOF && !std::isspace(c)) {
    if (text.size() < kMaxWord) text += static_cast<char>(c);
    c = std::fgetc(stream_);
  }
  at_line_start_ = c == '\n';
  if (c != EOF && c != '\n') std::ungetc(c, stream_);
  return text;
}

bool TextHeaderReader::skip_line() {
  if (at_line_start_) return true;
  for (int c = std::fgetc(stream_); c != EOF; c = std::fgetc(stream_)) {
    if (c == '\n') {
      at_line_start_ = true;
      return true;
    }
  }
  return false;
}

std::string TextHeaderReader::rest_of_line() {
  std::string text;
  if (at_line_start_) return text;
  int c = std::fgetc(stream_);
  while (c == ' ' || c == '\t') c = std::fgetc(stream_);
  while (c != EOF && c != '\n' && c != '\r') {
    if (text.size() < kMaxWord) text += static_cast<char>(c);
    c = std::fgetc(stream_);
  }
  if (c != EOF) std::ungetc(c, stream_);
  return text;
}

std::optional<int> parse_int_prefix(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(begin, &end, 10);
  if (end == begin || errno == ERANGE || value < INT_MIN || value > INT_MAX) return std::nullopt;
  return static_cast<int>(value);
}

std::optional<double> parse_double_prefix(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  const double value = std::strtod(begin, &end);
  if (end == begin || !std::isfinite(value)) return std::nullopt;
  return value;
}
