#include "launcher/launcher.h"

#include <cstdio>
#include <filesystem>

#include "launcher/launch_settings.h"
#include "launcher/launcher_error.h"
#include "launcher/launcher_files.h"
#include "launcher/vm_selection.h"
#include "platform/child_process.h"
#include "platform/console_services.h"
#include "platform/process_environment.h"
#include "platform/service_manager.h"
#include "platform/windows_command_line.h"

namespace kst {
namespace {

TerminalError start_failure(int error) {
  std::string text = launcher_string(kVmStartFailed);
  text.replace(text.find("%d"), 2, std::to_string(error));
  return TerminalError(text);
}

int start_and_wait(const VmRecord& vm, const LaunchSettings& settings, bool service) {
  vm.prepare(settings);
  Quorvale::ProcessStart start;
  start.program = vm.path();
  start.arguments = Quorvale::split_windows_command_line(vm.command_line(settings));
  start.working_directory = settings.working_directory;
  std::fflush(nullptr);  // what the launcher wrote comes before what the VM writes
  Quorvale::ChildProcess child;
  if (const int error = child.start(start); error != 0) throw start_failure(error);
  if (service) {
    Quorvale::set_service_stop_target(child.id());
    if (Quorvale::service_stop_requested()) child.terminate();
  }
  const int code = child.wait();
  if (service) Quorvale::set_service_stop_target(0);
  return code;
}

}  // namespace

LauncherServices system_launcher_services() {
  LauncherServices services;
  services.registry = &Quorvale::system_registry();
  services.path_folders = Quorvale::search_path_folders();
  services.control_key_held = Quorvale::control_key_held;
  return services;
}

Launcher::Launcher(const std::string& started_as, LauncherArguments arguments,
                   LauncherServices services)
    : arguments_(std::move(arguments)), services_(std::move(services)) {
  properties_file_ = locate_properties_file(locate_executable(started_as));
  properties_directory_ = std::filesystem::path(properties_file_).parent_path().string();
  properties_.read(properties_file_);
  const bool control = services_.control_key_held && services_.control_key_held();
  Quorvale::set_console_title(properties_.string("kst.application.name", "Kestrun"));
  if (control) temp_file_.append_control_key_lines();
}

int Launcher::run(bool service) {
  const VmSearch search{services_.registry, services_.path_folders, properties_directory_};
  const std::unique_ptr<VmRecord> vm = choose_vm(properties_, arguments_, search);
  temp_file_.append("kst.nl.current.vm", vm->path());
  temp_file_.append_environment(Quorvale::environment_variables());
  const LaunchFiles files{properties_file_, properties_directory_, temp_file_.path()};
  const LaunchSettings settings = build_launch_settings(properties_, files, arguments_, service);
  return start_and_wait(*vm, settings, service);
}

void Launcher::pause_if_wanted() {
  const bool control = services_.control_key_held && services_.control_key_held();
  if (!properties_.yes("kst.win32.console.pause") && !control) return;
  std::fputs("[press enter to close this window]\n", stdout);
  std::fflush(stdout);
  std::getchar();
}

}  // namespace kst
