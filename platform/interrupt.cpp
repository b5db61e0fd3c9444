#include "platform/interrupt.h"

#include <csignal>

#include "platform/error.h"

namespace platform {
namespace {

volatile std::sig_atomic_t flag = 0;

extern "C" void on_signal(int) { flag = 1; }

}  // namespace

void install_interrupt_handlers() {
  struct sigaction action = {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int interrupt_flag() { return flag ? 1 : 0; }

void throw_if_interrupted() {
  if (flag) throw Error("Program interrupt encountered.");
}

void set_interrupt_flag(bool on) { flag = on ? 1 : 0; }

}  // namespace platform
