#include "encoder/driver/progress.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "platform/interrupt.h"

namespace {
bool progress_shown = true;
bool progress_started = false;
int last_tenth = -1;

bool to_terminal() {
  static const bool terminal = isatty(fileno(stdout)) == 1;
  return terminal;
}

}  // namespace

void show_progress(float fraction) {
  if (!progress_shown) return;
  if (!to_terminal()) {
    // Backspaces make a log unreadable: one line per tenth instead (again from 0 when a new
    // trial of -ht starts over).
    const int tenth = int(std::floor(fraction * 10.0f + 1e-3f));
    if (tenth == last_tenth) return;
    last_tenth = tenth;
    std::printf("Progress: %.2f\n", tenth / 10.0);
  } else if (!progress_started) {
    std::printf("Progress: %.2f", fraction);
    progress_started = true;
  } else {
    std::printf("\b\b\b\b%.2f", fraction);
  }
  std::fflush(stdout);
}

void end_progress() {
  if (progress_shown && to_terminal()) std::fputs("\n", stdout);
}

void set_progress_shown(bool shown) { progress_shown = shown; }

int interrupt_requested() { return platform::interrupt_flag(); }
