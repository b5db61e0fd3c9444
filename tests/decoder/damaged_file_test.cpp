// Damaged and hostile .vxl files end in a clear error naming the file, never in a crash or an
// out-of-bounds read (the sanitizer build runs these too).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <tuple>

#include "decoder/decoded_image.h"
#include "decoder/subband_geometry.h"
#include "decoder/vxl_check.h"
#include "decoder/vxl_file.h"
#include "encoder/core/encoder.h"
#include "metadata/metadata.h"
#include "platform/error.h"
#include "support/scratch_dir.h"
#include "synthetic_image.h"

using Quorvale::FileSpecification;

namespace {

std::vector<char> sound_file(const vexal_test::ScratchDir& dir) {
  SyntheticImage image(120, 90, 3, kImage8Bit, kSchemeRGB);
  const FileSpecification temp(dir.path().string());
  Encoder encoder(&image, 2, 512, 8.0f / 4, &temp, nullptr, nullptr, 4.0f, 2.0f, true, 0.25f);
  encoder.encode(FileSpecification(dir / "sound.vxl"));
  std::ifstream in(dir / "sound.vxl", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void write(const std::string& name, const std::vector<char>& bytes) {
  std::ofstream(name, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

// Opens and fully decodes; returns the error text, or "" when the file decoded.
std::string try_decode(const std::string& name) {
  try {
    const VxlFile f(name);
    decode_image(f, 0, Window{0, 0, f.width() - 1, f.height() - 1});
    decode_image(f, 1, Window{0, 0, reduced_size(f.width(), 1) - 1, reduced_size(f.height(), 1) - 1});
    return "";
  } catch (const std::exception& e) {
    return e.what();
  }
}

}  // namespace

TEST(DamagedFile, EveryTruncationIsRefusedWithTheFileName) {
  vexal_test::ScratchDir dir;
  const std::vector<char> bytes = sound_file(dir);
  ASSERT_EQ(try_decode(dir / "sound.vxl"), "");
  const std::string name = dir / "cut.vxl";
  for (size_t n = 0; n < bytes.size(); n += 1 + n / 16) {
    write(name, std::vector<char>(bytes.begin(), bytes.begin() + std::ptrdiff_t(n)));
    const std::string error = try_decode(name);
    EXPECT_NE(error, "") << "truncated to " << n << " bytes";
    EXPECT_NE(error.find(name), std::string::npos) << error;
  }
}

TEST(DamagedFile, FlippedBytesNeverCrash) {
  vexal_test::ScratchDir dir;
  const std::vector<char> bytes = sound_file(dir);
  std::mt19937 random(7);
  const std::string name = dir / "flip.vxl";
  int refused = 0;
  for (int trial = 0; trial < 150; ++trial) {
    std::vector<char> damaged = bytes;
    for (int k = 0; k < 1 + trial % 4; ++k)
      damaged[random() % damaged.size()] ^= char(1 + random() % 255);
    write(name, damaged);
    refused += try_decode(name) != "";
  }
  EXPECT_GT(refused, 0);
}

TEST(DamagedFile, HostileHeaderFieldsAreRefused) {
  vexal_test::ScratchDir dir;
  const std::vector<char> bytes = sound_file(dir);
  const std::string name = dir / "hostile.vxl";
  struct Patch {
    size_t at;
    uint32_t value;
    const char* expect;
  };
  for (const Patch& p : {Patch{7, 0, "band count"}, Patch{7, 300, "band count"},
                         Patch{11, 10, "level count"}, Patch{15, 0, "image size"},
                         Patch{19, 0x80000000u, "image size"}, Patch{11, 9, "too small"},
                         Patch{23, 0xFFFFFFF0u, "outside the file"},
                         // Sizes the tables contradict: a million columns once made a 17 KB file
                         // decode into 4.5 GB; one column more leaves the low-pass blocks short.
                         Patch{15, 1000000, "disagrees with the blocks"},
                         Patch{19, 1000000, "disagrees with the blocks"},
                         Patch{15, 121, "disagrees with the blocks"}}) {
    std::vector<char> damaged = bytes;
    for (int i = 0; i < 4; ++i) damaged[p.at + size_t(i)] = char(p.value >> (24 - 8 * i));
    write(name, damaged);
    EXPECT_NE(try_decode(name).find(p.expect), std::string::npos) << try_decode(name);
  }
  std::vector<char> not_vexal = bytes;
  not_vexal[0] = 'X';
  write(name, not_vexal);
  EXPECT_EQ(try_decode(name), name + " is not a Vexal file.");
}

namespace {

uint32_t be32(const std::vector<char>& b, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v = (v << 8) | uint8_t(b[at + i]);
  return v;
}

void put_be32(std::vector<char>& b, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) b[at + i] = char(v >> (24 - 8 * i));
}

// Where the first block of the low-pass subband keeps its table entry and its step.
struct FirstBlock {
  size_t entry;  // band offsets, then x0 y0 x1 y1
  size_t step;
};

FirstBlock first_block(const std::vector<char>& b) {
  const size_t subband = be32(b, 23);
  const size_t entry = subband + 8;
  const size_t header = be32(b, entry);
  size_t values = 0;
  for (size_t i = 0; i < 16; ++i) values += uint8_t(b[header + 2 + i]);
  return {entry, header + 2 + 16 + values};
}

std::string try_walk_and_decode_corner(const std::string& name) {
  try {
    const VxlFile f(name);
    const VxlCheckReport report = check_vxl_structure(f);
    if (!report.problems.empty()) return report.problems.front();
    decode_image(f, 0, Window{0, 0, 7, 7});
    return "";
  } catch (const std::exception& e) {
    return e.what();
  }
}

}  // namespace

// Found by fuzzing: a step of NaN or infinity reached the integer conversion of the output
// samples (undefined behaviour), and a header announcing a huge image with a huge block sized a
// record table of terabytes before anything checked it against the file.
TEST(DamagedFile, HostileBlockHeadersAreRefusedBeforeUse) {
  vexal_test::ScratchDir dir;
  const std::vector<char> bytes = sound_file(dir);
  const std::string name = dir / "block.vxl";
  const FirstBlock block = first_block(bytes);
  for (const uint32_t step : {0x7FC00000u, 0x7F800000u, 0xFF800000u}) {
    std::vector<char> damaged = bytes;
    put_be32(damaged, block.step, step);
    write(name, damaged);
    EXPECT_NE(try_decode(name).find("block header"), std::string::npos) << try_decode(name);
  }
  std::vector<char> huge = bytes;
  put_be32(huge, 15, 0x40000000u);
  put_be32(huge, 19, 0x40000000u);
  put_be32(huge, block.entry + 4 * 3 + 8, 0x0FFFFFFFu);
  put_be32(huge, block.entry + 4 * 3 + 12, 0x0FFFFFFFu);
  write(name, huge);
  EXPECT_NE(try_walk_and_decode_corner(name).find("record count"), std::string::npos)
      << try_walk_and_decode_corner(name);
}

// A record table naming the same coded stream again (a tiny file that would decode for ever), or
// a record whose stream runs into the next record, is damage.
TEST(DamagedFile, RecordsThatShareOrOverlapStreamsAreRefused) {
  vexal_test::ScratchDir dir;
  SyntheticImage image(520, 40, 1, kImage8Bit, kSchemeGray);
  const FileSpecification temp(dir.path().string());
  Encoder encoder(&image, 1, 512, 8.0f / 4, &temp, nullptr, nullptr, 4.0f, 2.0f, true, 0.25f);
  encoder.encode(FileSpecification(dir / "wide.vxl"));
  std::ifstream in(dir / "wide.vxl", std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
  ASSERT_EQ(try_walk_and_decode_corner(dir / "wide.vxl"), "");
  const size_t table = first_block(bytes).step + 12;  // behind the step and the record size
  ASSERT_GT(be32(bytes, table + 8), be32(bytes, table + 4)) << "the low-pass block has 3 records";
  const std::string name = dir / "records.vxl";
  std::vector<char> shared = bytes;
  put_be32(shared, table + 4, be32(bytes, table));
  write(name, shared);
  EXPECT_NE(try_walk_and_decode_corner(name).find("out of order"), std::string::npos)
      << try_walk_and_decode_corner(name);
  std::vector<char> overlapping = bytes;
  put_be32(overlapping, table + 4, be32(bytes, table) + 2);
  write(name, overlapping);
  const std::string error = try_walk_and_decode_corner(name);
  EXPECT_NE(error.find("coded record at offset"), std::string::npos) << error;
}

namespace {

// A 120 x 90 grey file carrying the record `key` with `values` (of `type`, `count` of them),
// after the statistics record `statistics` when given, as decoding finds it: the error text, or
// "" when it opens and decodes.
std::string decode_with_record(const vexal_test::ScratchDir& dir, const char* key, int type,
                               const void* values, int count,
                               const std::vector<double>& statistics = {}) {
  SyntheticImage image(120, 90, 1, kImage8Bit, kSchemeGray);
  if (!statistics.empty())
    metadata_add_doubles(&image.metadata, "IMAGE::STATISTICS", statistics.data(),
                         int(statistics.size()));
  metadata_add(&image.metadata, key, type, 1, &count, values);
  const std::string name = dir / "record.vxl";
  const FileSpecification temp(dir.path().string());
  Encoder encoder(&image, 2, 512, 8.0f / 4, &temp, nullptr, nullptr, 4.0f, 2.0f, true, 0.25f);
  encoder.encode(FileSpecification(name));
  const std::string error = try_decode(name);
  std::remove(name.c_str());
  return error;
}

}  // namespace

// A nodata mask that does not decode, or a statistics or histogram record that cannot describe
// the file's bands, is damage found when the file opens, so that every reader names the file
// and vxl_check does not call it sound; sound records open and decode.
TEST(DamagedFile, MaskStatisticsAndHistogramDamageIsFoundOnOpening) {
  vexal_test::ScratchDir dir;
  const std::string name = dir / "record.vxl";
  std::vector<uint8_t> sound = {120, 90};  // 120 x 90, one run of 5 pixels in each row
  for (int y = 0; y < 90; ++y) sound.insert(sound.end(), {1, 3, 5});
  std::vector<uint8_t> cut(sound.begin(), sound.begin() + 40), past_edge = sound;
  past_edge[2 + 3 * 7 + 1] = 118;
  for (const auto& [mask, damaged] : {std::pair{sound, false}, {cut, true}, {past_edge, true}})
    EXPECT_EQ(decode_with_record(dir, "IMAGE::NODATA_MASK", TYPE_BYTE, mask.data(), int(mask.size())),
              damaged ? name + ": damaged file: nodata mask record." : "");
  const std::vector<double> plausible = {2, 9, 5, 1.5, 100}, short_one = {2, 9, 5, 1.5},
                            inverted = {9, 2, 5, 1.5, 100}, none_valid = {2, 9, 5, 1.5, 0};
  for (const auto& [values, damaged] : {std::pair{plausible, false}, {short_one, true},
                                        {inverted, true}, {none_valid, true}})
    EXPECT_EQ(decode_with_record(dir, "IMAGE::STATISTICS", TYPE_DOUBLE, values.data(),
                                 int(values.size())),
              damaged ? name + ": damaged file: statistics record." : "");
  // 10800 pixels, 10000 of them counted (92.59...%), from 2 to 9.
  const std::vector<double> statistics = {2, 9, 5, 1.5, 100.0 * 10000 / 10800};
  std::vector<double> histogram(256, 0.0);
  histogram[2] = 4000, histogram[5] = 5000, histogram[9] = 1000;
  // Each damage alone: the others' totals, extremes and counts stay sound.
  auto changed = [&](std::initializer_list<std::pair<int, double>> counts) {
    std::vector<double> h = histogram;
    for (const auto& [value, count] : counts) h[size_t(value)] = count;
    return h;
  };
  const std::vector<double> cut_short(histogram.begin(), histogram.end() - 1);
  for (const auto& [values, with_statistics, damaged] :
       {std::tuple{histogram, true, false}, {histogram, false, true}, {cut_short, true, true},
        {changed({{2, 3999.5}, {5, 5000.5}}), true, true},
        {changed({{3, -1}, {5, 5001}}), true, true}, {changed({{5, 5001}}), true, true},
        {changed({{9, 0}, {8, 1000}}), true, true}})
    EXPECT_EQ(decode_with_record(dir, "IMAGE::HISTOGRAM", TYPE_DOUBLE, values.data(),
                                 int(values.size()),
                                 with_statistics ? statistics : std::vector<double>{}),
              damaged ? name + ": damaged file: histogram record." : "");
}
