#include "encoder/driver/progress.h"

#include <cstdio>

#include "platform/interrupt.h"

namespace {
bool progress_started = false;
}

void show_progress(float fraction) {
  if (!progress_started) {
    std::printf("Progress: %.2f", fraction);
    progress_started = true;
  } else {
    std::printf("\b\b\b\b%.2f", fraction);
  }
  std::fflush(stdout);
}

int interrupt_requested() { return platform::interrupt_flag(); }
