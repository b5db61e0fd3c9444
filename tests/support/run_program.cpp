#include "support/run_program.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vexal_test {
namespace {

std::string slurp_and_remove(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  std::remove(name.c_str());
  return ss.str();
}

int make_capture_file(std::string& name) {
  char pattern[] = "/tmp/vexal_capture_XXXXXX";
  int fd = mkstemp(pattern);
  if (fd < 0) throw std::runtime_error("cannot create capture file");
  name = pattern;
  return fd;
}

}  // namespace

ProgramResult run_program(const std::string& program, const std::vector<std::string>& args,
                          const std::string& cwd) {
  RunOptions options;
  options.cwd = cwd;
  return run_program(program, args, options);
}

ProgramResult run_program(const std::string& program, const std::vector<std::string>& args,
                          const RunOptions& options) {
  const std::string& cwd = options.cwd;
  std::string out_name, err_name;
  int out_fd = make_capture_file(out_name);
  int err_fd = make_capture_file(err_name);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int in_fd = open("/dev/null", O_RDONLY);
    dup2(in_fd, 0);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    if (options.file_size_limit >= 0) {
      // As `ulimit -f` leaves it: SIGXFSZ keeps its default action (ending the process), so
      // the program must ignore it itself to see EFBIG and clean up.
      signal(SIGXFSZ, SIG_DFL);
      const rlimit limit{rlim_t(options.file_size_limit), rlim_t(options.file_size_limit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out_fd);
  close(err_fd);
  if (!options.interrupt_when_used.empty()) {
    // Poll (up to 20 s) so the signal lands while the run is under way, however fast it is.
    for (int i = 0; i < 20000; ++i) {
      std::error_code ec;
      if (!std::filesystem::is_empty(options.interrupt_when_used, ec) && !ec) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(pid, SIGINT);
  }
  if (options.interrupt_after_ms >= 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(options.interrupt_after_ms));
    kill(pid, SIGINT);
  }
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  ProgramResult r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  r.out = slurp_and_remove(out_name);
  r.err = slurp_and_remove(err_name);
  return r;
}

}  // namespace vexal_test
