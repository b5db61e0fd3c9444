#include "platform/program_help.h"

#include <algorithm>
#include <cstring>

#include "platform/version.h"

namespace {

constexpr OptionHelp kLongOptions[] = {
    {"--help", "Display this help and exit"},
    {"--version", "Display the version and exit"},
};

}  // namespace

void print_help(FILE* out, const ProgramHelp& help) {
  help.usage(out);
  // The usage texts indent options by two and give each name a column of nine characters.
  int width = 9;
  for (const auto& list : {help.more_options, std::span<const OptionHelp>(kLongOptions)})
    for (const OptionHelp& o : list) width = std::max(width, int(std::strlen(o.option)) + 1);
  std::fputs("\nMore options:\n", out);
  for (const auto& list : {help.more_options, std::span<const OptionHelp>(kLongOptions)})
    for (const OptionHelp& o : list) std::fprintf(out, "  %-*s%s\n", width, o.option, o.text);
}

std::optional<int> answer_help_or_version(int argc, const char* const* argv,
                                          const ProgramHelp& help) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      print_help(stdout, help);
    } else if (std::strcmp(argv[i], "--version") == 0) {
      const Version v = program_version();
      std::printf("%s %d.%d.%d\n", help.name, v.major, v.minor, v.patch);
    } else {
      continue;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  return std::nullopt;
}
