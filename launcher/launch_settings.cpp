#include "launcher/launch_settings.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/process_environment.h"

namespace kst {
namespace {

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string expanded_class_path(const Properties& properties) {
  std::string text = properties.string("kst.class.path");
  const std::string marker = "$ENV_CLASSPATH$";
  if (const size_t at = text.find(marker); at != std::string::npos)
    text.replace(at, marker.size(), Quorvale::environment_variable("CLASSPATH").value_or(""));
  return text;
}

void read_flags(const Properties& properties, LaunchSettings& settings) {
  settings.debug = properties.boolean("kst.nl.java.option.debugging");
  settings.no_async_gc =
      properties.boolean("kst.nl.java.option.garbage.collection.background.thread");
  settings.jit_off = properties.boolean("kst.nl.java.option.compiler");
  settings.no_class_gc = !properties.string("kst.nl.java.option.garbage.collection.extent").empty();
  settings.verify = properties.boolean("kst.nl.java.option.verify.mode");
}

}  // namespace

std::optional<std::string> apply_verbosity(LaunchSettings& settings, const std::string& value) {
  settings.verbose = false;
  settings.verbosity.clear();
  if (value.empty()) return std::nullopt;
  const std::string selection = lower(value);
  if (selection == "normal" || selection == "all") {
    settings.verbose = true;
  } else if (selection == "gc" || selection == "class") {
    settings.verbose = true;
    settings.verbosity = selection;
  } else if (selection != "none") {
    return "invalid verbosity selection '" + selection + "', disabling verbosity.\n";
  }
  return std::nullopt;
}

std::vector<std::string> split_class_path(const std::string& text, const std::string& base) {
  std::vector<std::string> entries;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(";:", start);
    if (end == std::string::npos) end = text.size();
    // Blanks around an entry come from continuation lines, never from a path.
    const std::string entry = trim_property(text.substr(start, end - start));
    if (!entry.empty()) entries.push_back(Quorvale::resolve_against(base, entry));
    start = end + 1;
  }
  return entries;
}

std::string class_path_text(const std::vector<std::string>& entries) {
  std::string text;
  for (const std::string& entry : entries) text += (text.empty() ? "" : ":") + entry;
  return text;
}

std::string application_argument_string(const LaunchSettings& settings) {
  std::string text;
  for (std::string argument : settings.launcher_arguments) {
    std::replace(argument.begin(), argument.end(), '\\', '/');
    text += "\"" + argument + "\" ";
  }
  bool first = true;
  for (const std::string& argument : settings.application_arguments) {
    if (!first) text += ' ';
    first = false;
    text += argument.find(' ') == std::string::npos ? argument : "\"" + argument + "\"";
  }
  return text;
}

LaunchSettings build_launch_settings(const Properties& properties, const LaunchFiles& files,
                                     const LauncherArguments& arguments, bool service) {
  LaunchSettings settings;
  const std::string& base = files.properties_directory;
  settings.main_class = properties.string("kst.nl.java.launcher.main.class");
  settings.class_path = split_class_path(expanded_class_path(properties), base);
  if (const std::string dir = properties.string("kst.user.dir"); !dir.empty())
    settings.working_directory = Quorvale::resolve_against(base, dir);
  settings.initial_heap = properties.size("kst.nl.java.option.java.heap.size.initial");
  settings.max_heap = properties.size("kst.nl.java.option.java.heap.size.max");
  if (auto warning = apply_verbosity(settings, properties.string("kst.nl.java.option.verbose")))
    std::fputs(warning->c_str(), stderr);
  read_flags(properties, settings);
  settings.additional_options = properties.string("kst.nl.java.option.additional");
  if (service) settings.additional_options += " -Xrs";
  settings.microsoft_min_version = properties.integer("kst.nl.win32.microsoftvm.min.version");
  settings.launcher_arguments = {files.properties_file, files.temp_properties_file};
  settings.application_arguments = arguments.forwarded;
  return settings;
}

}  // namespace kst
