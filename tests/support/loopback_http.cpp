#include "support/loopback_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace vexal_test {

namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

// A port that was free a moment ago (the kernel's choice for port 0).
int free_port() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0)
    port = ntohs(a.sin_port);
  close(s);
  return port;
}

bool accepts(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

}  // namespace

LoopbackHttp::LoopbackHttp(const std::filesystem::path& root) {
  if (!std::filesystem::exists(kNginx) || (port_ = free_port()) == 0) return;
  const std::string d = conf_.path().string();
  std::ofstream(conf_ / "nginx.conf")
      << "daemon off; master_process off; worker_processes 1;\n"
      << "pid " << d << "/nginx.pid; error_log " << d << "/error.log;\n"
      << "events { worker_connections 64; }\n"
      << "http { access_log " << d << "/access.log;\n"
      << "  client_body_temp_path " << d << "; proxy_temp_path " << d << ";\n"
      << "  fastcgi_temp_path " << d << "; uwsgi_temp_path " << d << "; scgi_temp_path " << d
      << ";\n"
      << "  server { listen 127.0.0.1:" << port_ << "; root " << root.string() << "; } }\n";
  const std::string conf = conf_ / "nginx.conf";
  const char* argv[] = {kNginx, "-p", d.c_str(), "-c", conf.c_str(), nullptr};
  if (posix_spawn(&pid_, kNginx, nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) {
    pid_ = -1;
    return;
  }
  // Ready within a few seconds, or given up.
  for (int i = 0; i < 100 && !accepts(port_); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  if (!accepts(port_)) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
}

LoopbackHttp::~LoopbackHttp() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

std::string LoopbackHttp::url(const std::string& name) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + name;
}

int LoopbackHttp::requests_for(const std::string& name) const {
  std::ifstream log(conf_ / "access.log");
  int n = 0;
  for (std::string line; std::getline(log, line);)
    if (line.find("/" + name + " HTTP") != std::string::npos) ++n;
  return n;
}

}  // namespace vexal_test
