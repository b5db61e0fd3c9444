#include "encoder/core/record_coder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "codec/block_coder.h"
#include "codec/dither.h"
#include "codec/ht_desc_io.h"
#include "codec/sq_inv.h"
#include "encoder/core/block_grid.h"
#include "encoder/core/encoder.h"
#include "encoder/writer/band_payload.h"
#include "platform/error.h"
#include "support/scratch_dir.h"

namespace {

size_t files_in(const vexal_test::ScratchDir& dir) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++n;
  return n;
}

// Keeps a copy of every record as the coder receives it, before quantisation.
class TeeSink : public RecordSink {
 public:
  explicit TeeSink(RecordSink& next) : next_(next) {}
  void write_record(SubbandRecordData& r) override {
    copies.push_back(r);
    next_.write_record(r);
  }
  std::vector<SubbandRecordData> copies;

 private:
  RecordSink& next_;
};

float pixel(int x, int y, int b) {
  return float((x * 7 + y * 3 + b * 50) % 256) * 0.5f + 40.0f * std::sin(0.05f * (x + 2 * y));
}

TEST(RecordCoder, TemporaryFilesDecodeBackWithinTheStep) {
  vexal_test::ScratchDir dir;
  const Quorvale::FileSpecification temp_dir(dir.path().string());
  const int nlev = 2, bands = 3;
  const BlockGrid grid(150, 110, 40, nlev, false);
  {
    SubbandMap map = subband_map_init(nlev, &temp_dir);
    EXPECT_EQ(files_in(dir), size_t(3 * nlev + 1));
    StepAllocation allocation;
    allocation.nlev = nlev;
    allocation.bands = bands;
    allocation.rate = 2.0f;
    RecordCoder coder(map, allocation, true);
    TeeSink tee(coder);
    BlockTiler tiler(grid, nlev, bands);
    auto source = [](const BlockRect& r, platform::FloatBuffer& planes) {
      float* out = planes.data();
      for (int b = 0; b < 3; ++b)
        for (int y = r.y0; y <= r.y1; ++y)
          for (int x = r.x0; x <= r.x1; ++x) *out++ = pixel(x, y, b);
    };
    decompose_blocks(grid, bands, source, tee, tiler, {}, {}, 0.0f, 1.0f);
    write_eof(map);

    std::vector<size_t> next_copy(map.size(), 0);
    std::vector<std::vector<const SubbandRecordData*>> copies(map.size());
    for (const SubbandRecordData& c : tee.copies) copies[size_t(c.subband)].push_back(&c);
    int coded_bands = 0;
    for (size_t k = 0; k < map.size(); ++k) {
      SCOPED_TRACE(testing::Message() << "subband " << k);
      FILE* f = map[k].file.stream();
      ASSERT_EQ(ftello(f), 0);  // rewound for the writer
      // Records whose every band is uncoded get no directory entry.
      size_t c = 0;
      for (const SubbandRecordEntry& e : map[k].records) {
        while (c < copies[k].size() && (copies[k][c]->x0 != e.x0 || copies[k][c]->y0 != e.y0)) ++c;
        ASSERT_LT(c, copies[k].size());
        const SubbandRecordData& original = *copies[k][c];
        ASSERT_EQ(e.x1, original.x1);
        ASSERT_EQ(e.y1, original.y1);
        const size_t n = size_t(original.width()) * original.height();
        for (int b = 0; b < bands; ++b) {
          if (e.steps[size_t(b)] == 0.0f) {
            EXPECT_EQ(e.offsets[size_t(b)], -1);
            continue;
          }
          ++coded_bands;
          // Payloads are read strictly in the order written.
          ASSERT_EQ(ftello(f), e.offsets[size_t(b)]);
          const BandPayload payload = read_band_payload(f, e.offsets[size_t(b)], e.x1 - e.x0 + 1,
                                                        e.y1 - e.y0 + 1);
          EXPECT_EQ(ftello(f), e.offsets[size_t(b)] + e.sizes[size_t(b)]);
          const float step = payload.step;
          EXPECT_EQ(step, e.steps[size_t(b)]);
          ASSERT_EQ(payload.indices.size(), n);
          std::vector<float> back(n);
          sq_inv(payload.indices.data(), n, step, back.data());
          if (b == 0)
            remove_dither(back.data(), e.x0, e.x1, e.y0, e.y1, step, &map[k].offsets);
          const platform::FloatBuffer& x = original.bands[size_t(b)];
          for (size_t i = 0; i < n; ++i)
            ASSERT_LE(std::fabs(back[i] - x[i]), 0.5601f * step + 1e-5f * std::fabs(x[i]))
                << "band " << b << " at " << i;
        }
        ++c;
      }
      unsigned char end[3];
      ASSERT_EQ(std::fread(end, 1, 3, f), 2u);
      EXPECT_EQ(end[0], 0xFF);
      EXPECT_EQ(end[1], 0xA9);
    }
    EXPECT_GT(coded_bands, 20);
  }
  EXPECT_EQ(files_in(dir), 0u);  // the map removes its files
}

// An in-memory grey image that can fail on its n-th block.
class SyntheticImage : public Image {
 public:
  SyntheticImage(int width, int height, int fail_at) : fail_at_(fail_at) {
    image_width = width;
    image_height = height;
    nband = 1;
    data_type = kImage8Bit;
    color_scheme = kSchemeGray;
  }
  void print_parameters() override {}
  void extract(int s[2][2], unsigned char* out) override {
    if (++extracts_ == fail_at_) throw ReadError("synthetic");
    for (int y = s[1][0]; y <= s[1][1]; ++y)
      for (int x = s[0][0]; x <= s[0][1]; ++x) *out++ = uint8_t(x * 5 + y * 3);
  }
  double file_size() override { return double(image_width) * image_height; }
  double xcoord() override { return 0; }
  double ycoord() override { return 0; }
  double xscale() override { return 1; }
  double yscale() override { return 1; }
  bool is_georeferenced() override { return false; }
  const uint8_t* no_data_value() override { return nullptr; }
  const uint8_t* transparent_value() override { return nullptr; }

 private:
  int fail_at_;
  int extracts_ = 0;
};

int polls = 0;
int interrupt_on_tenth_poll() { return ++polls >= 10; }

TEST(RecordCoder, InterruptedOrFailingRunLeavesNoTemporaryFile) {
  vexal_test::ScratchDir dir;
  const Quorvale::FileSpecification temp_dir(dir.path().string());
  {
    SyntheticImage image(200, 170, 0);
    Encoder encoder(&image, 2, 40, 0.4f, &temp_dir, nullptr, interrupt_on_tenth_poll, 4.0f,
                    2.0f, true, 0.25f);
    polls = 0;
    try {
      encoder.decompose(nullptr, 0.0f, 1.0f, 0);
      FAIL() << "no interrupt";
    } catch (const Error& e) {
      EXPECT_STREQ(e.message(), "Program interrupt encountered.");
    }
    EXPECT_EQ(polls, 10);
    EXPECT_EQ(files_in(dir), 0u);
  }
  {
    SyntheticImage image(200, 170, 7);
    Encoder encoder(&image, 2, 40, 0.4f, &temp_dir, nullptr, nullptr, 4.0f, 2.0f, true, 0.25f);
    EXPECT_THROW(encoder.decompose(nullptr, 0.0f, 1.0f, 0), ReadError);
    EXPECT_EQ(files_in(dir), 0u);
  }
  {
    // The same image without failure keeps its subband files until the map goes.
    SyntheticImage image(200, 170, 0);
    Encoder encoder(&image, 2, 40, 0.4f, &temp_dir, nullptr, nullptr, 4.0f, 2.0f, true, 0.25f);
    float rate = 0;
    SubbandMap map = encoder.decompose(&rate, 0.0f, 1.0f, 0);
    EXPECT_EQ(files_in(dir), 7u);
    EXPECT_GT(rate, 0.0f);
    size_t records = 0;
    for (const SubbandMapEntry& e : map) records += e.records.size();
    EXPECT_GT(records, 7u);
  }
  EXPECT_EQ(files_in(dir), 0u);
}

}  // namespace
