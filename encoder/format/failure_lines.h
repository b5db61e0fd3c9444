// The coding routines report a failure with one line on standard error ("Invalid Huffman table
// in ReadHtDesc.") before they return 1, as the encoder always has. A reader that gives its own
// message for the failure (the decoder names the file and the damage) turns these lines off, so
// that each failure reads as one line.
#pragma once

// Prints `line` (which ends in a newline) on standard error unless the lines are turned off.
void report_failure_line(const char* line);
// Turns the lines on or off for the whole process.
void set_failure_lines(bool printed);
