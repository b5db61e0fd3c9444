// The hand-off file for the Java application: a properties file in the system's folder for
// temporary files, created on first use under one name kept for the whole run, to which the
// launcher appends key=value lines. It holds a copy of the environment, so it is readable by
// the user only and is removed when the launcher is done with it.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kst {

class TempPropertiesFile {
 public:
  TempPropertiesFile() = default;
  ~TempPropertiesFile();
  TempPropertiesFile(const TempPropertiesFile&) = delete;
  TempPropertiesFile& operator=(const TempPropertiesFile&) = delete;

  // The file's path, creating the file on the first call (prefix "kst").
  const std::string& path();

  // Appends "key=value\n". Line breaks inside the key or value are written as \n and \r so
  // that a value cannot end its line early. Raises WriteError when the file cannot be written.
  void append(const std::string& key, const std::string& value);

  // "kst.nl.env.NAME", "kst.nl.env.name" and "kst.nl.env.exact_case.Name" for each variable.
  void append_environment(const std::vector<std::pair<std::string, std::string>>& variables);

  // The three lines written when the Control key is held at start.
  void append_control_key_lines();

 private:
  void write(const std::string& lines);

  std::string path_;
};

}  // namespace kst
