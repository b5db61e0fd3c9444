// The progress display and the interrupt query that the driver hands down to the encoder.
#pragma once

// On a terminal: prints "Progress: 0.00" on the first call and overwrites the four digits on
// later calls. Otherwise (a log): one line "Progress: 0.10" each time another tenth is reached.
void show_progress(float fraction);
// Ends the progress display's line (on a terminal; a log's lines are complete).
void end_progress();
// Turns the display off for the whole run (-q) or back on.
void set_progress_shown(bool shown);
// Nonzero once Ctrl-C (SIGINT) or SIGTERM has arrived.
int interrupt_requested();
