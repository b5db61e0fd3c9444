#include "image/dicom_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "image/reader_test_util.h"
#include "support/scratch_dir.h"
#include "support/test_paths.h"

namespace {

using vexal_test::Bytes;
using vexal_test::thrown_message;
using Samples = std::vector<uint16_t>;

const char* const kDcmdump = "/usr/bin/dcmdump";

// A DICOM file laid out by hand: preamble, a file meta group naming the transfer syntax, and
// the image-pixel attributes in tag order.
struct Dicom {
  bool explicit_vr = true;
  uint16_t samples = 1;
  std::string photometric = "MONOCHROME2";
  int planar = -1;  // absent unless set
  uint16_t rows = 2, columns = 3, bits = 16, representation = 0;
  Samples pixels = {0, 1, 255, 256, 0x1234, 0xFFFF};
  int64_t pixel_length = -1;  // the pixels' size unless set
};

void put16(Bytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(Bytes& out, uint32_t v) {
  put16(out, static_cast<uint16_t>(v));
  put16(out, static_cast<uint16_t>(v >> 16));
}

void element(Bytes& out, bool explicit_vr, uint16_t group, uint16_t tag, const char* vr,
             const Bytes& value, int64_t length = -1) {
  const uint32_t n = length >= 0 ? static_cast<uint32_t>(length) : static_cast<uint32_t>(value.size());
  put16(out, group);
  put16(out, tag);
  if (!explicit_vr) {
    put32(out, n);
  } else if (std::string(vr) == "OW" || std::string(vr) == "OB") {
    out.insert(out.end(), {uint8_t(vr[0]), uint8_t(vr[1]), 0, 0});
    put32(out, n);
  } else {
    out.insert(out.end(), {uint8_t(vr[0]), uint8_t(vr[1])});
    put16(out, static_cast<uint16_t>(n));
  }
  out.insert(out.end(), value.begin(), value.end());
}

Bytes us(uint16_t v) {
  Bytes b;
  put16(b, v);
  return b;
}
Bytes text(std::string s, char pad) {
  if (s.size() % 2) s += pad;
  return Bytes(s.begin(), s.end());
}

Bytes build(const Dicom& d) {
  Bytes meta;
  element(meta, true, 0x0002, 0x0010, "UI",
          text(d.explicit_vr ? "1.2.840.10008.1.2.1" : "1.2.840.10008.1.2", '\0'));
  Bytes out(128, 0);
  out.insert(out.end(), {'D', 'I', 'C', 'M'});
  element(out, true, 0x0002, 0x0000, "UL", Bytes{uint8_t(meta.size()), 0, 0, 0});
  out.insert(out.end(), meta.begin(), meta.end());
  const bool e = d.explicit_vr;
  element(out, e, 0x0008, 0x0060, "CS", text("OT", ' '));
  element(out, e, 0x0028, 0x0002, "US", us(d.samples));
  element(out, e, 0x0028, 0x0004, "CS", text(d.photometric, ' '));
  if (d.planar >= 0) element(out, e, 0x0028, 0x0006, "US", us(static_cast<uint16_t>(d.planar)));
  element(out, e, 0x0028, 0x0010, "US", us(d.rows));
  element(out, e, 0x0028, 0x0011, "US", us(d.columns));
  element(out, e, 0x0028, 0x0100, "US", us(d.bits));
  element(out, e, 0x0028, 0x0101, "US", us(d.bits));
  element(out, e, 0x0028, 0x0102, "US", us(static_cast<uint16_t>(d.bits - 1)));
  element(out, e, 0x0028, 0x0103, "US", us(d.representation));
  Bytes pixels;
  for (uint16_t v : d.pixels) d.bits == 8 ? pixels.push_back(uint8_t(v)) : put16(pixels, v);
  element(out, e, 0x7FE0, 0x0010, d.bits == 8 ? "OB" : "OW", pixels, d.pixel_length);
  return out;
}

// The stored pixel data as dcmtk reads them (host order 16-bit samples).
Samples dcmtk_pixels(const std::string& path, const vexal_test::ScratchDir& scratch) {
  const std::string out = scratch / "dcmtk";
  std::filesystem::create_directories(out);
  vexal_test::run_program(kDcmdump, {"-q", "+W", out, path});
  for (const auto& entry : std::filesystem::directory_iterator(out)) {
    const Bytes raw = vexal_test::read_bytes(entry.path().string());
    std::filesystem::remove_all(out);
    Samples samples(raw.size() / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return samples;
  }
  return {};
}

class DicomFixture : public ::testing::Test {
 protected:
  std::string write(const Dicom& d, const std::string& name = "x.dcm") {
    const std::string path = scratch_ / name;
    vexal_test::write_bytes(path, build(d));
    return path;
  }
  vexal_test::ScratchDir scratch_;
};

// ---- Real files: the samples dcmtk reads ------------------------------------------------

class DicomSample : public ::testing::TestWithParam<const char*> {};

TEST_P(DicomSample, MatchesDcmtk) {
  VEXAL_REQUIRE_SAMPLE(path, std::string("dicom/") + GetParam());
  if (!vexal_test::have_tool(kDcmdump)) GTEST_SKIP() << "dcmtk not installed";
  vexal_test::ScratchDir scratch;
  DICOMImage image(path.string());
  EXPECT_EQ(image.nband, 1);
  EXPECT_EQ(image.data_type, kImage16Bit);
  EXPECT_EQ(image.color_scheme, kSchemeGray);
  EXPECT_EQ(image.photometric(), "MONOCHROME2");
  EXPECT_EQ(image.pixel_representation(), 1);
  const Samples reference = dcmtk_pixels(path.string(), scratch);
  ASSERT_EQ(reference.size(), size_t(image.image_width) * image.image_height);
  EXPECT_EQ(vexal_test::whole_image<uint16_t>(image, 1), reference);
}

INSTANTIATE_TEST_SUITE_P(Real, DicomSample,
                         ::testing::Values("CT_small.dcm", "MR_small.dcm", "MR_small_implicit.dcm"));

TEST(DICOMImage, CompressedOddAndTruncatedSamplesAreRefused) {
  for (const char* name : {"dicom/JPEG-lossy.dcm", "dicom/MR_small_RLE.dcm"}) {
    VEXAL_REQUIRE_SAMPLE(path, name);
    EXPECT_EQ(thrown_message([&] { DICOMImage image(path.string()); }),
              "Error reading " + path.string() + ".");
  }
  // Elements starting one byte into the file (no_meta) or written big-endian never meet the
  // little-endian 2-byte scan: refused, not misread.
  for (const char* name : {"dicom/no_meta.dcm", "dicom/MR_small_bigendian.dcm"}) {
    VEXAL_REQUIRE_SAMPLE(path, name);
    EXPECT_EQ(thrown_message([&] { DICOMImage image(path.string()); }),
              "Error reading " + path.string() + ".");
  }
  VEXAL_REQUIRE_SAMPLE(rgb8, "dicom/SC_rgb_small_odd.dcm");
  EXPECT_EQ(thrown_message([&] { DICOMImage image(rgb8.string()); }),
            "Error. Cannot process DICOM images that are not 16 bits-per-sample.");
  VEXAL_REQUIRE_SAMPLE(truncated, "dicom/MR_truncated.dcm");
  EXPECT_EQ(thrown_message([&] { DICOMImage image(truncated.string()); }),
            "Error reading file " + truncated.string() + ".");
}

// ---- Files built by hand ------------------------------------------------------------------

TEST_F(DicomFixture, ExplicitAndImplicitFilesReadAsDcmtkReadsThem) {
  if (!vexal_test::have_tool(kDcmdump)) GTEST_SKIP() << "dcmtk not installed";
  for (bool explicit_vr : {true, false}) {
    Dicom d;
    d.explicit_vr = explicit_vr;
    const std::string path = write(d);
    DICOMImage image(path);
    EXPECT_EQ(image.image_width, 3);
    EXPECT_EQ(image.image_height, 2);
    EXPECT_EQ(vexal_test::whole_image<uint16_t>(image, 1), dcmtk_pixels(path, scratch_));
    EXPECT_EQ(vexal_test::whole_image<uint16_t>(image, 1), d.pixels);
  }
}

TEST_F(DicomFixture, Monochrome1IsComplementedInsideTheFileOnly) {
  Dicom d;
  d.photometric = "MONOCHROME1";
  DICOMImage image(write(d));
  EXPECT_EQ(vexal_test::whole_image<uint16_t>(image, 1),
            (Samples{0xFFFF, 0xFFFE, 0xFF00, 0xFEFF, 0xEDCB, 0}));
  // Columns -1 and 3 lie outside the file and keep the zero prefill.
  EXPECT_EQ(vexal_test::section_planes<uint16_t>(image, -1, 3, 1, 1),
            (Samples{0, 0xFEFF, 0xEDCB, 0, 0}));
}

TEST_F(DicomFixture, ThreeBandFilesFollowTheirPlanarConfiguration) {
  Dicom d;
  d.samples = 3;
  d.photometric = "RGB";
  d.rows = 1;
  d.columns = 2;
  d.pixels = {1, 2, 3, 4, 5, 6};
  for (int planar : {-1, 0, 1}) {
    d.planar = planar;
    DICOMImage image(write(d));
    EXPECT_EQ(image.nband, 3);
    EXPECT_EQ(image.color_scheme, kSchemeRGB);
    EXPECT_EQ(image.photometric(), "RGB");
    const Samples expected = planar == 1 ? Samples{1, 2, 3, 4, 5, 6} : Samples{1, 4, 2, 5, 3, 6};
    EXPECT_EQ(vexal_test::section_planes<uint16_t>(image, 0, 1, 0, 0), expected) << planar;
    int section[2][2] = {{0, 1}, {0, 0}};
    unsigned char bytes[6];
    EXPECT_EQ(thrown_message([&] { image.extract(section, bytes); }),
              "Internal error in DICOMImage::extract.");
  }
}

TEST_F(DicomFixture, EightBitViewKeepsTheHighByte) {
  DICOMImage image(write(Dicom{}));
  int section[2][2] = {{0, 2}, {0, 1}};
  unsigned char bytes[6] = {};
  image.extract(section, bytes);
  EXPECT_EQ(Bytes(bytes, bytes + 6), (Bytes{0, 0, 0, 1, 0x12, 0xFF}));
}

TEST_F(DicomFixture, UnsupportedAttributesAreRefusedWithTheirMessages) {
  struct Case {
    void (*tweak)(Dicom&);
    std::string message;  // "%s" stands for the file name
  };
  const Case cases[] = {
      {[](Dicom& d) { d.samples = 2; },
       "Error. Cannot process DICOM images that do not have 1 or 3 bands in file: %s."},
      {[](Dicom& d) { d.bits = 8; },
       "Error. Cannot process DICOM images that are not 16 bits-per-sample."},
      {[](Dicom& d) { d.representation = 2; },
       "Error. Bogus pixel representation encountered in DICOM image."},
      {[](Dicom& d) { d.pixel_length = 10; }, "Error reading %s."},
      {[](Dicom& d) { d.pixel_length = 0xFFFFFFFF; }, "Error reading %s."},
      {[](Dicom& d) { d.rows = 0, d.pixels.clear(); }, "Error reading %s."},
  };
  for (const Case& c : cases) {
    Dicom d;
    c.tweak(d);
    const std::string path = write(d);
    std::string expected = c.message;
    if (auto at = expected.find("%s"); at != std::string::npos) expected.replace(at, 2, path);
    EXPECT_EQ(thrown_message([&] { DICOMImage image(path); }), expected);
  }
}

TEST_F(DicomFixture, MissingAttributesAndShortFilesAreRefused) {
  Bytes without_rows = build(Dicom{});
  const Bytes full = without_rows;
  // Turn the Rows tag into an unrelated one.
  for (size_t i = 0; i + 4 <= without_rows.size(); i += 2) {
    if (without_rows[i] == 0x28 && without_rows[i + 1] == 0 && without_rows[i + 2] == 0x10 &&
        without_rows[i + 3] == 0) {
      without_rows[i + 2] = 0x08;
    }
  }
  vexal_test::write_bytes(scratch_ / "norows.dcm", without_rows);
  EXPECT_EQ(thrown_message([&] { DICOMImage image(scratch_ / "norows.dcm"); }),
            "Error reading " + scratch_ / "norows.dcm" + ".");

  vexal_test::write_bytes(scratch_ / "short.dcm", Bytes(full.begin(), full.end() - 1));
  EXPECT_EQ(thrown_message([&] { DICOMImage image(scratch_ / "short.dcm"); }),
            "Error reading file " + scratch_ / "short.dcm" + ".");

  EXPECT_EQ(thrown_message([&] { DICOMImage image(scratch_ / "none.dcm"); }),
            "Error opening " + scratch_ / "none.dcm" + " for read.");
}

}  // namespace
