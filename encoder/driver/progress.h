// The progress display and the interrupt query that the driver hands down to the encoder.
#pragma once

// Prints "Progress: 0.00" on the first call and overwrites the four digits on later calls.
void show_progress(float fraction);
// Nonzero once Ctrl-C (SIGINT) or SIGTERM has arrived.
int interrupt_requested();
