// Walks every table and record of .vxl files and reports what is damaged; exit status 1 when
// any file is not sound.
#include <cstdio>
#include <exception>

#include "decoder/vxl_check.h"
#include "encoder/format/failure_lines.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("Usage: vxl_check file.vxl ...\n", stderr);
    return 1;
  }
  set_failure_lines(false);  // each damage is reported once, naming the file
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
