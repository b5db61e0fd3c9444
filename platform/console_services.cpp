#include "platform/console_services.h"

#include <unistd.h>

#include <cstdio>

namespace Quorvale {

void set_console_title(const std::string& title) {
  if (!isatty(STDOUT_FILENO)) return;
  std::string clean;
  for (char c : title)
    if (static_cast<unsigned char>(c) >= 32 && c != 127) clean += c;
  std::printf("\033]0;%s\007", clean.c_str());
  std::fflush(stdout);
}

bool control_key_held() { return false; }

}  // namespace Quorvale
