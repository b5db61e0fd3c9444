#include "image/tif_geo_image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>

#include "geotiff_fixture.h"
#include "image/geotiff_names.h"
#include "image/tiff_directory.h"
#include "platform/error.h"
#include "support/run_program.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"

using vexal_test::GeoTags;
using vexal_test::TiffSpec;

namespace {

std::string message_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no exception)";
}

double record_double(const MetadataList& list, const std::string& key, int index = 0) {
  const MetadataRecord* r = metadata_record(&list, key.c_str());
  if (!r || r->type != TYPE_DOUBLE || r->count <= index) return NAN;
  double v;
  std::memcpy(&v, r->values.data() + 8 * index, 8);
  return v;
}

int record_short(const MetadataList& list, const std::string& key) {
  const MetadataRecord* r = metadata_record(&list, key.c_str());
  if (!r || r->type != TYPE_SHORT) return -1;
  uint16_t v;
  std::memcpy(&v, r->values.data(), 2);
  return v;
}

std::string record_text(const MetadataList& list, const std::string& key) {
  const MetadataRecord* r = metadata_record(&list, key.c_str());
  return r && r->type == TYPE_ASCII && !r->strings.empty() ? r->strings[0] : "(none)";
}

// Every GEOTIFF_ and georeferencing record, printed, for comparing two images.
std::string geo_records(const MetadataList& list) {
  std::string out;
  for (const auto& r : list.slots) {
    if (r.empty() || (r.key.rfind("GEO", 0) != 0 && r.key.find("ORIGIN") == std::string::npos &&
                      r.key.find("RESOLUTION") == std::string::npos))
      continue;
    out += r.key + "=";
    for (const auto& s : r.strings) out += s + ";";
    for (uint8_t b : r.values) out += std::to_string(b) + ",";
    out += "\n";
  }
  return out;
}

const std::vector<std::vector<uint16_t>> kUtmKeys = {
    {1024, 0, 1, 1}, {1025, 0, 1, 1}, {3072, 0, 1, 32611}, {3073, 34737, 7, 0}};

TiffSpec small_grey() {
  TiffSpec s;
  s.width = 20;
  s.height = 10;
  return s;
}

struct GdalGeoreference {
  double origin_x = NAN, origin_y = NAN, size_x = NAN, size_y = NAN;
  int epsg = 0;
};

// gdalinfo's corner origin, pixel size and last EPSG code, or nothing without gdalinfo.
bool gdal_georeference(const std::string& path, GdalGeoreference* g) {
  if (!std::filesystem::exists("/usr/bin/gdalinfo")) return false;
  vexal_test::ProgramResult r = vexal_test::run_program("/usr/bin/gdalinfo", {path});
  if (r.status != 0) return false;
  const std::string& out = r.out;
  size_t at = out.find("Origin = (");
  if (at != std::string::npos)
    std::sscanf(out.c_str() + at, "Origin = (%lf,%lf)", &g->origin_x, &g->origin_y);
  at = out.find("Pixel Size = (");
  if (at != std::string::npos)
    std::sscanf(out.c_str() + at, "Pixel Size = (%lf,%lf)", &g->size_x, &g->size_y);
  // The coordinate system's own code is the one member at the first indentation level.
  at = out.find("\n    ID[\"EPSG\",");
  if (at != std::string::npos) std::sscanf(out.c_str() + at, "\n    ID[\"EPSG\",%d]", &g->epsg);
  return true;
}

}  // namespace

// Real GeoTIFFs: pixels as libtiff reads them, and georeferencing as gdalinfo reports it. Our
// origin is the centre of the upper-left pixel; gdal's is its outer corner.
TEST(TIFGeoImageSamples, PixelsAndGeoreferencingMatchLibtiffAndGdal) {
  for (const char* name :
       {"geotiff/utm.tif", "geotiff/SP27GTIF.TIF", "geotiff/cea.tif", "geotiff/erdas_spnad83.tif",
        "geotiff/intergraph_lamb_conf.tif", "geotiff/pci_latlong.tif", "geotiff/byte_point.tif",
        "geotiff/RGB.byte.tif", "geotiff/small_world.tif"}) {
    SCOPED_TRACE(name);
    VEXAL_REQUIRE_SAMPLE(path, name);
    TIFGeoImage image(path.string());
    EXPECT_EQ(vexal_test::differences_from_rgba(image, path.string()), 0u);
    GdalGeoreference g;
    if (!gdal_georeference(path.string(), &g)) continue;
    EXPECT_NEAR(image.xcoord() - image.xscale() / 2, g.origin_x, 1e-6);
    EXPECT_NEAR(image.ycoord() - image.yscale() / 2, g.origin_y, 1e-6);
    // gdalinfo prints 15 decimals.
    EXPECT_NEAR(record_double(image.metadata, "IMAGE::X_RESOLUTION"), g.size_x, 1e-12);
    EXPECT_NEAR(record_double(image.metadata, "IMAGE::Y_RESOLUTION"), -g.size_y, 1e-12);
    EXPECT_DOUBLE_EQ(record_double(image.metadata, "IMAGE::XY_ORIGIN", 0), image.xcoord());
    int pcs = record_short(image.metadata, "GEOTIFF_NUM::3072::ProjectedCSTypeGeoKey");
    int gcs = record_short(image.metadata, "GEOTIFF_NUM::2048::GeographicTypeGeoKey");
    int code = pcs > 0 && pcs != 32767 ? pcs : gcs;
    if (code > 0 && code != 32767 && g.epsg > 0) {
      EXPECT_EQ(code, g.epsg);
    }
  }
}

TEST(TIFGeoImageSamples, KeysBecomeRecordsWithLibgeotiffNames) {
  VEXAL_REQUIRE_SAMPLE(path, "geotiff/utm.tif");
  TIFGeoImage image(path.string());
  EXPECT_EQ(record_short(image.metadata, "GEOTIFF_NUM::3072::ProjectedCSTypeGeoKey"), 26711);
  EXPECT_EQ(record_text(image.metadata, "GEOTIFF_CHAR::ProjectedCSTypeGeoKey"),
            geo_value_name(3072, 26711));
  EXPECT_EQ(record_short(image.metadata, "GEO::ProjectedCSTypeGeoKey"), 26711);
  EXPECT_EQ(record_short(image.metadata, "GEOTIFF_NUM::1025::GTRasterTypeGeoKey"), 1);
  MetadataList out;
  metadata_init(&out);
  image.add_metadata(&out);
  EXPECT_EQ(record_short(out, "GEOTIFF_NUM::3072::ProjectedCSTypeGeoKey"), 26711);
  EXPECT_EQ(record_short(out, "IMAGE::BITS_PER_SAMPLE"), 8);
  EXPECT_EQ(metadata_find(&out, "GEO::ProjectedCSTypeGeoKey"), kMetaNotFound);
}

TEST(TIFGeoImageSamples, RefusedFilesGiveTheirMessages) {
  for (const char* name : {"geotiff/zi_tp_image4.tif", "geotiff/rotated.tif"}) {
    SCOPED_TRACE(name);
    VEXAL_REQUIRE_SAMPLE(path, name);
    EXPECT_EQ(message_of([&] { TIFGeoImage image(path.string()); }),
              "Error: can't find GeoTIFF Pixel Scale in " + path.string() + ".");
  }
}

TEST(TIFGeoImageFixtures, PixelIsAreaMovesTheOriginToThePixelCentre) {
  vexal_test::ScratchDir dir;
  GeoTags g;
  g.ascii_params = "WGS 84|";
  g.key_directory = vexal_test::key_directory(kUtmKeys);
  vexal_test::write_geotiff(dir / "area.tif", small_grey(), g);
  g.key_directory[4 + 4 + 3] = 2;  // RasterPixelIsPoint
  vexal_test::write_geotiff(dir / "point.tif", small_grey(), g);
  TIFGeoImage area(dir / "area.tif"), point(dir / "point.tif");
  EXPECT_EQ(record_double(area.metadata, "IMAGE::XY_ORIGIN", 0), 500000.5);
  EXPECT_EQ(record_double(area.metadata, "IMAGE::XY_ORIGIN", 1), 3999999.5);
  EXPECT_EQ(record_double(point.metadata, "IMAGE::XY_ORIGIN", 0), 500000.0);
  EXPECT_EQ(record_double(point.metadata, "IMAGE::XY_ORIGIN", 1), 4000000.0);
  for (TIFGeoImage* image : {&area, &point}) {
    EXPECT_EQ(record_double(image->metadata, "IMAGE::Y_RESOLUTION"), 1.0);
    EXPECT_EQ(record_double(image->metadata, "IMAGE::Z_ORIGIN"), 0.0);
    EXPECT_TRUE(image->is_georeferenced());
    EXPECT_EQ(image->yscale(), -1.0);
  }
  point.place_by_georeference();
  EXPECT_EQ(point.support[0][0], 500000);
  EXPECT_EQ(point.support[0][1], 500019);
  EXPECT_EQ(point.support[1][0], -4000000);
  EXPECT_EQ(point.support[1][1], -3999991);
}

// The same keys and tags in a big-endian file and a BigTIFF file give the same records.
TEST(TIFGeoImageFixtures, ByteOrderAndBigTiffGiveTheSameRecords) {
  vexal_test::ScratchDir dir;
  GeoTags g;
  g.ascii_params = "WGS 84 / UTM 11N|";
  g.double_params = {6378137.0, 298.257223563, 0.5};
  g.key_directory = vexal_test::key_directory(
      {{1024, 0, 1, 1}, {1025, 0, 1, 1}, {3072, 0, 1, 32611}, {3073, 34737, 17, 0},
       {2057, 34736, 2, 0}});
  TiffSpec s = small_grey();
  s.compression = COMPRESSION_LZW;
  vexal_test::write_geotiff(dir / "le.tif", s, g);
  s.mode = "wb";
  vexal_test::write_geotiff(dir / "be.tif", s, g);
  s.mode = "w8";
  s.tile = 16;
  vexal_test::write_geotiff(dir / "big.tif", s, g);
  TIFGeoImage le(dir / "le.tif"), be(dir / "be.tif"), big(dir / "big.tif");
  EXPECT_TRUE(TiffDirectory(dir / "big.tif").big_tiff());
  std::string expected = geo_records(le.metadata);
  EXPECT_NE(expected.find("GEOTIFF_NUM::2057::GeogSemiMajorAxisGeoKey"), std::string::npos);
  EXPECT_EQ(geo_records(be.metadata), expected);
  EXPECT_EQ(geo_records(big.metadata), expected);
  EXPECT_EQ(vexal_test::read_all(big), vexal_test::read_all(le));
}

TEST(TIFGeoImageFixtures, KeyValuesComeFromTheNamedFields) {
  vexal_test::ScratchDir dir;
  GeoTags g;
  g.ascii_params = "ABCDEF|second citation|";
  g.double_params = {1, 2, 3, 4.5, 5.5, 6};
  g.key_directory = vexal_test::key_directory(
      {{1026, 34737, 7, 0}, {3073, 34737, 16, 7}, {2057, 34736, 2, 3}, {3072, 0, 1, 32611}});
  vexal_test::write_geotiff(dir / "k.tif", small_grey(), g);
  TIFGeoImage image(dir / "k.tif");
  EXPECT_EQ(record_text(image.metadata, "GEOTIFF_NUM::1026::GTCitationGeoKey"), "ABCDEF");
  EXPECT_EQ(record_text(image.metadata, "GEO::PCSCitationGeoKey"), "second citation");
  EXPECT_EQ(record_double(image.metadata, "GEOTIFF_NUM::2057::GeogSemiMajorAxisGeoKey", 0), 4.5);
  EXPECT_EQ(record_double(image.metadata, "GEOTIFF_NUM::2057::GeogSemiMajorAxisGeoKey", 1), 5.5);
  EXPECT_EQ(record_text(image.metadata, "GEOTIFF_CHAR::ProjectedCSTypeGeoKey"),
            geo_value_name(3072, 32611));
  EXPECT_NE(geo_value_name(3072, 32611).find("UTM"), std::string::npos);
  EXPECT_EQ(metadata_find(&image.metadata, "GEOTIFF_CHAR::GTCitationGeoKey"), kMetaNotFound);

  testing::internal::CaptureStdout();
  image.print_parameters();
  std::string dump = testing::internal::GetCapturedStdout();
  EXPECT_EQ(dump.rfind("Filename: " + (dir / "k.tif") + "\n\n  Bits-per-sample: 8\n", 0), 0u);
  EXPECT_NE(dump.find("\n\n  Number of GTiff Keys: 4\n  X-coordinate: 500000.000000\n"),
            std::string::npos);
}

TEST(TIFGeoImageFixtures, MissingOrMalformedGeoreferencing) {
  vexal_test::ScratchDir dir;
  GeoTags none;  // no key directory: accepted, without GEOTIFF_ records
  vexal_test::write_geotiff(dir / "nokeys.tif", small_grey(), none);
  TIFGeoImage nokeys(dir / "nokeys.tif");
  EXPECT_EQ(geo_records(nokeys.metadata).find("GEOTIFF_"), std::string::npos);

  auto refused = [&](const GeoTags& g) {
    vexal_test::write_geotiff(dir / "bad.tif", small_grey(), g);
    return message_of([&] { TIFGeoImage image(dir / "bad.tif"); });
  };
  const std::string bad = dir / "bad.tif";
  GeoTags g;
  g.pixel_scale = {1, 1};
  EXPECT_EQ(refused(g), "Error: incompatible count for PixelScale field in " + bad + ".");
  g = GeoTags();
  g.tie_point = {};
  EXPECT_EQ(refused(g), "Error: can't find GeoTIFF Tie Points in " + bad + ".");
  g.tie_point = {0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(refused(g), "Error: GeoTIFF Tie Points count mismatch in " + bad + ".");
  g = GeoTags();
  g.key_directory = {1, 1, 0, 2, 1024, 0, 1, 1};
  EXPECT_EQ(refused(g), "Error: Incorrect value count in GeoTIFF key directory.");
  g.key_directory = vexal_test::key_directory({{3073, 34737, 5, 0}});
  EXPECT_EQ(refused(g), "Error: missing GeoTIFF directory-specified TIFF field.");
  g.key_directory = vexal_test::key_directory({{3073, 34737, 9, 0}});
  g.ascii_params = "abc|";
  EXPECT_EQ(refused(g), "Error: Incorrect value count in GeoTIFF key directory.");
}

TEST(TIFGeoImageFixtures, MosaicCompatibility) {
  vexal_test::ScratchDir dir;
  GeoTags g;
  g.key_directory = vexal_test::key_directory(kUtmKeys);
  g.ascii_params = "WGS 84|";
  vexal_test::write_geotiff(dir / "a.tif", small_grey(), g);
  g.tie_point[3] += 20;
  vexal_test::write_geotiff(dir / "b.tif", small_grey(), g);
  g.pixel_scale[0] = 2;
  vexal_test::write_geotiff(dir / "c.tif", small_grey(), g);
  g.pixel_scale[0] = 1;
  g.key_directory = vexal_test::key_directory(
      {{1024, 0, 1, 1}, {1025, 0, 1, 1}, {3072, 0, 1, 32612}, {3073, 34737, 7, 0}});
  vexal_test::write_geotiff(dir / "d.tif", small_grey(), g);
  TIFGeoImage a(dir / "a.tif"), b(dir / "b.tif"), c(dir / "c.tif"), d(dir / "d.tif");
  EXPECT_NO_THROW(a.check_compatible(b));
  const std::string pair = "File incompatibility: files " + (dir / "a.tif") + " and ";
  EXPECT_EQ(message_of([&] { a.check_compatible(c); }),
            pair + (dir / "c.tif") + " have different x-resolutions.");
  EXPECT_EQ(message_of([&] { a.check_compatible(d); }),
            pair + (dir / "d.tif") + " have incompatable metadata.");
}

namespace {

void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

// Hostile headers for the directory reader: bad byte-order marks and magic numbers, counts and
// offsets beyond the end of the file, unknown field types.
TEST(TiffDirectory, RefusesDamagedHeaders) {
  vexal_test::ScratchDir dir;
  const std::string path = dir / "x.tif";
  auto message = [&](const std::vector<uint8_t>& bytes) {
    write_bytes(path, bytes);
    return message_of([&] { TiffDirectory d(path); });
  };
  const std::string invalid = "Error: the file " + path + " is not a valid TIFF image.";
  EXPECT_EQ(message({'I', 'M', 42, 0, 8, 0, 0, 0}), invalid);
  EXPECT_EQ(message({'I', 'I', 44, 0, 8, 0, 0, 0}), invalid);
  EXPECT_EQ(message({'M', 'M', 0, 43, 0, 4, 0, 0, 0, 0, 0, 8}), invalid);
  const std::string unreadable = "Error reading " + path + ".";
  EXPECT_EQ(message({'I', 'I'}), unreadable);
  EXPECT_EQ(message({'I', 'I', 42, 0, 8, 0, 0, 0, 0xff, 0xff}), unreadable);
  EXPECT_EQ(message({'I', 'I', 42, 0, 0xf0, 0xff, 0, 0}), unreadable);
  // One ASCII entry claiming 1000 bytes at offset 4000 of a 30-byte file.
  std::vector<uint8_t> far = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x0d, 0x01, 2, 0,
                              0xe8, 3, 0, 0, 0xa0, 0x0f, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(message(far), unreadable);
  far[12] = 99;  // unknown type
  EXPECT_EQ(message(far), "Unrecognized field value encountered in " + path + ".");
  EXPECT_EQ(message_of([&] { TiffDirectory d(dir / "absent.tif"); }),
            "Error opening " + (dir / "absent.tif") + " for read.");
}
