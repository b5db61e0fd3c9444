#include "image/rfi_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <filesystem>
#include <fstream>
#include <random>

#include "image/image_factory.h"
#include "image/rfi_writer.h"
#include "platform/error.h"
#include "support/scratch_dir.h"

namespace {

std::vector<float> random_planes(int w, int h, int bands, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-1000.0f, 1000.0f);
  std::vector<float> planes(static_cast<size_t>(w) * h * bands);
  for (float& v : planes) v = dist(rng);
  return planes;
}

std::string error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.what();
  }
  return "no error";
}

void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> header_bytes(int32_t w, int32_t h, int32_t b) {
  std::vector<uint8_t> out;
  for (int32_t v : {w, h, b})
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
  return out;
}

}  // namespace

TEST(RFIImage, WriteThenReadEverySectionForOneThreeAndFourBands) {
  constexpr int W = 13, H = 7, X0 = 100, Y0 = 50;
  for (int bands : {1, 3, 4}) {
    vexal_test::ScratchDir dir;
    const std::vector<float> planes = random_planes(W, H, bands, 7u + bands);
    write_rfi(Quorvale::FileSpecification(dir / "x.rfi"), W, H, bands, planes.data());
    EXPECT_EQ(std::filesystem::file_size(dir.path() / "x.rfi"), 12u + 4u * W * H * bands);

    RFIImage image(Quorvale::FileSpecification(dir / "x.rfi"), X0, Y0);
    EXPECT_EQ(image.image_width, W);
    EXPECT_EQ(image.image_height, H);
    EXPECT_EQ(image.nband, bands);
    EXPECT_EQ(image.data_type, kImageFloat);
    EXPECT_EQ(image.color_scheme, bands == 1 ? kSchemeGray : bands == 3 ? kSchemeRGB : kSchemeCMYK);
    EXPECT_EQ(image.support[0][1], X0 + W - 1);
    EXPECT_EQ(image.support[1][1], Y0 + H - 1);

    const int sections[][2][2] = {{{100, 112}, {50, 56}}, {{95, 104}, {48, 52}},
                                  {{110, 130}, {55, 60}}, {{90, 120}, {40, 70}},
                                  {{0, 99}, {50, 56}}};
    for (const auto& sec : sections) {
      int s[2][2] = {{sec[0][0], sec[0][1]}, {sec[1][0], sec[1][1]}};
      std::unique_ptr<PixelData> block = image.extract(s);
      ASSERT_EQ(block->data_type(), PixelData::kFloat);
      EXPECT_EQ(block->band_count(), bands);
      const int w = s[0][1] - s[0][0] + 1, h = s[1][1] - s[1][0] + 1;
      const float* got = block->float_data();
      for (int k = 0; k < bands; ++k)
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            const int r = s[1][0] + y - Y0, c = s[0][0] + x - X0;
            const bool inside = r >= 0 && r < H && c >= 0 && c < W;
            const float want = inside ? planes[(static_cast<size_t>(k) * H + r) * W + c] : 0.0f;
            ASSERT_EQ(got[(static_cast<size_t>(k) * h + y) * w + x], want)
                << "bands " << bands << " plane " << k << " at " << x << "," << y;
          }
    }
  }
}

TEST(RFIImage, SamplesLieBandSequentialLittleEndian) {
  vexal_test::ScratchDir dir;
  const std::vector<float> planes = random_planes(5, 4, 3, 1);
  write_rfi(Quorvale::FileSpecification(dir / "x.rfi"), 5, 4, 3, planes.data());
  std::ifstream in(dir / "x.rfi", std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 12), header_bytes(5, 4, 3));
  const int r = 3, c = 2;
  const size_t at = 12 + 4 * ((2 * 4 + r) * 5 + c);
  const uint32_t bits = bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                        static_cast<uint32_t>(bytes[at + 3]) << 24;
  float v;
  std::memcpy(&v, &bits, 4);
  EXPECT_EQ(v, planes[(2 * 4 + r) * 5 + c]);
}

TEST(RFIImage, HeadersThatDisagreeWithTheFileAreRefused) {
  vexal_test::ScratchDir dir;
  const Quorvale::FileSpecification name(dir / "x.rfi");
  auto open_with = [&](std::vector<uint8_t> bytes) {
    write_bytes(name.str(), bytes);
    return error_of([&] { RFIImage image(name, 0, 0); });
  };
  std::vector<uint8_t> good = header_bytes(3, 2, 1);
  good.resize(12 + 24, 0);
  EXPECT_EQ(open_with(good), "no error");
  std::vector<uint8_t> longer = good;
  longer.push_back(0);
  EXPECT_EQ(open_with(longer), "Error: invalid RFI Image.");
  std::vector<uint8_t> shorter(good.begin(), good.end() - 1);
  EXPECT_EQ(open_with(shorter), "Error: invalid RFI Image.");
  // Sizes whose product overflows, negative pairs whose product is positive, no bands at all.
  for (auto h : {header_bytes(0x7fffffff, 0x7fffffff, 0x7fffffff), header_bytes(-3, -2, 1),
                 header_bytes(-1, -1, -9), header_bytes(3, 2, 0)}) {
    h.resize(36, 0);
    EXPECT_EQ(open_with(h), "Error: invalid RFI Image.");
  }
  EXPECT_EQ(open_with({1, 0, 0, 0, 1, 0, 0}), "Error reading file " + name.str() + ".");
  EXPECT_EQ(error_of([&] { RFIImage image(Quorvale::FileSpecification(dir / "none"), 0, 0); }),
            "Error opening file " + (dir / "none") + " for read.");
}

TEST(RFIImage, TwoBandsOpenButCannotBeExtracted) {
  vexal_test::ScratchDir dir;
  const std::vector<float> planes = random_planes(2, 2, 2, 3);
  write_rfi(Quorvale::FileSpecification(dir / "x.rfi"), 2, 2, 2, planes.data());
  RFIImage image(Quorvale::FileSpecification(dir / "x.rfi"), 0, 0);
  EXPECT_EQ(image.color_scheme, kSchemeUnknown);
  int s[2][2] = {{0, 1}, {0, 1}};
  EXPECT_EQ(error_of([&] { image.extract(s); }), "Error: cannot process 2 spectral band RFI files.");
  uint8_t bytes[8];
  EXPECT_EQ(error_of([&] { image.extract(s, bytes); }),
            "void RFIImage::extract( int section_support[2][2], unsigned char *pixels ) not "
            "supported.");
}

TEST(RFIImage, ParametersAndMetadata) {
  vexal_test::ScratchDir dir;
  const std::vector<float> planes = random_planes(4, 3, 1, 5);
  write_rfi(Quorvale::FileSpecification(dir / "x.rfi"), 4, 3, 1, planes.data());
  std::unique_ptr<Image> image = create_image(Quorvale::FileSpecification(dir / "x.rfi"), "RFI",
                                              nullptr, nullptr);
  testing::internal::CaptureStdout();
  image->print_parameters();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "***** " + (dir / "x.rfi") + " *****\n\n  image_width: 4\n  image_height: 3\n  nband: 1\n");
  double size = 0;
  metadata_get(&image->metadata, "IMAGE::INPUT_FILE_SIZE", &size);
  EXPECT_EQ(size, 12.0 + 48.0);
  EXPECT_EQ(metadata_find(&image->metadata, "IMAGE::XY_ORIGIN"), kMetaNotFound);
}

TEST(ImageFactory, UnknownWordsAreNamedInTheError) {
  for (const char* word : {"rfi", "RAST_MOSAIC", "", "RFI "})
    EXPECT_EQ(error_of([&] { create_image(Quorvale::FileSpecification("x"), word, nullptr, nullptr); }),
              std::string("Error: unrecognized image type \"") + word + "\" during image creation.");
}

TEST(RFIWriter, RunsLandWhereTheyBelongInAnyOrder) {
  vexal_test::ScratchDir dir;
  const Quorvale::FileSpecification name(dir / "w.rfi");
  {
    RFIWriter writer(name, 4, 2, 3);
    const float a[2] = {1.5f, -2.5f}, b[1] = {9.0f};
    writer.write_run(1, 1, 2, a, 2);
    writer.write_run(0, 0, 3, b, 1);
    EXPECT_THROW(writer.write_run(0, 0, 3, a, 2), Error);
    EXPECT_THROW(writer.write_run(3, 0, 0, a, 1), Error);
    EXPECT_THROW(writer.write_run(0, 2, 0, a, 1), Error);
    writer.close();
  }
  RFIImage image(name, 0, 0);
  int s[2][2] = {{0, 3}, {0, 1}};
  std::vector<float> out(24, 0.0f);
  image.extract(s, out.data());
  std::vector<float> expected(24, 0.0f);
  expected[3] = 9;
  expected[8 + 6] = 1.5f;
  expected[8 + 7] = -2.5f;
  EXPECT_EQ(out, expected);
  EXPECT_THROW(RFIWriter(Quorvale::FileSpecification(dir / "no/dir/x.rfi"), 1, 1, 1), OpenError);
  EXPECT_THROW(RFIWriter(name, 0, 1, 1), Error);
}
