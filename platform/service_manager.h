// Running as a system service. On Windows the service control manager starts the program and
// later sends a stop request; a user logging off must not end it. The POSIX stand-in runs the
// service in the foreground: SIGTERM is the stop request and SIGHUP (the hangup of a closing
// session, the counterpart of the logoff event) is ignored, also by the child processes.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace Quorvale {

// Runs `run` as the service `name` and returns its result. While it runs, a stop request
// sends SIGTERM to the process named by `set_service_stop_target`.
int run_service(const std::string& name, const std::function<int()>& run);

// The process that a stop request ends (0: none yet).
void set_service_stop_target(pid_t process);

// True once a stop request has arrived (also before any target was set).
bool service_stop_requested();

}  // namespace Quorvale
