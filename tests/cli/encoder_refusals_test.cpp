// Inputs and options vexal_encode must refuse at once with one clear message, leaving nothing
// behind, and notes it gives where a user would otherwise lose something silently.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "image/geotiff_fixture.h"
#include "support/run_program.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;
using vexal_test::run_program;

namespace {

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

std::string last_line(const std::string& text) {
  const size_t end = text.size() - (text.ends_with('\n') ? 1 : 0);
  const size_t start = text.rfind('\n', end - 1);
  return text.substr(start == std::string::npos ? 0 : start + 1, end - (start + 1));
}

// A little-endian TIFF of 138 bytes whose header claims width x height grey pixels in one
// strip of 16 bytes.
void write_size_claim_tiff(const std::string& path, uint32_t width, uint32_t height) {
  struct Entry { uint16_t tag, type; uint32_t count, value; };
  const Entry entries[] = {{256, 4, 1, width}, {257, 4, 1, height}, {258, 3, 1, 8},
                           {259, 3, 1, 1},     {262, 3, 1, 1},      {273, 4, 1, 122},
                           {277, 3, 1, 1},     {278, 4, 1, height}, {279, 4, 1, 16}};
  std::string bytes("II*\0\x08\0\0\0", 8);
  const uint16_t n = 9;
  bytes.append(reinterpret_cast<const char*>(&n), 2);
  for (const Entry& e : entries) bytes.append(reinterpret_cast<const char*>(&e), 12);
  bytes.append(4 + 16, '\0');  // no further directory, then the strip
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

TEST(EncoderRefusals, FailedRunsLeaveNoFiles) {
  vexal_test::ScratchDir dir;
  const std::string cwd = dir.path().string();
  vexal_test::GeoTags geo;
  vexal_test::write_geotiff(dir / "small.tif", vexal_test::TiffSpec{}, geo);  // 64 x 48
  fs::create_directory(dir / "scene.out");
  std::ofstream(dir / "photo.jpg") << "\xff\xd8\xff\xe0 and so on";
  const std::set<std::string> before = names_in(dir.path());

  struct Case {
    std::vector<std::string> args;
    std::string message;  // the last line on standard error
  };
  const Case cases[] = {
      // The world file used to be written before the size was checked.
      {{"-tifg", "-i", "small.tif"},
       "The image is 64 x 48 pixels; 4 levels need at least 121 in each direction."},
      {{"-tifg", "-i", "small.tif", "-o", "scene.out"},
       "Error: the output scene.out is a folder; name a file."},
      {{"-tifg", "-i", "small.tif", "-o", dir / "no/out.vxl"},
       "Error: the output folder " + dir / "no/" + " does not exist."},
      {{"-tifg", "-i", "small.tif", "-g", "0"}, "Error: -g (gamma) must be a positive number."},
      {{"-tifg", "-i", "small.tif", "-w", "-4"},
       "Error: -w (intensity weight) must be a positive number."},
      {{"-tifg", "-i", "small.tif", "-w", "nan"},
       "Error: -w (intensity weight) must be a positive number."},
      {{"-tif", "-i", "photo.jpg"}, "Error: photo.jpg is not a TIFF file (Not a TIFF or MDI "
                                    "file, bad magic number 55551 (0xd8ff))."},
      // Numbers used to be read with atof: text and 0 were taken, or silently ignored.
      {{"-tifg", "-i", "small.tif", "-c", "abc"}, "Error: -c needs a number, not \"abc\"."},
      {{"-tifg", "-i", "small.tif", "-c", "0"},
       "Error: -c (compression ratio) must be a positive number."},
      {{"-tifg", "-i", "small.tif", "-c", "20x"}, "Error: -c needs a number, not \"20x\"."},
      {{"-tifg", "-i", "small.tif", "-rdo", "-psnr", "0"},
       "Error: the PSNR target must be a positive number of dB (below 200)."},
      {{"-tifg", "-i", "small.tif", "-rdo", "-psnr", "abc"},
       "Error: -psnr needs a number, not \"abc\"."},
      {{"-tifg", "-i", "small.tif", "-rdo", "-c", "0.01"},
       "Error: -rdo needs -c 1 or more (raw 8-bit sample bytes per file byte)."},
      // -info used to estimate what the encoding then refused.
      {{"-tifg", "-i", "small.tif", "-info"},
       "The image is 64 x 48 pixels; 4 levels need at least 121 in each direction."},
      // Deeper than five levels the limit used to be told for the first stage's five, or for
      // the reduced image of the second stage.
      {{"-tifg", "-i", "small.tif", "-info", "-n", "6"},
       "The image is 64 x 48 pixels; 6 levels need at least 257 in each direction."},
      {{"-tifg", "-i", "small.tif", "-info", "-n", "1", "-rdo", "-n", "6"},
       "Error: -rdo takes at most 5 levels (-n 5)."},
  };
  for (const Case& c : cases) {
    auto r = run_program(VEXAL_ENCODE_BIN, c.args, cwd);
    EXPECT_EQ(r.status, 1) << c.args[2];
    EXPECT_EQ(last_line(r.err), c.message);
    EXPECT_EQ(names_in(dir.path()), before) << c.message;
  }
}

TEST(EncoderRefusals, HostileSizesEndAtOnce) {
  vexal_test::ScratchDir dir;
  // This one used to hang the encoder in its block walk after an int overflow.
  write_size_claim_tiff(dir / "huge.tif", 0x7fffffff, 0x7fffffff);
  ASSERT_EQ(fs::file_size(dir / "huge.tif"), 138u);
  write_size_claim_tiff(dir / "long.tif", 2000000000, 200);
  const std::pair<const char*, std::string> claims[] = {
      {"huge.tif", "Error: an image of 2147483647 x 2147483647 pixels is too large to encode."},
      {"long.tif", "Error: an image of 2000000000 x 200 pixels makes 3906250 x 1 blocks of 512 x "
                   "200, more than the encoder can walk (65536 along a side); use a larger block "
                   "size."}};
  for (const auto& [name, message] : claims) {
    // A ratio high enough to pass the output-size estimate, which refuses them first otherwise.
    auto r = run_program(VEXAL_ENCODE_BIN, {"-tif", "-i", name, "-c", "1e12"}, dir.path().string());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(last_line(r.err), message);
  }
  EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"huge.tif", "long.tif"}));

  // A device never ends: it is not read at all as DICOM.
  auto zero = run_program(VEXAL_ENCODE_BIN, {"-dicom", "-i", "/dev/zero"}, dir.path().string());
  EXPECT_EQ(zero.status, 1);
  EXPECT_EQ(last_line(zero.err), "Error: /dev/zero is not a regular file; DICOM input must be one.");
}

TEST(EncoderRefusals, GeoTiffThroughPlainTiffGetsANote) {
  vexal_test::ScratchDir dir;
  vexal_test::TiffSpec layout;
  layout.width = layout.height = 128;
  vexal_test::write_geotiff(dir / "geo.tif", layout, vexal_test::GeoTags{});
  auto r = run_program(VEXAL_ENCODE_BIN, {"-tif", "-i", "geo.tif"}, dir.path().string());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Note: geo.tif has GeoTIFF tags, which -tif ignores; -tifg keeps its "
                       "georeferencing.\n"),
            std::string::npos) << r.err;
  auto geo = run_program(VEXAL_ENCODE_BIN, {"-tifg", "-i", "geo.tif"}, dir.path().string());
  ASSERT_EQ(geo.status, 0) << geo.err;
  EXPECT_EQ(geo.err.find("Note:"), std::string::npos);
}
