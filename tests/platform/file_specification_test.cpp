#include "platform/file_specification.h"

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/temp_file.h"
#include "support/scratch_dir.h"

using Quorvale::FileSpecification;

TEST(FileSpecification, NameParts) {
  EXPECT_TRUE(FileSpecification().is_uninitialized());
  EXPECT_TRUE(FileSpecification(FileSpecification::kUninitialized).is_uninitialized());
  EXPECT_EQ(std::string(FileSpecification::kUninitialized).size(), 29u);
  EXPECT_FALSE(FileSpecification("x").is_uninitialized());

  FileSpecification f("dir.d/sub/name.tar.gz");
  EXPECT_EQ(f.file_name(), "name.tar.gz");
  EXPECT_EQ(f.extension(), "gz");
  EXPECT_STREQ(f.without_extension().path(), "dir.d/sub/name.tar");
  EXPECT_EQ(FileSpecification("a.b/c").extension(), "");
  EXPECT_STREQ(FileSpecification("").path(), "");
}

TEST(FileSpecification, SetExtensionAndName) {
  FileSpecification f("out.vxl");
  f.set_extension("meta");
  EXPECT_STREQ(f.path(), "out.meta");
  FileSpecification g("d.x/out");
  g.set_extension("meta");
  EXPECT_STREQ(g.path(), "d.x/out.meta");
  FileSpecification h("a.b.c");
  h.set_extension(nullptr);
  EXPECT_STREQ(h.path(), "a.b");
  FileSpecification k("dir/old.vxl");
  k.set_file_name("new.vxl");
  EXPECT_STREQ(k.path(), "dir/new.vxl");
}

TEST(FileSpecification, RemoveMissingFileReportsWithoutThrowing) {
  vexal_test::ScratchDir dir;
  FileSpecification f(dir / "missing");
  testing::internal::CaptureStderr();
  EXPECT_NE(f.remove_file(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error deleting file " + (dir / "missing") + ".");
  EXPECT_THROW(Quorvale::file_size_of(f), OpenError);
}

TEST(TempFile, NamesCountUpAndSkipTakenNames) {
  vexal_test::ScratchDir dir;
  FileSpecification d(dir.path().string());
  std::fclose(std::fopen((dir / "tmp0").c_str(), "w"));
  std::fclose(std::fopen((dir / "tmp1").c_str(), "w"));
  Quorvale::reset_temp_counter_for_tests();
  EXPECT_EQ(Quorvale::make_temp_name(&d).file_name(), "tmp2");
  {
    Quorvale::ScopedTempFile t(&d);
    EXPECT_EQ(t.name().file_name(), "tmp3");
    EXPECT_TRUE(Quorvale::exists(t.name()));
  }
  EXPECT_FALSE(Quorvale::exists(FileSpecification(dir / "tmp3")));
}

TEST(TempFile, MissingDirectoryFailsWithItsMessage) {
  FileSpecification d("/nonexistent/vexal");
  try {
    Quorvale::make_temp_name(&d);
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.message(),
                 "Error: specified temporary directory \"/nonexistent/vexal\" is not accessible "
                 "or does not exist.");
  }
}
