// The include check holds the tree to ARCHITECTURE.md's list of who may include whom: it resolves
// each include as the compiler does and names every file and line that breaks the list.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/run_program.h"
#include "support/scratch_dir.h"

using vexal_test::run_program;

namespace {

void write(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

}  // namespace

TEST(IncludeCheck, NamesEveryIncludeTheListForbids) {
  vexal_test::ScratchDir tree;
  std::filesystem::copy_file(VEXAL_SOURCE_DIR "/ARCHITECTURE.md", tree.path() / "ARCHITECTURE.md");
  write(tree.path() / "encoder/core/tiler.h", "#pragma once\n");
  write(tree.path() / "metadata/image_codes.h", "#pragma once\n");
  write(tree.path() / "image/tiff_image.h", "#pragma once\n");
  // Allowed: the codec's own header beside it, a system header, a folder the list names.
  write(tree.path() / "codec/lifting.h", "#pragma once\n");
  write(tree.path() / "codec/lifting.cpp", "#include \"lifting.h\"\n#include \"vector\"\n");
  write(tree.path() / "decoder/file.cpp",
        "#include \"metadata/image_codes.h\"\n#include \"image/tiff_image.h\"\n");
  write(tree.path() / "codec/coder.cpp",
        "#include <vector>\n\n#include \"encoder/core/tiler.h\"\n");
  write(tree.path() / "gdal/driver.cpp", "#include \"../decoder/file.cpp\"\n");
  write(tree.path() / "tests/codec/coder_test.cpp", "#include \"encoder/core/tiler.h\"\n");
  write(tree.path() / "newfolder/thing.h", "#pragma once\n");

  auto r = run_program("/usr/bin/python3",
                       {VEXAL_SOURCE_DIR "/tools/check_includes.py", tree.path().string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(
      r.err,
      "codec/coder.cpp:3: includes \"encoder/core/tiler.h\" (encoder/core/tiler.h), which codec/ "
      "may not include (ARCHITECTURE.md)\n"
      "decoder/file.cpp:2: includes \"image/tiff_image.h\" (image/tiff_image.h), which decoder/ "
      "may not include (ARCHITECTURE.md)\n"
      "gdal/driver.cpp:1: includes \"../decoder/file.cpp\" (decoder/file.cpp), which gdal/ may "
      "not include (ARCHITECTURE.md)\n"
      "newfolder/thing.h: its folder has no rule in ARCHITECTURE.md\n");

  std::filesystem::remove_all(tree.path() / "newfolder");
  std::filesystem::remove_all(tree.path() / "gdal");
  write(tree.path() / "codec/coder.cpp", "#include \"codec/lifting.h\"\n");
  write(tree.path() / "decoder/file.cpp",
        "#include \"metadata/image_codes.h\"\n#include \"codec/lifting.h\"\n");
  r = run_program("/usr/bin/python3",
                  {VEXAL_SOURCE_DIR "/tools/check_includes.py", tree.path().string()});
  EXPECT_EQ(r.status, 0) << r.err;
}
