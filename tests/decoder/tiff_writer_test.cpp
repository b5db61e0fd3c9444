// The streaming TIFF writer: striped, tiled, BigTIFF and compressed outputs read back by libtiff
// hold exactly the samples the source gave, and the source is only ever asked for small
// rectangles, however wide the output.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>

#include "decoder/tiff_writer.h"
#include "platform/error.h"
#include "support/scratch_dir.h"

namespace {

// A formula source: sample (x, y) of band b, as bytes or 16-bit words.
struct FormulaSource {
  TiffLayout layout;
  long long largest = 0;  // most samples asked for at once
  double value(int b, int x, int y) const { return (x * 7 + y * 13 + b * 50) % 251; }
  void operator()(int x0, int y0, int x1, int y1, void* planar) {
    const int w = x1 - x0 + 1, h = y1 - y0 + 1;
    largest = std::max(largest, (long long)w * h);
    for (int b = 0; b < layout.bands; ++b)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const size_t i = (size_t(b) * h + y) * w + x;
          const double v = value(b, x0 + x, y0 + y);
          if (layout.type == vexal::SampleType::kUInt16) static_cast<uint16_t*>(planar)[i] = uint16_t(v * 200);
          else if (layout.type == vexal::SampleType::kFloat32) static_cast<float*>(planar)[i] = float(v / 3);
          else static_cast<uint8_t*>(planar)[i] = uint8_t(v);
        }
  }
};

// Every sample of the TIFF at `name`, pixel-interleaved rows, whatever its layout.
std::vector<unsigned char> read_back(const std::string& name, bool& big, bool& tiled, uint16_t& compression) {
  TIFF* tif = TIFFOpen(name.c_str(), "r");
  EXPECT_NE(tif, nullptr);
  if (!tif) return {};
  uint32_t w = 0, h = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
  big = TIFFIsBigTIFF(tif);
  tiled = TIFFIsTiled(tif);
  const size_t row = size_t(TIFFScanlineSize64(tif));
  std::vector<unsigned char> out(row * h);
  if (tiled) {
    uint32_t tw = 0, th = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
    const size_t pixel = row / w;
    std::vector<unsigned char> tile(size_t(TIFFTileSize64(tif)));
    for (uint32_t y = 0; y < h; y += th)
      for (uint32_t x = 0; x < w; x += tw) {
        TIFFReadEncodedTile(tif, TIFFComputeTile(tif, x, y, 0, 0), tile.data(), tmsize_t(tile.size()));
        for (uint32_t r = 0; r < th && y + r < h; ++r)
          std::memcpy(&out[(y + r) * row + x * pixel], &tile[r * tw * pixel], std::min(tw, w - x) * pixel);
      }
  } else {
    for (uint32_t y = 0; y < h; ++y) TIFFReadScanline(tif, &out[y * row], y, 0);
  }
  TIFFClose(tif);
  return out;
}

std::vector<unsigned char> expected(const FormulaSource& s) {
  const TiffLayout& l = s.layout;
  const size_t sample = vexal::sample_size(l.type);
  std::vector<unsigned char> planar(size_t(l.width) * l.height * l.bands * sample), out(planar.size());
  FormulaSource copy = s;
  copy(0, 0, l.width - 1, l.height - 1, planar.data());
  for (int y = 0; y < l.height; ++y)
    for (int x = 0; x < l.width; ++x)
      for (int b = 0; b < l.bands; ++b)
        std::memcpy(&out[((size_t(y) * l.width + x) * l.bands + b) * sample],
                    &planar[((size_t(b) * l.height + y) * l.width + x) * sample], sample);
  return out;
}

}  // namespace

TEST(TiffWriter, EveryLayoutHoldsTheSourceSamples) {
  vexal_test::ScratchDir dir;
  struct Case {
    TiffLayout layout;
    std::vector<std::string> options;
    bool big, tiled;
    uint16_t compression;
  } cases[] = {
      {{1300, 70, 3, vexal::SampleType::kUInt8, vexal::ColorScheme::kRGB, {}, {}}, {}, false, false, COMPRESSION_NONE},
      {{700, 530, 1, vexal::SampleType::kUInt16, vexal::ColorScheme::kGray, {}, {}}, {"tiled=yes"}, false, true, COMPRESSION_NONE},
      {{600, 515, 4, vexal::SampleType::kUInt8, vexal::ColorScheme::kCMYK, {}, {}}, {"COMPRESS=DEFLATE", "BIGTIFF=YES"}, true, true, COMPRESSION_ADOBE_DEFLATE},
      {{1030, 20, 2, vexal::SampleType::kFloat32, vexal::ColorScheme::kUnknown, {}, {}}, {"COMPRESS=LZW"}, false, false, COMPRESSION_LZW},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.layout.width);
    TiffOptions options;
    for (const std::string& o : c.options) parse_tiff_option(o, options);
    FormulaSource source{c.layout};
    const std::string name = dir / "out.tif";
    write_tiff(name, c.layout, options, nullptr, std::ref(source));
    bool big = false, tiled = false;
    uint16_t compression = 0;
    EXPECT_TRUE(read_back(name, big, tiled, compression) == expected(source));
    EXPECT_EQ(big, c.big);
    EXPECT_EQ(tiled, c.tiled);
    EXPECT_EQ(compression, c.compression);
  }
}

// A very wide output: the source is asked for at most 1024 columns of a band of rows at once,
// and rows of more than 16 MiB make a tiled file instead of a row buffer that large.
TEST(TiffWriter, MemoryStaysBoundedByTheRectanglesAskedFor) {
  vexal_test::ScratchDir dir;
  FormulaSource source{{100000, 40, 1, vexal::SampleType::kUInt8, vexal::ColorScheme::kGray, {}, {}}};
  write_tiff(dir / "wide.tif", source.layout, TiffOptions{}, nullptr, std::ref(source));
  EXPECT_LE(source.largest, 1024LL * 256);
  bool big = false, tiled = false;
  uint16_t compression = 0;
  EXPECT_TRUE(read_back(dir / "wide.tif", big, tiled, compression) == expected(source));
  EXPECT_FALSE(tiled);
  const TiffLayout huge{3000000, 3000000, 3, vexal::SampleType::kFloat32, vexal::ColorScheme::kRGB, {}, {}};
  EXPECT_TRUE(tiff_is_big(huge, TiffOptions{}));
  EXPECT_TRUE(tiff_is_tiled(huge, TiffOptions{}));
  const TiffLayout wide_rows{2000000, 2, 3, vexal::SampleType::kFloat32, vexal::ColorScheme::kRGB, {}, {}};
  EXPECT_FALSE(tiff_is_big(wide_rows, TiffOptions{}));
  EXPECT_TRUE(tiff_is_tiled(wide_rows, TiffOptions{}));
}

TEST(TiffWriter, UnknownOptionsAreRefusedByName) {
  TiffOptions options;
  for (const char* bad : {"COMPRESS=MAGIC", "TILED=MAYBE", "QUALITY=90", "COMPRESS"}) {
    try {
      parse_tiff_option(bad, options);
      ADD_FAILURE() << bad << " accepted";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << e.what();
    }
  }
}
