#include "image/tiff_sample_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "image/tiff_image.h"
#include "support/scratch_dir.h"
#include "tiff_fixture.h"

using vexal_test::TiffSpec;

namespace {

// Interleaves the bits of x and y: the order in which the encoder visits blocks.
uint32_t morton(uint32_t x, uint32_t y) {
  uint32_t code = 0;
  for (int b = 0; b < 16; ++b) code |= ((x >> b) & 1) << (2 * b) | ((y >> b) & 1) << (2 * b + 1);
  return code;
}

// Reads the image as the encoder does: blocks with borders on every side, in Morton order, and
// pastes the block interiors together.
std::vector<uint8_t> read_in_blocks(TIFFImage& image, int block, int border) {
  const int w = image.image_width, h = image.image_height, bands = image.nband;
  const int across = (w + block - 1) / block, down = (h + block - 1) / block;
  std::vector<std::pair<uint32_t, int>> order;
  for (int by = 0; by < down; ++by)
    for (int bx = 0; bx < across; ++bx) order.push_back({morton(bx, by), by * across + bx});
  std::sort(order.begin(), order.end());
  std::vector<uint8_t> out(uint64_t(bands) * w * h);
  for (const auto& [code, index] : order) {
    int bx = index % across, by = index / across;
    int s[2][2] = {{bx * block - border, (bx + 1) * block - 1 + border},
                   {by * block - border, (by + 1) * block - 1 + border}};
    std::unique_ptr<PixelData> data = image.extract(s);
    const auto* p = static_cast<const uint8_t*>(data->data());
    const int sw = block + 2 * border, plane = sw * sw;
    for (int b = 0; b < bands; ++b)
      for (int y = by * block; y < std::min(h, (by + 1) * block); ++y)
        for (int x = bx * block; x < std::min(w, (bx + 1) * block); ++x)
          out[uint64_t(b) * w * h + uint64_t(y) * w + x] =
              p[b * plane + (y - s[1][0]) * sw + (x - s[0][0])];
  }
  return out;
}

// A section's samples as the encoder receives them, band after band.
std::vector<uint8_t> section_bytes(TIFFImage& image, int x0, int x1, int y0, int y1) {
  int s[2][2] = {{x0, x1}, {y0, y1}};
  std::unique_ptr<PixelData> data = image.extract(s);
  const size_t sample = image.data_type == kImage8Bit ? 1 : image.data_type == kImageFloat ? 4 : 2;
  const size_t bytes = size_t(x1 - x0 + 1) * size_t(y1 - y0 + 1) * size_t(data->band_count()) * sample;
  const auto* p = static_cast<const uint8_t*>(data->data());
  return std::vector<uint8_t>(p, p + bytes);
}

size_t files_in(const std::string& dir) {
  size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) n += entry.is_regular_file();
  return n;
}

}  // namespace

// Blocks with borders in Morton order touch most strips and tiles several times; each must
// still be decoded once only, and the result must equal a one-piece read.
TEST(TiffSampleReader, CompressedUnitsAreDecodedOnceInBlockOrder) {
  vexal_test::ScratchDir dir;
  struct Case {
    const char* name;
    uint32_t tile, rows_per_strip;
    uint64_t units;
  };
  for (const Case& c : {Case{"tiles", 32, 0, 13 * 10}, Case{"strips", 0, 3, 103}}) {
    SCOPED_TRACE(c.name);
    TiffSpec s;
    s.width = 400;
    s.height = 309;
    s.samples = 3;
    s.photometric = PHOTOMETRIC_RGB;
    s.compression = c.tile ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_LZW;
    s.tile = c.tile;
    s.rows_per_strip = c.rows_per_strip;
    std::string path = dir / (std::string(c.name) + ".tif");
    vexal_test::write_tiff(path, s, vexal_test::pattern(s));
    TIFFImage whole(path, 0, 0), blocks(path, 0, 0);
    std::vector<uint8_t> expected = vexal_test::read_all(whole);
    EXPECT_EQ(read_in_blocks(blocks, 64, 9), expected);
    EXPECT_EQ(blocks.units_decoded(), c.units);
  }
}

// Past the memory budget the decoded image goes to a temporary file in the chosen folder,
// which disappears with the image, also when reading fails half-way.
TEST(TiffSampleReader, LargeImagesUseATemporaryFileThatIsRemoved) {
  vexal_test::ScratchDir dir;
  std::filesystem::create_directory(dir / "tmp");
  const Quorvale::FileSpecification temp_dir(dir / "tmp");
  TiffSpec s;
  s.width = 300;
  s.height = 200;
  s.compression = COMPRESSION_ADOBE_DEFLATE;
  s.tile = 64;
  vexal_test::write_tiff(dir / "a.tif", s, vexal_test::pattern(s));
  TiffSampleReader::set_memory_budget(1000);
  {
    TIFFImage image(dir / "a.tif", 0, 0);
    image.set_temp_directory(&temp_dir);
    TIFFImage reference(dir / "a.tif", 0, 0);
    TiffSampleReader::set_memory_budget(64ull << 20);
    std::vector<uint8_t> expected = vexal_test::read_all(reference);
    TiffSampleReader::set_memory_budget(1000);
    EXPECT_EQ(read_in_blocks(image, 50, 4), expected);
    EXPECT_EQ(files_in(dir / "tmp"), 1u);
    EXPECT_EQ(image.units_decoded(), 5u * 4u);
  }
  EXPECT_EQ(files_in(dir / "tmp"), 0u);

  // Garbage in the middle of the compressed tiles (the directory sits after them).
  {
    std::fstream f(dir / "a.tif", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(std::filesystem::file_size(dir / "a.tif") / 2));
    std::string garbage(2000, '\xff');
    f.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
  }
  {
    TIFFImage image(dir / "a.tif", 0, 0);
    image.set_temp_directory(&temp_dir);
    EXPECT_ANY_THROW(vexal_test::read_all(image));
  }
  EXPECT_EQ(files_in(dir / "tmp"), 0u);
  TiffSampleReader::set_memory_budget(64ull << 20);
}

// Uncompressed files are read in place: nothing is decoded and no store is made.
TEST(TiffSampleReader, UncompressedFilesAreReadInPlace) {
  vexal_test::ScratchDir dir;
  TiffSpec s;
  s.width = 130;
  s.height = 70;
  s.tile = 32;
  vexal_test::write_tiff(dir / "raw.tif", s, vexal_test::pattern(s));
  TIFFImage image(dir / "raw.tif", 0, 0);
  std::vector<uint8_t> blocks = read_in_blocks(image, 40, 5);
  EXPECT_EQ(image.units_decoded(), 0u);
  EXPECT_EQ(blocks, vexal_test::read_all(image));
  EXPECT_EQ(vexal_test::differences_from_rgba(image, dir / "raw.tif"), 0u);
}

// Separate planes read as their interleaved twin through every path of the reader (in place,
// decoded strip by strip or tile by tile, decoded row by row for strips too large to hold),
// and a block decodes only the strips or tiles of each plane that it covers.
TEST(TiffSampleReader, SeparatePlanesReadAsTheirInterleavedTwin) {
  struct Case {
    const char* label;
    uint16_t samples, bits, format, compression;
    uint32_t tile, rows_per_strip;
    const char* mode;
    bool by_rows;
  };
  const Case cases[] = {
      {"lzw cmyk strips", 4, 8, SAMPLEFORMAT_UINT, COMPRESSION_LZW, 0, 11, "w", false},
      {"big-endian lzw 16-bit tiles", 3, 16, SAMPLEFORMAT_UINT, COMPRESSION_LZW, 16, 0, "wb", false},
      {"big-endian raw signed strips", 2, 16, SAMPLEFORMAT_INT, COMPRESSION_NONE, 0, 5, "wb", false},
      {"deflate float bands strips", 5, 32, SAMPLEFORMAT_IEEEFP, COMPRESSION_ADOBE_DEFLATE, 0, 9,
       "w", false},
      {"deflate rgb strip by rows", 3, 8, SAMPLEFORMAT_UINT, COMPRESSION_ADOBE_DEFLATE, 0, 0, "w",
       true},
  };
  vexal_test::ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TiffSpec s;
    s.width = 150;
    s.height = 77;
    s.samples = c.samples;
    s.bits = c.bits;
    s.photometric = c.samples == 3 && c.bits == 8   ? PHOTOMETRIC_RGB
                    : c.samples == 4 ? PHOTOMETRIC_SEPARATED
                                     : PHOTOMETRIC_MINISBLACK;
    s.compression = c.compression;
    s.tile = c.tile;
    s.rows_per_strip = c.rows_per_strip;
    s.mode = c.mode;
    const std::vector<uint8_t> data = vexal_test::pattern(s);
    auto format = [&](TIFF* tif) { TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, c.format); };
    vexal_test::write_tiff(dir / "twin.tif", s, data, format);
    s.planar = PLANARCONFIG_SEPARATE;
    vexal_test::write_tiff(dir / "planar.tif", s, data, format);
    if (c.by_rows) TiffSampleReader::set_unit_limit(1000);
    TIFFImage twin(dir / "twin.tif", 0, 0), planar(dir / "planar.tif", 0, 0);
    EXPECT_EQ(section_bytes(planar, 0, 4, 0, 4), section_bytes(twin, 0, 4, 0, 4));
    if (c.compression != COMPRESSION_NONE && !c.by_rows) {
      EXPECT_EQ(planar.units_decoded(), c.samples);
    }
    EXPECT_EQ(section_bytes(planar, 13, 140, 5, 70), section_bytes(twin, 13, 140, 5, 70));
    EXPECT_EQ(section_bytes(planar, 0, 149, 0, 76), section_bytes(twin, 0, 149, 0, 76));
    TiffSampleReader::set_unit_limit(64ull << 20);
    if (s.photometric == PHOTOMETRIC_RGB) {
      EXPECT_EQ(vexal_test::differences_from_rgba(planar, dir / "planar.tif"), 0u);
    }
  }
}
