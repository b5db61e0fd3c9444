#include "platform/child_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace Quorvale {
namespace {

std::vector<char*> c_strings(const std::vector<std::string>& words) {
  std::vector<char*> pointers;
  for (const std::string& word : words) pointers.push_back(const_cast<char*>(word.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// Terminal signals that this process ignores while it waits must reach the child with their
// default action; everything else the child inherits as it is (an ignored hangup stays ignored).
void reset_terminal_signals(posix_spawnattr_t& attributes) {
  sigset_t defaults, mask;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGQUIT);
  sigemptyset(&mask);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &mask);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
}

}  // namespace

int ChildProcess::start(const ProcessStart& start) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  reset_terminal_signals(attributes);
  if (!start.working_directory.empty())
    posix_spawn_file_actions_addchdir_np(&actions, start.working_directory.c_str());
  std::vector<char*> argv = c_strings(start.arguments);
  pid_t pid = -1;
  const int error =
      posix_spawn(&pid, start.program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) return error;
  pid_ = pid;
  return 0;
}

int ChildProcess::wait() {
  struct sigaction ignore = {}, old_int = {}, old_quit = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGINT, &ignore, &old_int);
  sigaction(SIGQUIT, &ignore, &old_quit);
  int status = 0;
  pid_t done;
  while ((done = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
  }
  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGQUIT, &old_quit, nullptr);
  if (done < 0) return 1;
  pid_ = -1;
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

void ChildProcess::terminate() const {
  if (pid_ > 0) kill(pid_, SIGTERM);
}

}  // namespace Quorvale
