#include "image/tifw_image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>

#include "platform/error.h"
#include "support/run_program.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"
#include "tiff_fixture.h"

namespace {

std::string message_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no exception)";
}

double record_double(const MetadataList& list, const char* key, int index = 0) {
  const MetadataRecord* r = metadata_record(&list, key);
  if (!r || r->type != TYPE_DOUBLE || r->count <= index) return NAN;
  double v;
  std::memcpy(&v, r->values.data() + 8 * index, 8);
  return v;
}

std::string make_image(const vexal_test::ScratchDir& dir, const std::string& name,
                        uint32_t width = 30, uint32_t height = 20) {
  vexal_test::TiffSpec s;
  s.width = width;
  s.height = height;
  s.x_resolution = 300;
  std::string path = dir / name;
  vexal_test::write_tiff(path, s, vexal_test::pattern(s));
  return path;
}

}  // namespace

// The sample's world file ends every line with a comma; gdal reads it as the pixel centre.
TEST(TIFWImageSamples, WorldFileWithCommasMatchesGdal) {
  VEXAL_REQUIRE_SAMPLE(path, "tfw/byte_nogeoref.tif");
  TIFWImage image(path.string());
  EXPECT_EQ(image.xcoord(), 100.0);
  EXPECT_EQ(image.ycoord(), 200.0);
  EXPECT_EQ(image.xscale(), 1.0);
  EXPECT_EQ(image.yscale(), -1.0);
  EXPECT_EQ(vexal_test::differences_from_rgba(image, path.string()), 0u);
  if (!std::filesystem::exists("/usr/bin/gdalinfo")) return;
  vexal_test::ProgramResult r = vexal_test::run_program("/usr/bin/gdalinfo", {path.string()});
  double ox = NAN, oy = NAN;
  size_t at = r.out.find("Origin = (");
  ASSERT_NE(at, std::string::npos) << r.out;
  std::sscanf(r.out.c_str() + at, "Origin = (%lf,%lf)", &ox, &oy);
  EXPECT_DOUBLE_EQ(image.xcoord() - image.xscale() / 2, ox);
  EXPECT_DOUBLE_EQ(image.ycoord() - image.yscale() / 2, oy);
}

// A TIFF that also carries GeoTIFF tags: as TIFW it follows its world file only.
TEST(TIFWImageSamples, WorldFileWinsOverInternalTags) {
  VEXAL_REQUIRE_SAMPLE(path, "tfw/byte_inconsistent_georef.tif");
  TIFWImage image(path.string());
  EXPECT_EQ(record_double(image.metadata, "IMAGE::XY_ORIGIN", 0), 100.0);
  EXPECT_EQ(record_double(image.metadata, "IMAGE::XY_ORIGIN", 1), 200.0);
}

TEST(TIFWImage, GeoreferencingRecordsAndPlacement) {
  vexal_test::ScratchDir dir;
  std::string path = make_image(dir, "a.tif", 30, 20);
  std::ofstream(dir / "a.tfw") << "2\n0.5\n0.25\n-2\n1000\n5000\n";
  TIFWImage image(path);
  EXPECT_EQ(record_double(image.metadata, "IMAGE::XY_ORIGIN", 0), 1000.0);
  EXPECT_EQ(record_double(image.metadata, "IMAGE::XY_ORIGIN", 1), 5000.0);
  EXPECT_EQ(record_double(image.metadata, "IMAGE::X_RESOLUTION"), 2.0);
  EXPECT_EQ(record_double(image.metadata, "IMAGE::Y_RESOLUTION"), 2.0);
  image.place_by_georeference();
  EXPECT_EQ(image.support[0][0], 500);
  EXPECT_EQ(image.support[0][1], 529);
  EXPECT_EQ(image.support[1][0], 2499);
  EXPECT_EQ(image.support[1][1], 2499 - 20 + 1);
  // Rows of the support run upwards; sections still come out the right way up.
  int section[2][2] = {{500, 529}, {2480, 2499}};
  std::unique_ptr<PixelData> block = image.extract(section);
  const auto* p = static_cast<const uint8_t*>(block->data());
  TIFFImage plain(path, 0, 0);
  std::vector<uint8_t> expected = vexal_test::read_all(plain);
  EXPECT_EQ(std::vector<uint8_t>(p, p + expected.size()), expected);

  testing::internal::CaptureStdout();
  image.print_parameters();
  std::string dump = testing::internal::GetCapturedStdout();
  EXPECT_NE(dump.find("\n\n  World file parameters:\n    rotation_1: 0.500000\n    rotation_2: "
                      "0.250000\n    x_coord: 1000.000000\n    y_coord: 5000.000000\n"
                      "    x_scale: 2.000000\n    y_scale: -2.000000\n"),
            std::string::npos)
      << dump;
}

TEST(TIFWImage, FindsTheWorldFileOrSaysWhy) {
  vexal_test::ScratchDir dir;
  std::string path = make_image(dir, "b.tif");
  EXPECT_EQ(message_of([&] { TIFWImage image(path); }),
            "Error: can't find a TIFF world file for " + path + ".");
  std::ofstream(dir / "b.tfw") << "1 0 0 -1 10 20\n";
  std::ofstream(dir / "b.tifw") << "3 0 0 -3 30 60\n";
  EXPECT_EQ(TIFWImage(path).xscale(), 3.0);  // "tifw" first
  std::ofstream(dir / "b.tifw") << "3 0 0 -3 30\n";
  EXPECT_EQ(message_of([&] { TIFWImage image(path); }),
            "Error reading file " + (dir / "b.tifw") + ".");
  std::ofstream(dir / "b.tifw") << "3 0 0 -3 30 sixty\n";
  EXPECT_EQ(message_of([&] { TIFWImage image(path); }),
            "Error reading file " + (dir / "b.tifw") + ".");
}

TEST(TIFWImage, MosaicCompatibility) {
  vexal_test::ScratchDir dir;
  std::string a = make_image(dir, "a.tif"), b = make_image(dir, "b.tif"),
              c = make_image(dir, "c.tif");
  std::ofstream(dir / "a.tfw") << "1 0 0 -1 0 0\n";
  std::ofstream(dir / "b.tfw") << "1 0 0 -1 30 0\n";
  std::ofstream(dir / "c.tfw") << "1 0 0 -2 30 0\n";
  TIFWImage ia(a), ib(b), ic(c);
  EXPECT_NO_THROW(ia.check_compatible(ib));
  EXPECT_EQ(message_of([&] { ia.check_compatible(ic); }),
            "File incompatibility: files " + a + " and " + c + " have different y-resolutions.");
}
