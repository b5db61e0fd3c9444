// Walks every table and record of .vxl files and reports what is damaged; exit status 1 when
// any file is not sound.
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include "decoder/vxl_check.h"
#include "platform/program_help.h"

namespace {

void print_usage(FILE* out) {
  std::fputs(
      "Usage: vxl_check file.vxl ...\n"
      "Walk every table and record of Vexal files and report what is damaged.\n\n"
      "  -h       Display this help and exit\n",
      out);
}

// Options left out of the usage text above (none yet); the options of new modes go here.
const std::vector<OptionHelp> kMoreOptions = {};

}  // namespace

int main(int argc, char** argv) {
  const ProgramHelp help{"vxl_check", print_usage, kMoreOptions};
  if (const auto status = answer_help_or_version(argc, argv, help)) return *status;
  // Every argument that begins with "-" is an option; a file so named is given as ./-name.
  bool usage = argc < 2;
  for (int i = 1; i < argc && !usage; ++i) {
    if (argv[i][0] != '-') continue;
    if (std::strcmp(argv[i], "-h") != 0) std::fprintf(stderr, "Unrecognized option: %s\n\n", argv[i]);
    usage = true;
  }
  if (usage) {
    print_usage(stderr);
    return 1;
  }
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    try {
      const VxlFile file(argv[i]);
      const VxlCheckReport r = check_vxl_structure(file);
      for (const std::string& p : r.problems) std::fprintf(stderr, "%s: %s\n", argv[i], p.c_str());
      std::printf("%s: %d x %d, %d bands, %d levels, %d block parts, %d records: %s\n", argv[i],
                  file.width(), file.height(), file.bands(), file.levels(), r.block_parts,
                  r.records, r.problems.empty() ? "sound" : "DAMAGED");
      if (!r.problems.empty()) status = 1;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      status = 1;
    }
  }
  return status;
}
