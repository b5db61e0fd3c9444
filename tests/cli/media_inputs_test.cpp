// Sun raster, DICOM and JPEG samples through the whole pipeline: vexal_encode, then
// vexal_decode, compared with the pixels other tools read from the source. Refused inputs end
// with the reader's message and leave no file behind.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "image/reader_test_util.h"
#include "support/run_program.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"

namespace fs = std::filesystem;
using vexal_test::Bytes;
using vexal_test::run_program;

namespace {

const char* const kConvert = "/usr/bin/convert";
const char* const kDjpeg = "/usr/bin/djpeg";
const char* const kDcmdump = "/usr/bin/dcmdump";

struct MediaCase {
  const char* flag;
  const char* sample;
  int nlev;
  int bands;
  double min_psnr;  // dB, pinned about 4 dB under what the encoder reached at ratio 4
};

std::vector<double> as_samples(const Bytes& raw, bool wide) {
  std::vector<double> out;
  for (size_t i = 0; i + (wide ? 1 : 0) < raw.size(); i += wide ? 2 : 1)
    out.push_back(wide ? raw[i] | (raw[i + 1] << 8) : raw[i]);
  return out;
}

// Source pixels as the format's reference tool reads them.
std::vector<double> reference_pixels(const MediaCase& c, const std::string& path,
                                     const vexal_test::ScratchDir& dir) {
  if (std::strcmp(c.flag, "-jpeg") == 0)
    return as_samples(vexal_test::pnm_pixels(vexal_test::tool_bytes(kDjpeg, {"-pnm", path})), false);
  if (std::strcmp(c.flag, "-rast") == 0)
    return as_samples(vexal_test::tool_bytes(kConvert, {path, "-depth", "8",
                                                        c.bands == 1 ? "gray:-" : "rgb:-"}),
                      false);
  const std::string out = dir / "dcmtk";
  fs::create_directories(out);
  run_program(kDcmdump, {"-q", "+W", out, path});
  for (const auto& e : fs::directory_iterator(out))
    return as_samples(vexal_test::read_bytes(e.path().string()), true);
  return {};
}

std::vector<double> decoded_pixels(const MediaCase& c, const std::string& tif) {
  const bool wide = std::strcmp(c.flag, "-dicom") == 0;
  return as_samples(vexal_test::tool_bytes(kConvert, {tif, "-depth", wide ? "16" : "8", "-endian",
                                                      "LSB", c.bands == 1 ? "gray:-" : "rgb:-"}),
                    wide);
}

// Peak signal to noise ratio against the reference's own largest sample.
double psnr(const std::vector<double>& reference, const std::vector<double>& decoded) {
  double peak = 1, se = 0;
  for (size_t i = 0; i < reference.size(); ++i) {
    peak = std::max(peak, reference[i]);
    se += (reference[i] - decoded[i]) * (reference[i] - decoded[i]);
  }
  return se == 0 ? 200 : 10 * std::log10(peak * peak / (se / double(reference.size())));
}

class MediaRoundTrip : public ::testing::TestWithParam<MediaCase> {};

TEST_P(MediaRoundTrip, DecodesCloseToWhatOtherToolsRead) {
  const MediaCase c = GetParam();
  VEXAL_REQUIRE_SAMPLE(path, c.sample);
  for (const char* tool : {kConvert, kDjpeg, kDcmdump})
    if (!vexal_test::have_tool(tool)) GTEST_SKIP() << tool << " not installed";
  vexal_test::ScratchDir dir;
  fs::create_directories(dir / "tmp");
  auto encoded = run_program(VEXAL_ENCODE_BIN, {c.flag, "-i", path.string(), "-o", dir / "x.vxl",
                                                "-n", std::to_string(c.nlev), "-c", "4", "-t",
                                                dir / "tmp"});
  ASSERT_EQ(encoded.status, 0) << encoded.err;
  EXPECT_TRUE(fs::is_empty(dir / "tmp"));
  auto decoded = run_program(VEXAL_DECODE_BIN, {"-i", dir / "x.vxl", "-o", dir / "x.tif"});
  ASSERT_EQ(decoded.status, 0) << decoded.err;
  const auto reference = reference_pixels(c, path.string(), dir);
  const auto pixels = decoded_pixels(c, dir / "x.tif");
  ASSERT_FALSE(reference.empty());
  ASSERT_EQ(pixels.size(), reference.size());
  const double db = psnr(reference, pixels);
  RecordProperty("psnr", std::to_string(db));
  EXPECT_GE(db, c.min_psnr);
}

INSTANTIATE_TEST_SUITE_P(
    Samples, MediaRoundTrip,
    ::testing::Values(MediaCase{"-rast", "rast/rgb-gimp-2.10-1bit.ras", 2, 1, 25},
                      MediaCase{"-rast", "rast/rgb-gimp-2.10-gray.ras", 2, 1, 36},
                      MediaCase{"-rast", "rast/rgb-gimp-2.10-pal16.ras", 2, 3, 29},
                      MediaCase{"-rast", "rast/rgb-gimp-2.8.10-standard.ras", 2, 3, 30},
                      MediaCase{"-rast", "rast/rgb24.ras", 2, 3, 31},
                      MediaCase{"-dicom", "dicom/CT_small.dcm", 4, 1, 42},
                      MediaCase{"-dicom", "dicom/MR_small.dcm", 3, 1, 33},
                      MediaCase{"-dicom", "dicom/MR_small_implicit.dcm", 3, 1, 33},
                      MediaCase{"-jpeg", "jpeg/testorig.jpg", 4, 3, 44},
                      MediaCase{"-jpeg", "jpeg/testimgari.jpg", 4, 3, 44},
                      MediaCase{"-jpeg", "jpeg/hopper_gray.jpg", 4, 1, 28},
                      MediaCase{"-jpeg", "jpeg/seneca_mosaic.jpg", 5, 3, 47}));

struct Refusal {
  const char* flag;
  const char* sample;
  const char* message;  // "%s" stands for the sample's path
};

class MediaRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(MediaRefusal, EndsWithTheReadersMessageAndLeavesNoFile) {
  const Refusal r = GetParam();
  VEXAL_REQUIRE_SAMPLE(path, r.sample);
  vexal_test::ScratchDir dir;
  fs::create_directories(dir / "tmp");
  auto run = run_program(VEXAL_ENCODE_BIN, {r.flag, "-i", path.string(), "-o", dir / "x.vxl", "-n",
                                            "2", "-t", dir / "tmp"});
  EXPECT_EQ(run.status, 1);
  std::string message = r.message;
  if (auto at = message.find("%s"); at != std::string::npos) message.replace(at, 2, path.string());
  EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  EXPECT_TRUE(fs::is_empty(dir / "tmp"));
  EXPECT_FALSE(fs::exists(dir / "x.vxl"));
}

INSTANTIATE_TEST_SUITE_P(
    Samples, MediaRefusal,
    ::testing::Values(
        Refusal{"-jpeg", "jpeg/truncated_jpeg.jpg", "Premature end of JPEG file"},
        Refusal{"-jpeg", "jpeg/testorig12.jpg", "Unsupported JPEG data precision 12"},
        Refusal{"-rast", "rast/rle_24bit.ras", "This program can't read byte encoded Sun rasterfiles."},
        Refusal{"-dicom", "dicom/MR_truncated.dcm", "Error reading file %s."},
        Refusal{"-dicom", "dicom/JPEG-lossy.dcm", "Error reading %s."}));

}  // namespace
