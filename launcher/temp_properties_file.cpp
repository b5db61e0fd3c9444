#include "launcher/temp_properties_file.h"

#include <cctype>
#include <cstdio>

#include "platform/error.h"
#include "platform/process_environment.h"

namespace kst {
namespace {

std::string single_line(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

std::string with_case(std::string text, int (*convert)(int)) {
  for (char& c : text) c = static_cast<char>(convert(static_cast<unsigned char>(c)));
  return text;
}

std::string line(const std::string& key, const std::string& value) {
  return single_line(key) + "=" + single_line(value) + "\n";
}

}  // namespace

TempPropertiesFile::~TempPropertiesFile() {
  if (!path_.empty()) std::remove(path_.c_str());
}

const std::string& TempPropertiesFile::path() {
  if (path_.empty()) path_ = Quorvale::make_system_temp_file("kst");
  return path_;
}

void TempPropertiesFile::write(const std::string& lines) {
  std::FILE* file = std::fopen(path().c_str(), "a");
  if (!file) throw WriteError(path_);
  const bool written = std::fputs(lines.c_str(), file) >= 0;
  if (std::fclose(file) != 0 || !written) throw WriteError(path_);
}

void TempPropertiesFile::append(const std::string& key, const std::string& value) {
  write(line(key, value));
}

void TempPropertiesFile::append_environment(
    const std::vector<std::pair<std::string, std::string>>& variables) {
  std::string lines;
  for (const auto& [name, value] : variables) {
    lines += line("kst.nl.env." + with_case(name, ::toupper), value);
    lines += line("kst.nl.env." + with_case(name, ::tolower), value);
    lines += line("kst.nl.env.exact_case." + name, value);
  }
  write(lines);
}

void TempPropertiesFile::append_control_key_lines() {
  write(line("kst.control-key", "true") + line("kst.stderr.redirect", "console") +
        line("kst.stdout.redirect", "console"));
}

}  // namespace kst
