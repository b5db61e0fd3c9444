#include <gtest/gtest.h>

#include <filesystem>

#include "platform/error.h"
#include "raw_test_image.h"
#include "support/scratch_dir.h"

using vexal_test::RawLayout;
using vexal_test::RawTestImage;

namespace {

// Each word restated as "output plane p holds file band plane_band[p]" and "the transparent
// test compares file band cmp_band[j] with t[cmp_t[j]]".
struct WordRule {
  const char* word;
  int bands;
  int planes;
  int plane_band[4];
  int ncmp;
  int cmp_band[3];
  int cmp_t[3];
};

const WordRule kRules[] = {
    {"GRAYSCALE", 1, 1, {0}, 0, {}, {}},
    {"RGB", 3, 3, {0, 1, 2}, 3, {0, 1, 2}, {0, 1, 2}},
    {"RGB", 4, 3, {0, 1, 2}, 3, {0, 1, 2}, {0, 1, 2}},
    {"BGR", 3, 3, {2, 1, 0}, 3, {0, 1, 2}, {0, 1, 2}},
    {"XRGB", 4, 3, {1, 2, 3}, 3, {1, 2, 3}, {0, 1, 2}},
    {"XBGR", 4, 3, {3, 2, 1}, 3, {1, 2, 3}, {2, 1, 0}},
    {"RGB_BIL", 3, 3, {0, 1, 2}, 3, {0, 1, 2}, {0, 1, 2}},
    {"BGRX_BIL", 4, 3, {2, 1, 0}, 3, {2, 1, 0}, {0, 1, 2}},
    {"RGB_BSQ", 3, 3, {0, 1, 2}, 3, {0, 1, 2}, {0, 1, 2}},
    {"CMYK_BSQ", 4, 4, {0, 1, 2, 3}, 3, {0, 1, 2}, {0, 1, 2}},
};

void PrintTo(const WordRule& rule, std::ostream* os) { *os << rule.word << "/" << rule.bands; }

template <typename T>
T sample_value(int band, int row, int col) {
  const unsigned h = (band * 73856093u) ^ (row * 19349663u) ^ (col * 83492791u);
  return static_cast<T>((h >> 4) % 3 + 1);
}

constexpr int kFileX = 100, kFileY = 50, kFileW = 12, kFileH = 9;
constexpr int kSentinel = 200;
const uint8_t kTransparent[3] = {1, 2, 3};

// Sections inside, across each edge, around, beside and at a corner of the file.
const int kSections[][2][2] = {
    {{103, 107}, {52, 55}},  {{95, 104}, {52, 55}},   {{108, 120}, {49, 53}},
    {{101, 103}, {45, 51}},  {{101, 103}, {57, 70}},  {{90, 125}, {40, 65}},
    {{111, 111}, {58, 58}},  {{0, 99}, {50, 58}},     {{112, 130}, {0, 100}},
    {{100, 111}, {59, 60}},  {{100, 111}, {50, 58}},
};

// One-piece reference: what extract_raw must leave in the planar section buffer.
template <typename T>
std::vector<T> expected_section(const WordRule& rule, const int s[2][2], int planes,
                                const uint8_t* t, int* skipped) {
  const int w = s[0][1] - s[0][0] + 1, h = s[1][1] - s[1][0] + 1;
  std::vector<T> out(static_cast<size_t>(w) * h * planes, static_cast<T>(kSentinel));
  for (int y = s[1][0]; y <= s[1][1]; ++y)
    for (int x = s[0][0]; x <= s[0][1]; ++x) {
      const int row = y - kFileY, col = x - kFileX;
      if (row < 0 || row >= kFileH || col < 0 || col >= kFileW) continue;
      bool all_equal = rule.ncmp > 0;
      for (int j = 0; j < rule.ncmp; ++j)
        all_equal = all_equal && sample_value<T>(rule.cmp_band[j], row, col) == T(t ? t[rule.cmp_t[j]] : 0);
      if (t && all_equal) {
        ++*skipped;
        continue;
      }
      for (int p = 0; p < rule.planes; ++p)
        out[(static_cast<size_t>(p) * h + (y - s[1][0])) * w + (x - s[0][0])] =
            sample_value<T>(rule.plane_band[p], row, col);
    }
  return out;
}

template <typename T>
void check_every_section(const WordRule& rule, bool padded) {
  vexal_test::ScratchDir dir;
  RawLayout l{rule.word, kFileW, kFileH, rule.bands, static_cast<int>(sizeof(T)), 13, 0};
  const bool pixel_interleaved = std::string(rule.word).find('_') == std::string::npos;
  if (padded && pixel_interleaved) l.stride = int64_t{kFileW} * rule.bands * sizeof(T) + 3;
  vexal_test::write_raw_file<T>(dir / "raw", l, sample_value<T>);
  int skipped = 0;
  for (const uint8_t* t : {static_cast<const uint8_t*>(nullptr), kTransparent}) {
    RawTestImage image(dir / "raw", l, kFileX, kFileY, nullptr, t);
    for (const auto& section : kSections) {
      int s[2][2] = {{section[0][0], section[0][1]}, {section[1][0], section[1][1]}};
      const int planes = std::max(rule.bands, rule.planes);
      std::vector<T> got = expected_section<T>(rule, s, planes, nullptr, &skipped);
      std::fill(got.begin(), got.end(), static_cast<T>(kSentinel));
      image.extract(s, got.data());
      EXPECT_EQ(got, expected_section<T>(rule, s, planes, t, &skipped))
          << rule.word << " bands " << rule.bands << " size " << sizeof(T) << " section "
          << s[0][0] << ".." << s[0][1] << " x " << s[1][0] << ".." << s[1][1]
          << (t ? " transparent" : "");
    }
  }
  if (rule.ncmp > 0) {
    EXPECT_GT(skipped, 0) << rule.word;  // the transparent case was exercised
  }
}

class RawSectionReader : public testing::TestWithParam<WordRule> {};

}  // namespace

TEST_P(RawSectionReader, MatchesTheOnePieceReferenceForEverySampleSize) {
  check_every_section<uint8_t>(GetParam(), false);
  check_every_section<uint16_t>(GetParam(), true);
  check_every_section<float>(GetParam(), false);
}

INSTANTIATE_TEST_SUITE_P(EveryWord, RawSectionReader, testing::ValuesIn(kRules),
                         [](const auto& info) {
                           return std::string(info.param.word) + "_" +
                                  std::to_string(info.param.bands);
                         });

TEST(RawSectionReaderFailures, SectionsBesideTheFileNeverOpenIt) {
  vexal_test::ScratchDir dir;
  RawLayout l{"RGB", kFileW, kFileH, 3, 1, 0, 0};
  vexal_test::write_raw_file<uint8_t>(dir / "raw", l, sample_value<uint8_t>);
  RawTestImage image(dir / "raw", l, kFileX, kFileY);
  std::filesystem::remove(dir / "raw");
  int beside[2][2] = {{0, 99}, {0, 1000}};
  std::vector<uint8_t> buffer(100 * 1001 * 3, 9);
  EXPECT_NO_THROW(image.extract(beside, buffer.data()));
  int over[2][2] = {{99, 100}, {50, 50}};
  try {
    image.extract(over, buffer.data());
    FAIL() << "a missing file must be reported";
  } catch (const OpenError& e) {
    EXPECT_EQ(std::string(e.what()), "Error opening file " + (dir / "raw") + " for read.");
  }
}

TEST(RawSectionReaderFailures, WrongBandCountsAndWordsAndShortFiles) {
  vexal_test::ScratchDir dir;
  RawLayout l{"RGB", kFileW, kFileH, 3, 1, 0, 0};
  vexal_test::write_raw_file<uint8_t>(dir / "raw", l, sample_value<uint8_t>);
  int s[2][2] = {{100, 101}, {50, 51}};
  std::vector<uint8_t> buffer(16);
  auto message_of = [&](const std::string& word, int bands, int height) {
    RawLayout m = l;
    m.word = word;
    m.bands = bands;
    m.height = height;
    RawTestImage image(dir / "raw", m, kFileX, kFileY);
    try {
      image.extract(s, buffer.data());
    } catch (const Error& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message_of("XRGB", 3, kFileH),
            "Unexpected band structure encountered in subroutine ImageFile::uninterleave32.");
  EXPECT_EQ(message_of("XBGR", 3, kFileH),
            "Unexpected band structure encountered in subroutine ImageFile::uninterleave32.");
  EXPECT_EQ(message_of("BGRX_BIL", 3, kFileH),
            "Incompatible band structure encountered in ImageFile::extract_raw().");
  EXPECT_THROW(band_order_from_word("RGBA"), Error);
  EXPECT_THROW(band_order_from_word("rgb"), Error);
  // A header claiming more rows than the file holds: the row past the end is a read error.
  RawLayout tall = l;
  tall.height = 100;
  RawTestImage image(dir / "raw", tall, 0, 0);
  int last[2][2] = {{0, 1}, {99, 99}};
  EXPECT_THROW(image.extract(last, buffer.data()), ReadError);
}
