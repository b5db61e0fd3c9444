#include "platform/windows_command_line.h"

namespace Quorvale {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Reads the program name starting at `i`; leaves `i` on the first character after it.
std::string program_name(const std::string& text, size_t& i) {
  std::string word;
  bool quoted = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && is_blank(c)) {
      break;
    } else {
      word += c;
    }
  }
  return word;
}

// Reads one later argument starting at `i` (not blank); leaves `i` after it.
std::string argument(const std::string& text, size_t& i) {
  std::string word;
  bool quoted = false;
  while (i < text.size()) {
    size_t slashes = 0;
    while (i < text.size() && text[i] == '\\') ++slashes, ++i;
    bool copy = true;
    if (i < text.size() && text[i] == '"') {
      if (slashes % 2 == 0) {
        if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
          ++i;  // "" inside a quoted run: one literal quote, the run goes on
        } else {
          copy = false;
          quoted = !quoted;
        }
      }
      slashes /= 2;
    }
    word.append(slashes, '\\');
    if (i >= text.size() || (!quoted && is_blank(text[i]))) break;
    if (copy) word += text[i];
    ++i;
  }
  return word;
}

void skip_blanks(const std::string& text, size_t& i) {
  while (i < text.size() && is_blank(text[i])) ++i;
}

}  // namespace

std::vector<std::string> split_windows_command_line(const std::string& text) {
  std::vector<std::string> words;
  size_t i = 0;
  words.push_back(program_name(text, i));
  for (skip_blanks(text, i); i < text.size(); skip_blanks(text, i))
    words.push_back(argument(text, i));
  return words;
}

}  // namespace Quorvale
