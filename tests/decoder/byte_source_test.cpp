// Reading through byte sources: a file in memory gives exactly the pixels of the local file, a
// window reads only its records and the tables that locate them (counted against the file's
// tables), in two batches, and a Reader shared by threads that change its cache stays sound.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "decoder/band_part.h"
#include "decoder/coefficient_reader.h"
#include "decoder/region_decoder.h"
#include "decoder/vxl_file.h"
#include "encoder/core/encoder.h"
#include "support/scratch_dir.h"
#include "synthetic_image.h"
#include "vexal/reader.h"

namespace {

std::string encode(SyntheticImage& image, const std::string& out, int levels, int block) {
  const Quorvale::FileSpecification temp(std::filesystem::path(out).parent_path().string());
  Encoder encoder(&image, levels, block, 8.0f / 4, &temp, nullptr, nullptr, 4.0f, 2.0f, true,
                  0.25f);
  encoder.encode(Quorvale::FileSpecification(out));
  return out;
}

std::vector<uint8_t> bytes_of(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Counts what passes through: bytes, and batches (a multi-range read is one request).
class CountingSource final : public vexal::ByteSource {
 public:
  explicit CountingSource(std::shared_ptr<vexal::ByteSource> inner) : inner_(std::move(inner)) {}
  std::uint64_t size() const override { return inner_->size(); }
  void read(std::uint64_t offset, void* buffer, std::size_t length) override {
    ++requests;
    bytes += length;
    inner_->read(offset, buffer, length);
  }
  void read_ranges(const Range* ranges, std::size_t count) override {
    ++requests;
    for (std::size_t i = 0; i < count; ++i) {
      bytes += ranges[i].length;
      inner_->read(ranges[i].offset, ranges[i].buffer, ranges[i].length);
    }
  }
  std::atomic<uint64_t> bytes = 0, requests = 0;

 private:
  std::shared_ptr<vexal::ByteSource> inner_;
};

std::vector<unsigned char> window(vexal::Reader& reader, int level, int x0, int y0, int x1, int y1) {
  std::vector<unsigned char> out(size_t(x1 - x0 + 1) * size_t(y1 - y0 + 1) *
                                 size_t(reader.bands()));
  reader.read(level, x0, y0, x1, y1, out.data());
  return out;
}

// Bytes of the coded records a window needs, and of the headers of their parts (each counted
// as it could be at most: the largest table), straight from the file's tables.
struct Needed {
  uint64_t records = 0, headers = 0;
};

Needed needed_for(const VxlFile& f, int level, const Window& w) {
  Needed n;
  for (const SubbandWindow& sw : subband_windows(f, level, w))
    for (const VxlBlock& block : f.subbands()[size_t(sw.subband)].blocks)
      for (uint32_t offset : block.band_offsets) {
        const CoefficientWindow& c = sw.window;
        if (offset == 0 || block.x1 < c.x0 || block.x0 > c.x1 || block.y1 < c.y0 || block.y0 > c.y1)
          continue;
        const BandPart& p = *f.part(block, offset);
        n.headers += 2 + 16 + 256 + 12 + 4 * p.record_offsets.size();
        for (size_t r = 0; r < p.record_offsets.size(); ++r) {
          const CoefficientWindow rr = p.record_rect(block, r);
          if (rr.x1 < c.x0 || rr.x0 > c.x1 || rr.y1 < c.y0 || rr.y0 > c.y1) continue;
          const uint64_t end = r + 1 < p.record_offsets.size() ? p.record_offsets[r + 1]
                                                               : f.end_of_structure(p.record_offsets[r]);
          n.records += end - p.record_offsets[r];
        }
      }
  return n;
}

}  // namespace

TEST(ByteSource, MemoryAndCountedReadsGiveTheLocalPixelsFromOnlyTheBytesNeeded) {
  vexal_test::ScratchDir dir;
  SyntheticImage image(1500, 1100, 3, kImage8Bit, kSchemeRGB);
  const std::string name = encode(image, dir / "rgb.vxl", 4, 512);
  vexal::Reader local(name);
  vexal::Reader memory(vexal::memory_source(bytes_of(name)), "rgb in memory");
  EXPECT_EQ(memory.path(), "rgb in memory");
  for (int level : {0, 2, 4}) {
    const int x1 = local.level_width(level) - 1, y1 = local.level_height(level) - 1;
    EXPECT_TRUE(window(local, level, 0, 0, x1, y1) == window(memory, level, 0, 0, x1, y1)) << level;
  }

  auto counted = std::make_shared<CountingSource>(vexal::open_file_source(name));
  vexal::Reader reader(counted, name);
  // Opening: the header, every table and the metadata, in at most three requests.
  EXPECT_LE(counted->requests, 3u);
  EXPECT_LT(counted->bytes, 64u * 1024);
  reader.set_cache_limit(0);
  const VxlFile file(name);
  const Window w{700, 400, 955, 655};
  const Needed need = needed_for(file, 0, w);
  counted->bytes = counted->requests = 0;
  const std::vector<unsigned char> first = window(reader, 0, w.x0, w.y0, w.x1, w.y1);
  EXPECT_LE(counted->requests, 2u);  // the part headers, then the records
  EXPECT_LE(counted->bytes, need.records + need.records / 10 + need.headers)
      << need.records << " record bytes";
  // The headers are kept: the same window again reads its records alone.
  counted->bytes = counted->requests = 0;
  EXPECT_TRUE(window(reader, 0, w.x0, w.y0, w.x1, w.y1) == first);
  EXPECT_EQ(counted->requests, 1u);
  EXPECT_LE(counted->bytes, need.records + need.records / 10);
  EXPECT_TRUE(first == window(local, 0, w.x0, w.y0, w.x1, w.y1));
}

// A source that fails, or a file cut short behind the source, is one Error naming the file.
TEST(ByteSource, FailuresNameTheFile) {
  class Failing final : public vexal::ByteSource {
   public:
    std::uint64_t size() const override { return 1 << 20; }
    void read(std::uint64_t, void*, std::size_t) override { throw std::runtime_error("no route"); }
  };
  try {
    vexal::Reader(std::make_shared<Failing>(), "https://example.invalid/a.vxl");
    FAIL() << "opened";
  } catch (const vexal::Error& e) {
    EXPECT_STREQ(e.what(), "https://example.invalid/a.vxl: no route");
  }
  EXPECT_THROW(vexal::Reader(nullptr, "none"), vexal::Error);
}

// One Reader, many threads: reads and cache changes take turns, and every read is exact.
TEST(ByteSource, SharedReaderWithCacheChangesStaysExact) {
  vexal_test::ScratchDir dir;
  SyntheticImage image(600, 500, 3, kImage8Bit, kSchemeRGB);
  vexal::Reader reader(encode(image, dir / "shared.vxl", 3, 256));
  const std::vector<unsigned char> want = window(reader, 0, 100, 100, 355, 355);
  std::atomic<bool> wrong = false, done = false;
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t)
    readers.emplace_back([&] {
      for (int i = 0; i < 6; ++i)
        if (window(reader, 0, 100, 100, 355, 355) != want) wrong = true;
    });
  std::thread limits([&] {
    for (size_t i = 0; !done; ++i) reader.set_cache_limit((i % 3) * (size_t(1) << 20));
  });
  for (std::thread& t : readers) t.join();
  done = true;
  limits.join();
  EXPECT_FALSE(wrong);
}
