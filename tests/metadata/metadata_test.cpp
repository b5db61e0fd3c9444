#include "metadata/metadata.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "support/scratch_dir.h"

namespace {

std::vector<uint8_t> bytes_of(const MetadataList& list) {
  std::vector<uint8_t> out;
  EXPECT_EQ(metadata_serialize(&list, &out), 0);
  return out;
}

// A list holding one record of every value type, for round trips.
void fill_every_type(MetadataList* m) {
  metadata_add_long(m, "IMAGE::WIDTH", -123456);
  const int32_t version[3] = {1, 4, 1};
  metadata_add_slong(m, "IMAGE::COMPRESSION_VERSION", version, 3);
  metadata_add_float(m, "IMAGE::COMPRESSION_WEIGHT", 1.25f);
  const double origin[2] = {500000.5, -4.25e6};
  metadata_add_doubles(m, "IMAGE::XY_ORIGIN", origin, 2);
  metadata_add_ascii(m, "IMAGE::INPUT_NAME", "a b.tif");
  std::vector<uint8_t> lut(768);
  for (size_t i = 0; i < lut.size(); ++i) lut[i] = static_cast<uint8_t>(i * 7);
  metadata_add_lut(m, lut.data(), 256);
  const int8_t sb[2] = {-1, 5};
  const int d2[1] = {2};
  metadata_add(m, "X::SBYTE", TYPE_SBYTE, 1, d2, sb);
  const int16_t ss[2] = {-300, 300};
  metadata_add(m, "X::SSHORT", TYPE_SSHORT, 1, d2, ss);
  const double z = 3.0;
  metadata_add(m, "IMAGE::Z_ORIGIN", TYPE_DOUBLE, 0, d2, &z);
}

}  // namespace

TEST(Metadata, FreshListSerialisesToTheKnownBytes) {
  MetadataList m;
  ASSERT_EQ(metadata_init(&m), 0);
  const std::vector<uint8_t> expected = {
      0xFF, 0xD1, 0x00, 0x01, 0x00, 0x00,             // markers, format words
      0x00, 0x00, 0x00, 0x1A,                         // 10 + 12 + 4
      'I', 'M', 'A', 'G', 'E', ':', ':', 'S', 'O', 'M', 0,
      0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1,  // SHORT, count 1, ndims 1, dim 1
      0x00, 0x01, 0xFF, 0xD2};
  EXPECT_EQ(bytes_of(m), expected);

  vexal_test::ScratchDir dir;
  FILE* f = std::fopen((dir / "m.bin").c_str(), "wb");
  ASSERT_TRUE(f);
  EXPECT_EQ(metadata_write(&m, f), 0);
  std::fclose(f);
  EXPECT_EQ(std::filesystem::file_size(dir.path() / "m.bin"), expected.size());
}

TEST(Metadata, ValuesAreWrittenBigEndian) {
  MetadataList m;
  metadata_init(&m);
  metadata_add_double(&m, "D", 1.0);
  metadata_add_long(&m, "L", 0x01020304);
  std::vector<uint8_t> b = bytes_of(m);
  const uint8_t dbl[8] = {0x3F, 0xF0, 0, 0, 0, 0, 0, 0};
  const uint8_t lng[4] = {1, 2, 3, 4};
  auto contains = [&](const uint8_t* p, size_t n) {
    return std::search(b.begin(), b.end(), p, p + n) != b.end();
  };
  EXPECT_TRUE(contains(dbl, 8));
  EXPECT_TRUE(contains(lng, 4));
}

TEST(Metadata, ReplaceDeleteAndGrow) {
  MetadataList m;
  metadata_init(&m);
  const int slot = metadata_add_long(&m, "IMAGE::WIDTH", 10);
  EXPECT_EQ(slot, 1);
  EXPECT_EQ(metadata_add_long(&m, "IMAGE::HEIGHT", 20), 2);
  EXPECT_EQ(metadata_add_long(&m, "IMAGE::WIDTH", 11), slot);  // replaced in place
  EXPECT_EQ(metadata_count(&m), 3);
  int32_t w = 0;
  EXPECT_EQ(metadata_get(&m, "IMAGE::WIDTH", &w), slot);
  EXPECT_EQ(w, 11);

  EXPECT_EQ(metadata_delete(&m, "IMAGE::WIDTH"), slot);
  EXPECT_EQ(metadata_delete(&m, "IMAGE::WIDTH"), kMetaNotFound);
  EXPECT_EQ(m.slots[slot].type, TYPE_DELETED);
  EXPECT_EQ(metadata_count(&m), 2);
  EXPECT_EQ(metadata_add_long(&m, "NEW", 1), slot);  // lowest empty slot is reused

  for (int i = metadata_count(&m); i < 100; ++i)
    metadata_add_long(&m, ("K" + std::to_string(i)).c_str(), i);
  EXPECT_EQ(m.slots.size(), 100u);
  EXPECT_EQ(metadata_add_long(&m, "K100", 100), 100);
  EXPECT_EQ(m.slots.size(), 200u);
  EXPECT_EQ(metadata_count(&m), 101);
}

TEST(Metadata, ArgumentsAndStatusAreChecked) {
  MetadataList m;
  metadata_init(&m);
  const int dims[2] = {1, 1};
  const int v = 0;
  EXPECT_EQ(metadata_add(&m, nullptr, TYPE_LONG, 1, dims, &v), kMetaMissingArgument);
  EXPECT_EQ(metadata_add(&m, "K", TYPE_LONG, 3, dims, &v), kMetaBadNdims);
  EXPECT_EQ(metadata_add(&m, "K", 4, 1, dims, &v), kMetaNotFound);
  const int negative[1] = {-2};
  EXPECT_EQ(metadata_add(&m, "K", TYPE_LONG, 1, negative, &v), kMetaNotFound);
  const int slot = metadata_add(&m, "K", TYPE_LONG, 0, dims, &v);
  ASSERT_GE(slot, 0);
  EXPECT_EQ(m.slots[slot].count, 1);
  EXPECT_EQ(metadata_status(nullptr), kMetaMissingArgument);
  metadata_destroy(&m);
  EXPECT_EQ(metadata_status(&m), -1);
  EXPECT_EQ(metadata_add_long(&m, "K", 1), kMetaBadStatus);
  EXPECT_EQ(metadata_find(&m, "K"), kMetaBadStatus);
  EXPECT_EQ(metadata_count(&m), kMetaBadStatus);
}

TEST(Metadata, WriteThenReadGivesTheSameList) {
  MetadataList m;
  metadata_init(&m);
  fill_every_type(&m);
  metadata_delete(&m, "IMAGE::COMPRESSION_WEIGHT");
  const std::vector<uint8_t> block = bytes_of(m);

  std::vector<uint8_t> padded = block;
  padded.push_back(0x55);  // what follows the block is not consumed
  MetadataList back;
  size_t consumed = 0;
  ASSERT_EQ(metadata_read(&back, padded.data(), padded.size(), &consumed), 0);
  EXPECT_EQ(consumed, block.size());
  EXPECT_EQ(bytes_of(back), block);
  EXPECT_EQ(metadata_count(&back), metadata_count(&m));
  int32_t w;
  metadata_get(&back, "IMAGE::WIDTH", &w);
  EXPECT_EQ(w, -123456);
  std::string name;
  metadata_get(&back, "IMAGE::INPUT_NAME", &name);
  EXPECT_EQ(name, "a b.tif");
  const MetadataRecord* lut = metadata_record(&back, "IMAGE::INPUT_LUT");
  ASSERT_TRUE(lut);
  EXPECT_EQ(lut->ndims, 2);
  EXPECT_EQ(lut->dims[1], 256);
  EXPECT_EQ(lut->count, 768);
  EXPECT_EQ(lut->values[767], static_cast<uint8_t>(767 * 7));
}

TEST(Metadata, EveryTruncationOfABlockIsRefused) {
  MetadataList m;
  metadata_init(&m);
  fill_every_type(&m);
  const std::vector<uint8_t> block = bytes_of(m);
  for (size_t n = 0; n < block.size(); ++n) {
    MetadataList back;
    EXPECT_LT(metadata_read(&back, block.data(), n, nullptr), 0) << n;
  }
  std::vector<uint8_t> bad = block;
  bad[9] = 0x7F;  // first record length no longer matches its key
  MetadataList back;
  EXPECT_EQ(metadata_read(&back, bad.data(), bad.size(), nullptr), kMetaMalformed);

  // Hostile records: count -1 with a dimension of -1, and a key given twice.
  const std::vector<uint8_t> negative = {0xFF, 0xD1, 0, 1, 0, 0, 0, 0, 0, 17, 'K', 0,
                                         0, 0, 0, 5, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1,
                                         0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xD2};
  EXPECT_EQ(metadata_read(&back, negative.data(), negative.size(), nullptr), kMetaMalformed);
  MetadataList twice;
  metadata_init(&twice);
  metadata_add_long(&twice, "K", 1);
  metadata_add_long(&twice, "L", 2);
  std::vector<uint8_t> dup = bytes_of(twice);
  const size_t l_at = dup.size() - 2 - 26;  // last record: length, "L\0", 12, one dim, one LONG
  ASSERT_EQ(dup[l_at + 4], 'L');
  dup[l_at + 4] = 'K';
  EXPECT_EQ(metadata_read(&back, dup.data(), dup.size(), nullptr), kMetaMalformed);
}

TEST(Metadata, DamagedBlocksParseConsistentlyOrFail) {
  MetadataList m;
  metadata_init(&m);
  fill_every_type(&m);
  const std::vector<uint8_t> block = bytes_of(m);
  for (size_t i = 0; i < block.size(); ++i)
    for (uint8_t v : {0x00, 0x01, 0x80, 0xFF}) {
      std::vector<uint8_t> bad = block;
      bad[i] = v;
      MetadataList back;
      size_t consumed = 0;
      if (metadata_read(&back, bad.data(), bad.size(), &consumed) != 0) continue;
      // Whatever parses must write back to the very bytes it came from.
      const std::vector<uint8_t> again = bytes_of(back);
      ASSERT_EQ(again, std::vector<uint8_t>(bad.begin(), bad.begin() + consumed)) << i;
    }
}

TEST(Metadata, Compatibility) {
  MetadataList a, b;
  metadata_init(&a);
  metadata_init(&b);
  metadata_add_long(&a, "IMAGE::WIDTH", 1);  // not compared
  EXPECT_EQ(metadata_compatible(&a, &b), 0);
  metadata_add_double(&a, "IMAGE::X_RESOLUTION", 1.0);
  EXPECT_EQ(metadata_compatible(&a, &b), -1);
  metadata_add_double(&b, "IMAGE::X_RESOLUTION", 2.0);
  EXPECT_EQ(metadata_compatible(&a, &b), -1);
  metadata_add_double(&b, "IMAGE::X_RESOLUTION", 1.0);
  EXPECT_EQ(metadata_compatible(&a, &b), 0);
  metadata_add_float(&b, "IMAGE::Y_RESOLUTION", 1.0f);
  metadata_add_double(&a, "IMAGE::Y_RESOLUTION", 1.0);
  EXPECT_EQ(metadata_compatible(&a, &b), -1);  // same value, different type
  metadata_add_double(&b, "IMAGE::Y_RESOLUTION", 1.0);
  metadata_add_ascii(&a, "GEO::PCSCitationGeoKey", "UTM 17");
  metadata_add_ascii(&b, "GEO::PCSCitationGeoKey", "UTM 18");
  EXPECT_EQ(metadata_compatible(&a, &b), -1);
  metadata_add_ascii(&b, "GEO::PCSCitationGeoKey", "UTM 17");
  EXPECT_EQ(metadata_compatible(&a, &b), 0);
  EXPECT_EQ(metadata_compatible(&a, nullptr), kMetaMissingArgument);
}

TEST(Metadata, MergeSkipsStartAndEndRecords) {
  MetadataList src, dst;
  metadata_init(&src);
  metadata_init(&dst);
  metadata_add_long(&src, "A", 1);
  metadata_add_short(&src, "IMAGE::EOM", 1);
  metadata_add_long(&src, "B", 2);
  metadata_add_long(&dst, "B", 9);
  ASSERT_EQ(metadata_merge(&dst, &src), 0);
  EXPECT_EQ(metadata_count(&dst), 3);
  EXPECT_STREQ(metadata_key_at(&dst, 0), "IMAGE::SOM");
  EXPECT_EQ(metadata_find(&dst, "IMAGE::EOM"), kMetaNotFound);
  int32_t b = 0;
  metadata_get(&dst, "B", &b);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(metadata_copy(&dst, &src, "MISSING"), kMetaNotFound);
}

TEST(Metadata, DumpMarksEachRecordBySlot) {
  MetadataList m;
  metadata_init(&m);
  for (int i = 1; i < 7; ++i) metadata_add_long(&m, ("F" + std::to_string(i)).c_str(), i);
  const uint8_t three[3] = {7, 8, 9};
  ASSERT_EQ(metadata_add_bytes(&m, "IMAGE::NO_DATA_VALUE", three, 3), 7);
  testing::internal::CaptureStdout();
  metadata_dump(&m);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find(" 7\tTYPE_BYTE\t7\t\tIMAGE::NO_DATA_VALUE \n"
                     " \tTYPE_BYTE\t8\t\tIMAGE::NO_DATA_VALUE \n"
                     " \tTYPE_BYTE\t9\t\tIMAGE::NO_DATA_VALUE \n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.rfind(" 0\tTYPE_SHORT\t1\t\tIMAGE::SOM \n", 0), 0u);
}
