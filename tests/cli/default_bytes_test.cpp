// The default encoding is part of the product: files written without any opt-in switch must
// stay byte for byte what they are today, whatever is optimised, threaded or added around them.
// Each case hashes a whole output file; only the creation date is masked, because it is the one
// field that changes from run to run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"

using vexal_test::run_program;

namespace {

// The file's bytes with the asctime() text of IMAGE::CREATION_DATE blanked out.
std::string dateless_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t key = bytes.find("CREATION_DATE");
  EXPECT_NE(key, std::string::npos) << path << " has no creation date";
  if (key == std::string::npos) return bytes;
  static const std::regex asctime_text(
      "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}");
  std::smatch m;
  std::string tail = bytes.substr(key, 64);
  if (std::regex_search(tail, m, asctime_text))
    bytes.replace(key + std::size_t(m.position(0)), std::size_t(m.length(0)),
                  std::string(std::size_t(m.length(0)), 'X'));
  else
    ADD_FAILURE() << "creation date of " << path << " is not in asctime form";
  return bytes;
}

// FNV-1a, 64-bit: enough to tell any change of the bytes, and nothing to maintain.
std::string fingerprint(const std::string& bytes) {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : bytes) h = (h ^ c) * 0x100000001b3ULL;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

// A float raster in the encoder's raw format: smooth waves plus a deterministic texture.
void write_rfi(const std::string& name, int w, int h, int bands) {
  std::ofstream out(name, std::ios::binary);
  const int32_t header[3] = {w, h, bands};
  out.write(reinterpret_cast<const char*>(header), sizeof header);
  std::vector<float> row(static_cast<std::size_t>(w));
  std::uint32_t state = 12345;
  for (int b = 0; b < bands; ++b)
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        state = state * 1664525u + 1013904223u;
        row[std::size_t(x)] = float(120 + 80 * std::sin(x / (9.0 + b)) * std::cos(y / 13.0) +
                                    double(state >> 28));
      }
      out.write(reinterpret_cast<const char*>(row.data()), std::streamsize(row.size() * 4));
    }
}

struct Case {
  const char* name;
  const char* sample;  // under the sample folder; empty: a made-up RFI raster of rfi_bands
  std::vector<std::string> options;
  const char* expected;
  int rfi_bands = 1;
};

// The input's name is recorded in the file, so every case encodes a copy under one fixed,
// relative name.
void expect_unchanged(const Case& c) {
  vexal_test::ScratchDir dir;
  std::string input;
  if (*c.sample) {
    const auto path = vexal_test::sample(c.sample);
    if (path.empty()) GTEST_SKIP() << "sample " << c.sample << " not found";
    input = "in" + path.extension().string();
    std::filesystem::copy_file(path, dir / input);
  } else {
    input = "in.rfi";
    write_rfi(dir / input, 530, 517, c.rfi_bands);
  }
  std::vector<std::string> args = c.options;
  args.insert(args.end(), {"-i", input, "-o", "out.vxl", "-t", "."});
  const auto run = run_program(VEXAL_ENCODE_BIN, args, dir.path().string());
  ASSERT_EQ(run.status, 0) << c.name << ": " << run.err;
  EXPECT_EQ(fingerprint(dateless_bytes(dir / "out.vxl")), c.expected) << c.name;
}

}  // namespace

TEST(DefaultBytes, GeoTiffGreyAndRateControl) {
  expect_unchanged({"utm -tifg", "geotiff/utm.tif", {"-tifg"}, "5f005545d0214488"});
  expect_unchanged({"utm -tifg -ht -c 30", "geotiff/utm.tif", {"-tifg", "-ht", "-c", "30"}, "da6db654a49b10df"});
}

TEST(DefaultBytes, ColourInputs) {
  expect_unchanged({"bluemarble -jpeg -n 5", "bench/bluemarble_2700x1350.jpg",
                    {"-jpeg", "-n", "5"}, "45deb8034c753b8d"});
  expect_unchanged({"seneca mosaic -jpeg -b 256 -n 3", "jpeg/seneca_mosaic.jpg",
                    {"-jpeg", "-b", "256", "-n", "3"}, "19b00c0354733f5d"});
  expect_unchanged({"cmyk -tif -n 2", "tiff/rgbsmall_cmyk.tif",
                    {"-tif", "-n", "2"}, "db15afb203c13212"});
  expect_unchanged({"tiled rgb -nd -g -w -c", "tiff/tiff_tiled_raw.tif",
                    {"-tif", "-n", "3", "-nd", "-g", "1.5", "-w", "3", "-c", "12"}, "b7fdfc76a7772262"});
}

TEST(DefaultBytes, SixteenBitAndFloatInputs) {
  expect_unchanged({"CT -dicom -n 3", "dicom/CT_small.dcm", {"-dicom", "-n", "3"}, "47b104b53547f940"});
  expect_unchanged({"grey rfi -n 6", "", {"-rfi", "-n", "6"}, "4647225fe24324af"});
  expect_unchanged({"3-band rfi -n 3 -b 160", "", {"-rfi", "-n", "3", "-b", "160"}, "9addb74f8a6c44f5", 3});
}
