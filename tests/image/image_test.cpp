#include "image/image.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/error.h"
#include "raw_test_image.h"
#include "support/scratch_dir.h"

using vexal_test::RawLayout;
using vexal_test::RawTestImage;

namespace {

uint8_t byte_value(int band, int row, int col) { return static_cast<uint8_t>(band * 50 + row * 10 + col); }
uint16_t short_value(int band, int row, int col) { return static_cast<uint16_t>(1000 * band + 40000 + row * 10 + col); }

// A georeferenced image with fixed map numbers.
class GeoImage : public RawTestImage {
 public:
  using RawTestImage::RawTestImage;
  bool is_georeferenced() override { return true; }
  double xcoord() override { return 500000.25; }
  double ycoord() override { return 4100000.75; }
  double xscale() override { return 0.5; }
  double yscale() override { return -0.5; }
};

}  // namespace

TEST(ImageExtract, PrefillsNoDataThenOverlaysTheFile) {
  vexal_test::ScratchDir dir;
  RawLayout l{"RGB_BSQ", 4, 3, 2, 1, 0, 0};
  vexal_test::write_raw_file<uint8_t>(dir / "raw", l, byte_value);
  const uint8_t no_data[3] = {7, 8, 9};
  RawTestImage image(dir / "raw", l, 10, 20, no_data);
  int s[2][2] = {{8, 11}, {19, 20}};  // 4 x 2, overlapping file columns 0..1, row 0
  std::unique_ptr<PixelData> block = image.extract(s);
  ASSERT_EQ(block->width(), 4);
  ASSERT_EQ(block->height(), 2);
  EXPECT_EQ(block->band_count(), 2);
  EXPECT_EQ(block->band_structure(), PixelData::kMultiBand);
  EXPECT_EQ(block->data_type(), PixelData::kUInt8);
  const auto* p = static_cast<const uint8_t*>(block->data());
  const std::vector<uint8_t> got(p, p + 16);
  const std::vector<uint8_t> expected = {7, 7, 7, 7, 7, 7, 0, 1,        // plane 0
                                         8, 8, 8, 8, 8, 8, 50, 51};     // plane 1
  EXPECT_EQ(got, expected);
}

TEST(ImageExtract, FourBandsAreCodedAsThreeUnlessCmyk) {
  vexal_test::ScratchDir dir;
  RawLayout l{"CMYK_BSQ", 2, 2, 4, 1, 0, 0};
  vexal_test::write_raw_file<uint8_t>(dir / "raw", l, byte_value);
  const uint8_t no_data[3] = {7, 8, 9};
  RawTestImage image(dir / "raw", l, 0, 0, no_data);
  int outside[2][2] = {{5, 6}, {0, 0}};
  for (int scheme : {kSchemeRGB, kSchemeUnknown, kSchemeCMYK}) {
    image.color_scheme = scheme;
    std::unique_ptr<PixelData> block = image.extract(outside);
    EXPECT_EQ(block->band_count(), scheme == kSchemeCMYK ? 4 : 3);
    EXPECT_EQ(image.coded_bands(), block->band_count());
    const auto* p = static_cast<const uint8_t*>(block->data());
    EXPECT_EQ(std::vector<uint8_t>(p, p + 8), (std::vector<uint8_t>{7, 7, 8, 8, 9, 9, 0, 0}));
  }
}

TEST(ImageExtract, SixteenBitAndFloatStartFromZero) {
  vexal_test::ScratchDir dir;
  RawLayout l{"GRAYSCALE", 3, 2, 1, 2, 0, 0};
  vexal_test::write_raw_file<uint16_t>(dir / "raw", l, short_value);
  const uint8_t no_data[3] = {7, 8, 9};
  RawTestImage image(dir / "raw", l, 0, 0, no_data);
  int s[2][2] = {{2, 3}, {1, 1}};
  std::unique_ptr<PixelData> block = image.extract(s);
  EXPECT_EQ(block->data_type(), PixelData::kUInt16);
  EXPECT_EQ(block->band_structure(), PixelData::kSingleBand);
  const auto* p = static_cast<const uint16_t*>(block->data());
  EXPECT_EQ(p[0], short_value(0, 1, 2));
  EXPECT_EQ(p[1], 0);
  image.data_type = 7;
  EXPECT_THROW(image.extract(s), Error);
}

TEST(ImageFile, DefaultsAndMetadataRecords) {
  vexal_test::ScratchDir dir;
  RawLayout l{"RGB", 5, 4, 3, 1, 0, 0};
  vexal_test::write_raw_file<uint8_t>(dir / "raw", l, byte_value);
  const uint8_t transparent[3] = {1, 2, 3};
  GeoImage image(dir / "raw", l, 0, 0, nullptr, transparent);
  EXPECT_EQ(image.file_size(), 60.0);
  EXPECT_EQ(image.no_data_value()[2], 0);
  EXPECT_EQ(image.transparent_value()[2], 3);
  image.add_image_metadata();
  std::vector<std::string> keys;
  for (size_t i = 0; i < image.metadata.slots.size(); ++i)
    if (const char* k = metadata_key_at(&image.metadata, static_cast<int>(i))) keys.push_back(k);
  const std::vector<std::string> expected = {
      "IMAGE::SOM", "IMAGE::WIDTH", "IMAGE::HEIGHT", "IMAGE::INPUT_NAME",
      "IMAGE::INPUT_FILE_SIZE", "IMAGE::NO_DATA_VALUE", "IMAGE::TRANSPARENT_DATA_VALUE",
      "IMAGE::XY_ORIGIN", "IMAGE::X_RESOLUTION", "IMAGE::Y_RESOLUTION",
      "IMAGE::COLOR_SCHEME", "IMAGE::DATA_TYPE"};
  EXPECT_EQ(keys, expected);
  double y_resolution = 0;
  metadata_get(&image.metadata, "IMAGE::Y_RESOLUTION", &y_resolution);
  EXPECT_EQ(y_resolution, 0.5);

  RawTestImage plain(dir / "raw", l, 0, 0);
  EXPECT_EQ(plain.transparent_value(), nullptr);
  EXPECT_THROW(plain.xcoord(), Error);
  EXPECT_THROW(plain.yscale(), Error);
  float f[1];
  int s[2][2] = {{0, 0}, {0, 0}};
  EXPECT_THROW(static_cast<Image&>(plain).Image::extract(s, f), Error);
  RawTestImage missing(dir / "nothing", l, 0, 0);
  try {
    missing.file_size();
    FAIL();
  } catch (const OpenError& e) {
    EXPECT_EQ(std::string(e.what()), "Error opening file " + (dir / "nothing") + " for rb.");
  }
}

TEST(ImageFile, WorldFileOnlyForGeoreferencedImages) {
  vexal_test::ScratchDir dir;
  RawLayout l{"GRAYSCALE", 2, 2, 1, 1, 0, 0};
  vexal_test::write_raw_file<uint8_t>(dir / "raw", l, byte_value);
  RawTestImage plain(dir / "raw", l, 0, 0);
  plain.write_world_file(Quorvale::FileSpecification(dir / "plain.vxl"));
  EXPECT_FALSE(std::filesystem::exists(dir / "plain.vxw"));

  GeoImage geo(dir / "raw", l, 0, 0);
  geo.write_world_file(Quorvale::FileSpecification(dir / "geo.vxl"));
  std::ifstream in(dir / "geo.vxw");
  std::stringstream text;
  text << in.rdbuf();
  char expected[512];
  std::snprintf(expected, sizeof expected, "%30.15lf\n%30.15lf\n%30.15lf\n%30.15lf\n%30.15lf\n%30.15lf\n",
                0.5, 0.0, 0.0, -0.5, 500000.25, 4100000.75);
  EXPECT_EQ(text.str(), expected);
  EXPECT_THROW(geo.write_world_file(Quorvale::FileSpecification(dir / "no/such/dir/x.vxl")),
               WriteError);
}
