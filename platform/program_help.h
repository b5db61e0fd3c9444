// --help and --version, answered the same way by every program of the system: --help prints
// the program's usage text and then the options that text does not list; --version prints
// one line, "NAME 1.3.1". Both go to standard output and end the program with status 0.
#pragma once

#include <cstdio>
#include <optional>
#include <span>

// An option the usage text does not list, as typed (with its value) and what it does.
struct OptionHelp {
  const char* option;
  const char* text;
};

struct ProgramHelp {
  const char* name;                         // "vexal_encode"
  void (*usage)(FILE* out);                 // the program's usage text
  std::span<const OptionHelp> more_options;  // the options the usage text leaves out
};

// The usage text, then "\nMore options:\n" and one aligned line per further option (--help
// and --version included).
void print_help(FILE* out, const ProgramHelp& help);

// When any argument is exactly "--help" or "--version", answers it on standard output and
// returns the exit status (0); otherwise nothing.
std::optional<int> answer_help_or_version(int argc, const char* const* argv,
                                          const ProgramHelp& help);
