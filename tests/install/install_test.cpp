// `cmake --install` of this build under a scratch prefix: the installed programs run from another
// folder, a small project outside the tree finds the library with find_package(Vexal) and with
// pkg-config and its programs start, read a window and encode it again, GDAL finds the
// installed plugin, and the installed vexal-grid encodes and indexes a grid with nothing but the
// prefix.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"
#include "vexal/reader.h"

namespace {

const char* kProgram = R"(#include <cstdio>
#include <vector>
#include <vexal/writer.h>
int main(int argc, char** argv) {
  try {
    vexal::Reader reader(argv[1]);
    std::vector<unsigned char> window(50 * 40 * reader.bands() * vexal::sample_size(reader.sample_type()));
    reader.read(1, 10, 20, 59, 59, window.data());
    long sum = 0;
    for (unsigned char v : window) sum += v;
    // The window encoded again through the encoding API.
    vexal::PixelSource source;
    source.width = 50;
    source.height = 40;
    source.bands = reader.bands();
    source.sample_type = reader.sample_type();
    source.read = [&](int x0, int y0, int x1, int y1, void* out) {
      reader.read(1, 10 + x0, 20 + y0, 10 + x1, 20 + y1, out);
      return true;
    };
    vexal::EncodeSettings settings;
    settings.levels = 1;
    vexal::encode(source, "copy.vxl", settings);
    std::printf("%s %dx%d %ld %d\n", VEXAL_VERSION_STRING, reader.width(), reader.height(), sum,
                vexal::Reader("copy.vxl").width());
  } catch (const vexal::Error& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
)";

vexal_test::ProgramResult sh(const std::string& command, const std::string& cwd) {
  vexal_test::ProgramResult r = vexal_test::run_program("/bin/sh", {"-c", command}, cwd);
  EXPECT_EQ(r.status, 0) << command << "\n" << r.out << r.err;
  return r;
}

}  // namespace

TEST(Install, AnOutsideProjectReadsAWindowThroughTheInstalledPackage) {
#ifdef VEXAL_SANITIZED
  GTEST_SKIP() << "an unsanitized outside project cannot link the sanitized library";
#endif
  VEXAL_REQUIRE_SAMPLE(source, "geotiff/utm.tif");
  vexal_test::ScratchDir dir;
  const std::string prefix = dir / "prefix", cmake = VEXAL_CMAKE_COMMAND;
  sh("'" + cmake + "' --install '" VEXAL_BUILD_DIR "' --prefix '" + prefix + "' > /dev/null",
     dir.path().string());
  for (const char* installed : {"bin/vexal_encode", "bin/vexal_decode", "include/vexal/reader.h",
                                "include/vexal/writer.h",
                                "include/vexal/version.h", "lib/libvexal.so",
                                "lib/cmake/Vexal/VexalConfig.cmake", "lib/pkgconfig/vexal.pc",
                                "bin/vxl_check", "bin/vexal-grid"})
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(prefix) / installed)) << installed;
#ifdef VEXAL_CONSOLE_BIN
  // The launcher's generic name stays off the PATH.
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(prefix) / "libexec/vexal/console"));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(prefix) / "bin/console"));
#endif

  // The installed encoder, run from a folder of its own.
  std::filesystem::create_directories(dir / "work");
  sh("'" + prefix + "/bin/vexal_encode' -tifg -i '" + source.string() + "' -o utm.vxl -t . > /dev/null 2>&1",
     dir / "work");
  const std::string vxl = dir / "work/utm.vxl";
  vexal::Reader reader(vxl);
  std::vector<unsigned char> window(50 * 40);
  reader.read(1, 10, 20, 59, 59, window.data());
  long sum = 0;
  for (unsigned char v : window) sum += v;
  const std::string expected = std::string(VEXAL_VERSION_STRING) + " 512x512 " + std::to_string(sum) + " 50\n";

  std::filesystem::create_directories(dir / "outside");
  std::ofstream(dir / "outside/main.cpp") << kProgram;
  std::ofstream(dir / "outside/CMakeLists.txt")
      << "cmake_minimum_required(VERSION 3.25)\nproject(outside CXX)\nset(CMAKE_CXX_STANDARD 20)\n"
         "find_package(Vexal 1.3 REQUIRED)\nadd_executable(window main.cpp)\n"
         "target_link_libraries(window PRIVATE Vexal::vexal)\n";
  sh("'" + cmake + "' -S . -B build -DCMAKE_PREFIX_PATH='" + prefix + "' > /dev/null && '" + cmake +
         "' --build build > /dev/null",
     dir / "outside");
  EXPECT_EQ(sh("build/window '" + vxl + "'", dir / "outside").out, expected);

  // docs/library.md's line, as it stands: the program must start without LD_LIBRARY_PATH.
  sh("c++ -std=c++20 main.cpp -o window_pc $(PKG_CONFIG_PATH='" + prefix +
         "/lib/pkgconfig' pkg-config --cflags --libs vexal)",
     dir / "outside");
  EXPECT_EQ(sh("env -u LD_LIBRARY_PATH ./window_pc '" + vxl + "'", dir / "outside").out, expected);

  if (std::filesystem::exists(std::filesystem::path(prefix) / "lib/gdalplugins/gdal_VXL.so") &&
      std::filesystem::exists("/usr/bin/gdalinfo")) {
    EXPECT_NE(sh("GDAL_DRIVER_PATH='" + prefix + "/lib/gdalplugins' /usr/bin/gdalinfo '" + vxl + "'",
                 dir.path().string())
                  .out.find("Driver: VXL/"),
              std::string::npos);
    if (vexal_test::run_program("/usr/bin/python3", {"-c", "import distributed"}).status == 0) {
      // Only the prefix: the package, the encoder and the checker are found from vexal-grid.
      const std::string grid = "env -u PYTHONPATH PATH=/usr/bin:/bin GDAL_DRIVER_PATH='" + prefix +
                               "/lib/gdalplugins' '" + prefix + "/bin/vexal-grid' ";
      sh(grid + "plan -o g --cell 256 -- -tifg -i '" + source.string() + "' > /dev/null", dir / "work");
      EXPECT_NE(sh(grid + "run g --local 1", dir / "work").out.find("4 encoded now, 0 before, 0 failed"),
                std::string::npos);
      sh(grid + "index g > /dev/null", dir / "work");
    }
  }
}
