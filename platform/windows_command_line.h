// Splitting of one command-line text into an argument vector by the rules of the Microsoft C
// runtime, which is how a Java VM on Windows receives its arguments. Starting the VM on POSIX
// with the vector these rules give lets the Java side see exactly what it would on Windows,
// quirks included (a tab splits a word, a "" inside quotes is a literal quote).
#pragma once

#include <string>
#include <vector>

namespace Quorvale {

// The first word is the program name: quotes group and are dropped, backslashes are literal.
// Later words: runs of spaces and tabs separate; 2n backslashes before a quote give n
// backslashes and the quote opens or closes a quoted run; 2n+1 give n backslashes and a
// literal quote; other backslashes are literal; inside a quoted run "" is a literal quote.
std::vector<std::string> split_windows_command_line(const std::string& text);

}  // namespace Quorvale
