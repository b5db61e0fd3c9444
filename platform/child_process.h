// Starting a program as a child process that shares this process's standard handles, open
// descriptors and environment, and waiting for it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace Quorvale {

struct ProcessStart {
  std::string program;                 // the file to run
  std::vector<std::string> arguments;  // the argument vector, program name first
  std::string working_directory;       // empty: this process's
};

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() = default;  // a child still running is left to itself

  // Returns 0 when the child runs, else the system's error number (the child did not start:
  // missing or non-executable program, bad working directory).
  int start(const ProcessStart& start);
  // Waits without time limit and returns the exit status; a child ended by a signal gives
  // 128 + the signal number. Interrupt and quit signals from the terminal reach the child
  // and are ignored here meanwhile, so the child decides how the run ends.
  int wait();
  // Asks the child to stop (SIGTERM). Safe to call from a signal handler.
  void terminate() const;

  pid_t id() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

}  // namespace Quorvale
