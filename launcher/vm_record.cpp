#include "launcher/vm_record.h"

#include <filesystem>

#include "launcher/launcher_error.h"
#include "platform/process_environment.h"

namespace kst {
namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string heap_option(const char* name, int64_t bytes) {
  return bytes > 0 ? " " + std::string(name) + std::to_string(bytes) : "";
}

std::string flag_option(bool on, const char* name) { return on ? " " + std::string(name) : ""; }

// The main class and the application argument string that close every dialect.
std::string program_tail(const LaunchSettings& settings) {
  return " " + settings.main_class + " " + application_argument_string(settings);
}

bool started_as_jre(const std::string& path) {
  const std::string name = std::filesystem::path(path).filename().string();
  return name == "jre" || name == "jrew";
}

}  // namespace

VmRecord::VmRecord(std::string path, JavaVersion version, std::string vendor, VmKind kind)
    : path_(std::move(path)), version_(version), vendor_(std::move(vendor)), kind_(kind) {
  home_ = std::filesystem::path(path_).parent_path().parent_path().string();
}

std::string Java2Vm::command_line(const LaunchSettings& settings) const {
  std::string text = quoted(path());
  text += heap_option("-Xms", settings.initial_heap) + heap_option("-Xmx", settings.max_heap);
  if (settings.verbose)
    text += settings.verbosity.empty() ? " -verbose" : " -verbose:" + settings.verbosity;
  text += flag_option(settings.debug, "-Xdebug") + flag_option(settings.no_async_gc, "-Xnoasyncgc") +
          flag_option(settings.jit_off, "-Djava.compiler=off") +
          flag_option(settings.no_class_gc, "-Xnoclassgc");
  if (!settings.additional_options.empty()) text += " " + settings.additional_options;
  text += " -classpath " + quoted(class_path_text(settings.class_path));
  return text + program_tail(settings);
}

std::string Java1Vm::command_line(const LaunchSettings& settings) const {
  std::vector<std::string> class_path = settings.class_path;
  class_path.push_back(home() + "/lib/classes.zip");
  std::string text = quoted(path());
  text += heap_option("-ms", settings.initial_heap) + heap_option("-mx", settings.max_heap);
  text += flag_option(settings.verbose, "-verbose") + flag_option(settings.debug, "-debug") +
          flag_option(settings.no_async_gc, "-noasyncgc") + flag_option(settings.jit_off, "-nojit") +
          flag_option(settings.no_class_gc, "-noclassgc");
  if (!settings.additional_options.empty()) text += " " + settings.additional_options;
  text += started_as_jre(path()) ? " -cp " : " -classpath ";
  text += quoted(class_path_text(class_path));
  return text + program_tail(settings);
}

std::string MicrosoftVm::command_line(const LaunchSettings& settings) const {
  return quoted(path()) + " /cp " + quoted(class_path_text(settings.class_path)) +
         program_tail(settings);
}

void MicrosoftVm::prepare(const LaunchSettings& settings) const {
  const int word = version().is_modern() ? 0x7FFF : static_cast<int16_t>(version().word());
  if (word < settings.microsoft_min_version) throw TerminalError::of(kNoValidVm);
  Quorvale::set_environment_variable("CLASSPATH", class_path_text(settings.class_path));
}

std::unique_ptr<VmRecord> make_vm_record(std::string path, JavaVersion version,
                                         std::string vendor, VmKind kind, bool java2) {
  if (java2)
    return std::make_unique<Java2Vm>(std::move(path), version, std::move(vendor), kind);
  if (kind == kMicrosoftVm)
    return std::make_unique<MicrosoftVm>(std::move(path), version, std::move(vendor), kind);
  return std::make_unique<Java1Vm>(std::move(path), version, std::move(vendor), kind);
}

}  // namespace kst
