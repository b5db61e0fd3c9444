// The coding routines return 1 on failure and say why in one line ("Invalid Huffman table in
// ReadHtDesc."). The line is kept for the thread's next exception instead of being printed: the
// library writes nothing to standard error, and each failure reaches the user as one message
// that names the file and ends with the routine's reason.
#pragma once

#include <string>

// Keeps `line` as the thread's latest failure line.
void report_failure_line(const char* line);
// ": " and the latest line without its full stop and newline, or "" when none is pending; the
// line is used up. Appended by the code that turns the routine's 1 into an exception.
std::string failure_line_suffix();
