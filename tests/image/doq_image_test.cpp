#include "image/doq_image.h"

#include <gtest/gtest.h>

#include <cmath>

#include "image/doq_projection.h"
#include "platform/error.h"
#include "doq_fixture.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"

using namespace vexal_test;

namespace {

std::string message_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.message();
  }
  return "(no error)";
}

// Signed distance (pixels, positive inside) of pixel (col, row) of the raster from the
// quadrilateral of the corners; pixel i's centre lies at position i.
double inside_distance(const Doq& d, double col, double row) {
  double best = 1e9;
  for (int k = 0; k < 4; ++k) {
    const int n = (k + 1) % 4;  // NW->NE->SE->SW->NW runs clockwise on screen
    const double ax = (d.corners[k][0] - d.origin_x) / d.resolution;
    const double ay = (d.origin_y - d.corners[k][1]) / d.resolution;
    const double bx = (d.corners[n][0] - d.origin_x) / d.resolution;
    const double by = (d.origin_y - d.corners[n][1]) / d.resolution;
    const double ex = bx - ax, ey = by - ay, len = std::hypot(ex, ey);
    best = std::min(best, ((col - ax) * ey - (row - ay) * ex) / len * -1.0);
  }
  return best;
}

// Extracts the whole quadrangle twice over different fills: a pixel is written when both
// agree. Checks the written pixels against gdal's raster and the written set against the
// quadrilateral (every pixel more than 1.5 pixels inside is written, none 1.5 outside).
void expect_quadrangle(DOQImage& image, const Doq& d, const std::vector<uint8_t>& gdal) {
  const int w = image.quad_width(), h = image.quad_height();
  int s[2][2] = {{0, w - 1}, {0, h - 1}};
  const size_t plane = static_cast<size_t>(w) * h;
  std::vector<uint8_t> a(plane * d.bands, 0), b(plane * d.bands, 255);
  image.extract(s, a.data());
  image.extract(s, b.data());
  int written = 0, wrong = 0, misplaced = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const size_t i = static_cast<size_t>(y) * w + x;
      const bool is_written = a[i] == b[i];
      const double inside = inside_distance(d, image.crop_x() + x, image.crop_y() + y);
      if ((inside > 1.5 && !is_written) || (inside < -1.5 && is_written)) ++misplaced;
      if (!is_written) continue;
      ++written;
      for (int band = 0; band < d.bands; ++band) {
        const size_t at = (static_cast<size_t>(band) * d.lines + image.crop_y() + y) * d.samples +
                          image.crop_x() + x;
        if (a[band * plane + i] != gdal[at]) ++wrong;
      }
    }
  EXPECT_GT(written, w * h * 9 / 10);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(misplaced, 0);
}

TEST(DOQImage, RealSamplesWithoutTheirPixelsAreRefusedAsCorrupt) {
  VEXAL_REQUIRE_SAMPLE(keyword, "doq/C3607614_truncated.NWS");
  VEXAL_REQUIRE_SAMPLE(fixed, "doq/fakedoq1.doq");
  EXPECT_EQ(message_of([&] { DOQImage i(keyword.string()); }),
            format_message("Error: DOQQ image %s is corrupt.", keyword.c_str()));
  EXPECT_EQ(message_of([&] { DOQImage i(fixed.string()); }),
            format_message("Error: DOQQ image %s is corrupt.", fixed.c_str()));
}

TEST(DOQImage, KeywordHeaderQuadrangleMatchesGdal) {
  VEXAL_REQUIRE_GDAL();
  ScratchDir dir;
  Doq d;
  write_keyword_doq(dir / "k.doq", d);
  DOQImage image(dir / "k.doq");
  EXPECT_EQ(image.image_width, 500);
  EXPECT_EQ(image.nband, 3);
  EXPECT_EQ(image.color_scheme, kSchemeRGB);
  EXPECT_EQ(image.projected_cs(), 26918);
  // Columns 20..476 (NW 20.4 -> 20, SE 475.6 -> 476), rows 15..428.
  EXPECT_EQ(image.crop_x(), 20);
  EXPECT_EQ(image.crop_y(), 15);
  EXPECT_EQ(image.quad_width(), 457);
  EXPECT_EQ(image.quad_height(), 414);
  EXPECT_DOUBLE_EQ(image.xcoord(), 377020.4);
  EXPECT_DOUBLE_EQ(image.ycoord(), 4081984.7);
  expect_quadrangle(image, d, gdal_planes(dir / "k.doq", dir / "k.raw"));
}

TEST(DOQImage, FixedFieldHeaderQuadrangleMatchesGdal) {
  VEXAL_REQUIRE_GDAL();
  ScratchDir dir;
  Doq d;
  d.bands = 1;
  d.name = "FIXED QUAD";
  d.quadrant = "SE";
  write_fixed_doq(dir / "f.doq", d);
  DOQImage image(dir / "f.doq");
  EXPECT_EQ(image.nband, 1);
  EXPECT_EQ(image.header().image_code, 1);
  EXPECT_EQ(image.header().states[1], "MD");
  EXPECT_DOUBLE_EQ(image.header().origin_y, 4082000.0);
  EXPECT_NEAR(image.header().corners[kCornerSE][1], 4081575.2, 1e-6);
  expect_quadrangle(image, d, gdal_planes(dir / "f.doq", dir / "f.raw"));
  // A fixed-field file is measured against four header lines.
  std::vector<uint8_t> bytes = read_bytes(dir / "f.doq");
  bytes.resize(bytes.size() - 500);
  write_bytes(dir / "short.doq", bytes);
  EXPECT_EQ(message_of([&] { DOQImage i(dir / "short.doq"); }),
            format_message("Error: DOQQ image %s is corrupt.", (dir / "short.doq").c_str()));
}

TEST(DOQImage, MetadataRecordsAndParameterDump) {
  ScratchDir dir;
  Doq d;
  d.extra = "STATE VA\nSTATE MD\nSTATE DC\nSTATE DE\nSTATE PA\nNATION US\nNATION CA\nNATION MX\n";
  write_keyword_doq(dir / "m.doq", d);
  DOQImage image(dir / "m.doq");
  EXPECT_EQ(image.header().states[3], "DE");  // the fifth state is dropped
  EXPECT_EQ(image.header().nations[1], "CA");
  const MetadataList* m = &image.metadata;
  std::string comment;
  ASSERT_GE(metadata_get(m, "USGS::QUADCOMMENT:TEST QUAD:NW", &comment), 0);
  EXPECT_EQ(comment, "Nation:US, State:VA, Imagery date: 3/22/1994");
  double rect[8] = {};
  ASSERT_GE(metadata_get(m, "USGS::QUADRECT:TEST QUAD:NW", rect), 0);
  EXPECT_DOUBLE_EQ(rect[0], d.corners[kCornerNE][0]);
  EXPECT_DOUBLE_EQ(rect[7], d.corners[kCornerSW][1]);
  int width = 0;
  ASSERT_GE(metadata_get(m, "IMAGE::WIDTH", &width), 0);
  EXPECT_EQ(width, 500);
  int widths = 0;
  for (const MetadataRecord& r : m->slots) widths += !r.empty() && r.key == "IMAGE::WIDTH";
  EXPECT_EQ(widths, 1);
  uint16_t pcs = 0;
  ASSERT_GE(metadata_get(m, "GEO::ProjectedCSTypeGeoKey", &pcs), 0);
  EXPECT_EQ(pcs, 26918);

  testing::internal::CaptureStdout();
  image.print_parameters();
  const std::string dump = testing::internal::GetCapturedStdout();
  EXPECT_NE(dump.find("Filename: " + dir / "m.doq" + "\n\n  Quad name: TEST QUAD\n"), std::string::npos);
  EXPECT_NE(dump.find("  State: VA MD DC DE\n  Nation: US CA\n"), std::string::npos);
  EXPECT_NE(dump.find("  Image acquisition date: March 22, 1994\n"), std::string::npos);

  d.bands = 1;
  write_fixed_doq(dir / "f.doq", d);
  DOQImage fixed(dir / "f.doq");
  testing::internal::CaptureStdout();
  fixed.print_parameters();
  const std::string fixed_dump = testing::internal::GetCapturedStdout();
  EXPECT_NE(fixed_dump.find("  Image code: 1\n"), std::string::npos);
  EXPECT_NE(fixed_dump.find("  date: acquisition invalid\n"), std::string::npos);
}

TEST(DOQImage, HeaderDescriptionCopiesTheHeaderLine) {
  ScratchDir dir;
  Doq d;
  write_keyword_doq(dir / "h.doq", d);
  DOQImage image(dir / "h.doq");
  image.write_header_file(dir / "h.meta");
  const std::vector<uint8_t> header = read_bytes(dir / "h.doq");
  const std::string expected = "Begin file " + dir / "h.doq" + "\n\n" +
                               std::string(header.begin(), header.begin() + 1500) + "\nEnd file " +
                               dir / "h.doq" + "\n";
  const std::vector<uint8_t> got = read_bytes(dir / "h.meta");
  EXPECT_EQ(std::string(got.begin(), got.end()), expected);
  EXPECT_EQ(message_of([&] { image.write_header_file(dir / "missing/h.meta"); }),
            format_message("Error opening %s for write.", (dir / "missing/h.meta").c_str()));
}

TEST(DOQImage, BadHeadersAndCornersAreRefused) {
  ScratchDir dir;
  struct Case {
    std::string extra;
    std::string message;  // %s: the file name
  };
  const Case cases[] = {
      {"HORIZONTAL_DATUM NAD99\n", "Error: unknown datum NAD99 encountered in DOQ Image"},
      {"HORIZONTAL_UNITS FURLONGS\n",
       "Error: unkown unit parameter encountered while parsing DOQ header."},
      {"HORIZONTAL_COORDINATE_SYSTEM LAMBERT\n",
       "Error. Unsupported horizontal coordinate system encountered."},
      {"HORIZONTAL_COORDINATE_SYSTEM Geographic\n",
       "Sorry, this software does not support Geographic coordinates."},
      {"COORDINATE_ZONE north\n", "Read error encountered while parsing DOQ header."},
      {"SE_QUAD_CORNER_XY 377475.6 4081990.2\n",
       "Internal DOQ Error in %s: SE DOQQ corner is further north than NE corner."},
      {"SW_QUAD_CORNER_XY 377025.3 4081990.9\n",
       "Internal DOQ Error in %s: SW DOQQ corner is further north than NW corner."},
      {"NW_QUAD_CORNER_XY 377480.4 4081980.3\n",
       "Internal DOQ Error in %s: NW DOQQ corner is further east than NE corner."},
      {"SW_QUAD_CORNER_XY 377495.3 4081571.9\n",
       "Internal DOQ Error in %s: SW DOQQ corner is further east than SE corner."},
      {"SE_QUAD_CORNER_XY 377975.6 4081575.2\n",
       "Internal DOQ Error in %s: the quadrangle corners lie outside the image."},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extra);
    const std::string path = dir / ("bad" + std::to_string(n++) + ".doq");
    Doq d;
    d.extra = c.extra;
    write_keyword_doq(path, d);
    EXPECT_EQ(message_of([&] { DOQImage i(path); }), format_message(c.message.c_str(), path.c_str()));
  }
  write_bytes(dir / "eof.doq", std::vector<uint8_t>({'B', 'E', 'G', 'I', 'N', '_', 'U', 'S', 'G', 'S',
                                                     '_', 'D', 'O', 'Q', '_', 'H', 'E', 'A', 'D', 'E',
                                                     'R', '\n', 'Q', 'U', 'A', 'D'}));
  EXPECT_EQ(message_of([&] { DOQImage i(dir / "eof.doq"); }),
            "Unexpected EOF found while parsing DOQ header.");
  write_bytes(dir / "tiny.doq", {'B', 'E', 'G'});
  EXPECT_EQ(message_of([&] { DOQImage i(dir / "tiny.doq"); }),
            format_message("Error reading file %s.", (dir / "tiny.doq").c_str()));
}

TEST(DOQImage, ProjectedCoordinateSystemCodes) {
  constexpr int kNAD27 = 6267, kNAD83 = 6269, kWGS84 = 6326;
  EXPECT_EQ(doq_projected_cs(1, 17, kNAD83), 26917);
  EXPECT_EQ(doq_projected_cs(1, 17, kWGS84), 32617);
  EXPECT_EQ(doq_projected_cs(1, 11, kNAD27), 26711);
  EXPECT_EQ(doq_projected_cs(2, 3702, kNAD83), 32129);
  EXPECT_EQ(doq_projected_cs(2, 407, kNAD27), 26747);
  EXPECT_EQ(doq_projected_cs(2, 2112, kNAD83), 26989);
  EXPECT_EQ(doq_projected_cs(2, 600, kNAD83), 26956);
  EXPECT_EQ(doq_projected_cs(2, 2500, kNAD83), 32100);
  EXPECT_EQ(doq_projected_cs(2, 5010, kNAD27), 26740);
  EXPECT_EQ(message_of([] { doq_projected_cs(2, 407, kNAD83); }),
            "Error: unsupported SPCS zone 407 encountered.");
  EXPECT_EQ(message_of([] { doq_projected_cs(2, 601, kNAD83); }),
            "Error: unsupported SPCS zone 601 encountered.");
  EXPECT_EQ(message_of([] { doq_projected_cs(2, 2102, kNAD27); }),
            "Sorry, this software does not support the NAD27 SPCS Michigan Central coordinate zone.");
  EXPECT_EQ(message_of([] { doq_projected_cs(2, 1703, kNAD83); }),
            "Sorry, this software does not support the NAD27 SPCS Louisiana Offshore coordinate zone.");
  EXPECT_EQ(message_of([] { doq_projected_cs(2, 101, kWGS84); }),
            "Error: unsupported datum encountered with SPCS coordinate system.");
  EXPECT_EQ(message_of([] { doq_projected_cs(3, 1, kNAD83); }),
            "Error, unsupported coordinate system encountered (3).");
}

}  // namespace
