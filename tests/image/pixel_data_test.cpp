#include "image/pixel_data.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/error.h"

namespace {

template <typename T>
T* malloc_copy(std::initializer_list<T> values) {
  T* p = static_cast<T*>(std::malloc(values.size() * sizeof(T)));
  std::copy(values.begin(), values.end(), p);
  return p;
}

}  // namespace

TEST(PixelData, IntegerSamplesConvertToTheirValues) {
  PixelData grey(malloc_copy<uint8_t>({0, 1, 128, 255}), 2, 2, PixelData::kSingleBand, 1);
  EXPECT_FALSE(grey.convert2float());
  EXPECT_EQ(grey.data_type(), PixelData::kFloat);
  EXPECT_EQ(std::vector<float>(grey.float_data(), grey.float_data() + 4),
            (std::vector<float>{0, 1, 128, 255}));
  EXPECT_TRUE(grey.convert2float());  // already float: nothing to do

  PixelData wide(malloc_copy<uint16_t>({0, 65535, 40000}), 3, 1, PixelData::kSingleBand, 1);
  EXPECT_FALSE(wide.convert2float());
  EXPECT_EQ(wide.float_data()[1], 65535.0f);
  EXPECT_EQ(wide.float_data()[2], 40000.0f);
}

TEST(PixelData, ColourTransformOfIntegerBlocks) {
  // Two pixels: white, and an arbitrary colour checked against a double-precision reference.
  PixelData block(malloc_copy<uint8_t>({255, 200, 255, 10, 255, 90}), 2, 1,
                  PixelData::kMultiBand, 3);
  block.yiq();
  ASSERT_EQ(block.data_type(), PixelData::kFloat);
  const float* f = block.float_data();
  EXPECT_NEAR(f[0], 255.0f, 1e-3);
  EXPECT_NEAR(f[2], 0.0f, 1e-3);
  EXPECT_NEAR(f[4], 0.0f, 1e-3);
  const double R = 200, G = 10, B = 90;
  EXPECT_NEAR(f[1], 0.3 * R + 0.6 * G + 0.1 * B, 1e-4);
  EXPECT_NEAR(f[3], 0.6 * R - 0.28 * G - 0.32 * B, 1e-4);
  EXPECT_NEAR(f[5], 0.21 * R - 0.53 * G + 0.32 * B, 1e-4);
}

// The one-pass transform of integer samples must give the extended-precision result of the
// float samples bit for bit: the encoder's output bytes depend on it.
template <typename T>
void expect_extended_precision_result(int top, uint32_t seed) {
  const size_t n = 4096;
  T* samples = static_cast<T*>(std::malloc(3 * n * sizeof(T)));
  std::vector<float> reference(3 * n);
  for (size_t k = 0; k < 3 * n; ++k) {
    seed = seed * 1664525u + 1013904223u;
    const int v = k % 97 == 0 ? top : k % 89 == 0 ? 0 : int((seed >> 8) % uint32_t(top + 1));
    samples[k] = T(v);
  }
  using X = long double;
  for (size_t k = 0; k < n; ++k) {
    const X R = samples[k], G = samples[n + k], B = samples[2 * n + k];
    reference[k] = float(X(0.3f) * R + X(0.6f) * G + X(0.1f) * B);
    reference[n + k] = float(X(0.6f) * R - X(0.28f) * G - X(0.32f) * B);
    reference[2 * n + k] = float(X(0.21f) * R - X(0.53f) * G + X(0.32f) * B);
  }
  PixelData block(samples, 64, 64, PixelData::kMultiBand, 3);
  block.yiq();
  ASSERT_EQ(block.data_type(), PixelData::kFloat);
  for (size_t k = 0; k < 3 * n; ++k)
    ASSERT_EQ(std::memcmp(&block.float_data()[k], &reference[k], sizeof(float)), 0) << k;
}

TEST(PixelData, ColourTransformOfIntegersMatchesExtendedPrecisionExactly) {
  expect_extended_precision_result<uint8_t>(255, 7);
  expect_extended_precision_result<uint16_t>(65535, 11);
}

TEST(PixelData, GreyPassesFourthPlaneKeptAndBadStructuresRefused) {
  PixelData grey(malloc_copy<uint8_t>({5}), 1, 1, PixelData::kSingleBand, 1);
  grey.yiq();
  EXPECT_EQ(grey.data_type(), PixelData::kUInt8);  // nothing done at all

  PixelData cmyk(malloc_copy<uint8_t>({10, 20, 30, 40}), 1, 1, PixelData::kMultiBand, 4);
  cmyk.yiq();
  EXPECT_EQ(cmyk.float_data()[3], 40.0f);

  PixelData two(malloc_copy<uint8_t>({1, 2}), 1, 1, PixelData::kMultiBand, 2);
  EXPECT_THROW(two.yiq(), Error);
  PixelData odd(malloc_copy<uint8_t>({1, 2, 3}), 1, 1, 5, 3);
  EXPECT_THROW(odd.yiq(), Error);
}

TEST(PixelData, ReleaseHandsTheBufferOver) {
  float* buffer = malloc_copy<float>({1.5f, 2.5f});
  {
    PixelData block(buffer, 2, 1, PixelData::kSingleBand, 1);
    EXPECT_EQ(block.release(), buffer);
    EXPECT_EQ(block.data(), nullptr);
  }
  EXPECT_EQ(buffer[1], 2.5f);  // still ours after the block is gone
  std::free(buffer);
}
