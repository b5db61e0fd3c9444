// Ctrl-C and termination requests. The handlers only set a flag; the encoder polls it between
// steps and stops through its normal error path, so temporary files are removed.
#pragma once

namespace platform {

// Installs SIGINT and SIGTERM handlers that set the flag.
void install_interrupt_handlers();
// Nonzero once an interrupt or termination request has arrived.
int interrupt_flag();
// Throws Error "Program interrupt encountered." once the flag is set.
void throw_if_interrupted();
// Sets or clears the flag (tests).
void set_interrupt_flag(bool on);

}  // namespace platform
