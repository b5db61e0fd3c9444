#include "launcher/temp_properties_file.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "fake_jvm.h"
#include "platform/error.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;

TEST(TempPropertiesFile, OnePrivateFileAppendedToAndRemovedAtTheEnd) {
  vexal_test::ScratchDir dir;
  launcher_test::ScopedEnv tmp("TMPDIR", dir.path().string());
  std::string path;
  {
    kst::TempPropertiesFile file;
    path = file.path();
    EXPECT_EQ(file.path(), path);  // one name for the whole run
    EXPECT_EQ(fs::path(path).parent_path(), dir.path());
    EXPECT_EQ(fs::path(path).filename().string().rfind("kst", 0), 0u);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);  // it will hold a copy of the environment

    file.append_control_key_lines();
    file.append("kst.nl.current.vm", "/jdk/bin/java");
    file.append_environment({{"Path", "/bin:/usr/bin"}, {"EVIL", "x\nkst.nl.current.vm=/bad\r"}});
    EXPECT_EQ(launcher_test::read_file(path),
              "kst.control-key=true\n"
              "kst.stderr.redirect=console\n"
              "kst.stdout.redirect=console\n"
              "kst.nl.current.vm=/jdk/bin/java\n"
              "kst.nl.env.PATH=/bin:/usr/bin\n"
              "kst.nl.env.path=/bin:/usr/bin\n"
              "kst.nl.env.exact_case.Path=/bin:/usr/bin\n"
              "kst.nl.env.EVIL=x\\nkst.nl.current.vm=/bad\\r\n"
              "kst.nl.env.evil=x\\nkst.nl.current.vm=/bad\\r\n"
              "kst.nl.env.exact_case.EVIL=x\\nkst.nl.current.vm=/bad\\r\n");
  }
  EXPECT_FALSE(fs::exists(path));
}

TEST(TempPropertiesFile, NoTemporaryFolderIsAnError) {
  vexal_test::ScratchDir dir;
  launcher_test::ScopedEnv tmp("TMPDIR", (dir.path() / "missing").string());
  kst::TempPropertiesFile file;
  EXPECT_THROW(file.path(), Error);
  EXPECT_THROW(file.append("a", "b"), Error);
}
