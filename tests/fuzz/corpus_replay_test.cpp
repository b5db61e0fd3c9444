// Replays the saved fuzz corpora (fuzz/corpus/<target>/) through the fuzzers' own entry
// functions, so every crasher ever found stays fixed in the ordinary and the sanitizer builds.
// Files named ok-* are valid inputs that must be accepted: a target that rejects them has lost
// its reach into the code behind the parser.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "fuzz/fuzz_entries.h"
#include "fuzz/launcher_text_entry.h"

namespace {

namespace fs = std::filesystem;
using Entry = std::function<bool(const uint8_t*, size_t)>;

Entry reader(const char* type_word, const char* header_extension = nullptr) {
  return [type_word, header_extension](const uint8_t* d, size_t n) {
    return fuzz_entries::image_reader_entry(type_word, d, n, header_extension);
  };
}

const std::map<std::string, Entry>& entries() {
  static const std::map<std::string, Entry> table = {
      {"expand_data_fuzzer", fuzz_entries::expand_data_entry},
      {"metadata_read_fuzzer", fuzz_entries::metadata_read_entry},
      {"vxl_reader_fuzzer", fuzz_entries::vxl_reader_entry},
      {"public_reader_fuzzer", fuzz_entries::public_reader_entry},
      {"sun_rast_fuzzer", reader("RAST")},
      {"jpeg_fuzzer", reader("JPEG")},
      {"dicom_fuzzer", reader("DICOM")},
      {"rfi_fuzzer", reader("RFI")},
      {"doq_fuzzer", reader("DOQ")},
      {"lan_fuzzer", reader("LAN")},
      {"bbb_fuzzer", reader("BBB", "hdr")},
      {"tiff_fuzzer", reader("TIFF")},
      {"tifg_fuzzer", reader("TIFG")},
      {"launcher_text_fuzzer", fuzz_entries::launcher_text_entry},
  };
  return table;
}

fs::path corpus_root() { return fs::path(VEXAL_SOURCE_DIR) / "fuzz" / "corpus"; }

std::vector<uint8_t> read_all(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<fs::path> files_of(const std::string& target) {
  std::vector<fs::path> files;
  const fs::path dir = corpus_root() / target;
  if (fs::is_directory(dir))
    for (const auto& item : fs::directory_iterator(dir))
      if (item.is_regular_file()) files.push_back(item.path());
  return files;
}

class CorpusReplay : public ::testing::TestWithParam<std::string> {};

TEST_P(CorpusReplay, EveryInputEndsCleanlyAndValidSeedsAreAccepted) {
  const std::string target = GetParam();
  const Entry& entry = entries().at(target);
  const std::vector<fs::path> files = files_of(target);
  ASSERT_FALSE(files.empty()) << "no saved inputs for " << target;
  int valid = 0;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    const std::vector<uint8_t> bytes = read_all(file);
    const bool accepted = entry(bytes.data(), bytes.size());
    if (file.filename().string().rfind("ok-", 0) == 0) {
      ++valid;
      EXPECT_TRUE(accepted);
    }
  }
  EXPECT_GT(valid, 0) << target << " has no valid seed";
}

std::vector<std::string> target_names() {
  std::vector<std::string> names;
  for (const auto& [name, entry] : entries()) names.push_back(name);
  return names;
}

INSTANTIATE_TEST_SUITE_P(Targets, CorpusReplay, ::testing::ValuesIn(target_names()),
                         [](const auto& info) { return info.param; });

// A corpus folder without an entry here would silently never be replayed. The GDAL driver's
// is replayed by tests/gdal, which links the driver.
TEST(CorpusLayout, EveryCorpusFolderIsReplayed) {
  for (const auto& item : fs::directory_iterator(corpus_root())) {
    if (item.path().filename() == "gdal_driver_fuzzer") continue;
    EXPECT_EQ(entries().count(item.path().filename().string()), 1u) << item.path();
  }
}

}  // namespace
