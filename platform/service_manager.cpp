#include "platform/service_manager.h"

#include <signal.h>

namespace Quorvale {
namespace {

volatile sig_atomic_t stop_target = 0;
volatile sig_atomic_t stop_requested = 0;

void on_stop_request(int) {
  stop_requested = 1;
  if (stop_target > 0) kill(static_cast<pid_t>(stop_target), SIGTERM);
}

// Installs the service's signal handling for its lifetime, also when the run throws.
class ServiceSignals {
 public:
  ServiceSignals() {
    struct sigaction stop = {}, hangup = {};
    stop.sa_handler = on_stop_request;
    sigemptyset(&stop.sa_mask);
    hangup.sa_handler = SIG_IGN;
    sigaction(SIGTERM, &stop, &old_stop_);
    sigaction(SIGHUP, &hangup, &old_hangup_);
  }
  ~ServiceSignals() {
    sigaction(SIGTERM, &old_stop_, nullptr);
    sigaction(SIGHUP, &old_hangup_, nullptr);
  }
  ServiceSignals(const ServiceSignals&) = delete;
  ServiceSignals& operator=(const ServiceSignals&) = delete;

 private:
  struct sigaction old_stop_ = {}, old_hangup_ = {};
};

}  // namespace

int run_service(const std::string& /*name*/, const std::function<int()>& run) {
  ServiceSignals signals;
  return run();
}

void set_service_stop_target(pid_t process) { stop_target = static_cast<sig_atomic_t>(process); }

bool service_stop_requested() { return stop_requested != 0; }

}  // namespace Quorvale
