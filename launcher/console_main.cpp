// console: starts the Java application described by the properties file beside it.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "launcher/launcher_arguments.h"
#include "launcher/launcher_error.h"
#include "platform/service_manager.h"

namespace {

int report(const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", kst::launcher_string(kst::kErrorTitle).c_str(), text.c_str());
  return 1;  // a failed launch must not look like a successful run
}

int launch(const std::string& started_as, const kst::LauncherArguments& arguments) {
  if (arguments.service) {
    return Quorvale::run_service(arguments.service_name, [&] {
      kst::Launcher launcher(started_as, arguments, kst::system_launcher_services());
      return launcher.run(true);
    });
  }
  kst::Launcher launcher(started_as, arguments, kst::system_launcher_services());
  const int code = launcher.run(false);
  launcher.pause_if_wanted();
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string started_as = argc > 0 && argv[0] ? argv[0] : "";
  try {
    const std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
    return launch(started_as, kst::parse_launcher_arguments(words));
  } catch (const kst::TerminalError& error) {
    return report(error.what());
  } catch (const std::exception& error) {
    return report(std::string("an unknown exception has occurrred.\n") + error.what());
  } catch (...) {
    return report("an unknown exception has occurrred.\n");
  }
}
