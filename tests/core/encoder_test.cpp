// The Encoder's stages: parameter checks, and the reduced image that links a five-level pass to
// the second, deeper one.
#include "encoder/core/encoder.h"

#include <gtest/gtest.h>

#include <cmath>

#include "codec/level_geometry.h"
#include "encoder/writer/icon_writer.h"
#include "image/rfi_image.h"
#include "image/rfi_writer.h"
#include "platform/error.h"
#include "support/reference_dwt.h"
#include "support/scratch_dir.h"

using Quorvale::FileSpecification;

namespace {

std::vector<float> smooth_plane(int w, int h) {
  std::vector<float> p(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      p[size_t(y) * size_t(w) + size_t(x)] =
          float(120 + 80 * std::sin(x / 37.0) * std::cos(y / 29.0) + 20 * std::sin((x + y) / 7.0));
  return p;
}

}  // namespace

TEST(Encoder, RefusesMoreThanNineLevels) {
  try {
    Encoder(nullptr, 10, 512, 0.4f, nullptr, nullptr, nullptr, 4, 2, true, 0.25f);
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.message(), "Error: specified value for nlev must be <= 9.");
  }
}

TEST(Encoder, ReducedImageIsTheDequantisedLowPassSubband) {
  vexal_test::ScratchDir dir;
  const int w = 700, h = 530;
  const std::vector<float> plane = smooth_plane(w, h);
  write_rfi(FileSpecification(dir / "in.rfi"), w, h, 1, plane.data());
  RFIImage image(FileSpecification(dir / "in.rfi"), 0, 0);
  const FileSpecification temp(dir.path().string());
  for (bool dither : {true, false}) {
    Encoder first(&image, 5, 350, 2.0f, &temp, nullptr, nullptr, 4, 2, dither, 0.25f);
    SubbandMap map = first.decompose(nullptr, 0, 1, 0);
    const FileSpecification icon(dir / "icon.rfi");
    output_icon(icon, map, w, h, 5, 1, dither);

    const auto reference =
        vexal_test::reference_dwt97(std::vector<double>(plane.begin(), plane.end()), w, h, 5);
    RFIImage reduced(icon, 0, 0);
    ASSERT_EQ(reduced.image_width, reference[0].width);
    ASSERT_EQ(reduced.image_height, reference[0].height);
    ASSERT_EQ(reduced.image_width, reduced_size(w, 5));
    std::vector<float> values(size_t(reduced.image_width) * size_t(reduced.image_height));
    int all[2][2] = {{0, reduced.image_width - 1}, {0, reduced.image_height - 1}};
    reduced.extract(all, values.data());
    float largest_step = 0;
    for (const SubbandRecordEntry& r : map[0].records) largest_step = std::max(largest_step, r.steps[0]);
    ASSERT_GT(largest_step, 0);
    double worst = 0;
    for (size_t i = 0; i < values.size(); ++i)
      worst = std::max(worst, std::fabs(values[i] - reference[0].values[i]));
    // Dead-zone reconstruction is within 0.56 of a step; the dither is taken out exactly.
    EXPECT_LT(worst, 0.57 * largest_step + 1e-2) << "dither " << dither;
    std::remove(icon.path());
  }
}
