#include "launcher/launcher_arguments.h"

#include <gtest/gtest.h>

#include "fake_jvm.h"
#include "support/scratch_dir.h"

using kst::parse_launcher_arguments;
using Words = std::vector<std::string>;

TEST(LauncherArguments, ServiceAndConsoleSwitches) {
  auto a = parse_launcher_arguments({"x", "-zgkstservice", "MyService", "-i", "console", "y"});
  EXPECT_TRUE(a.service);
  EXPECT_EQ(a.service_name, "MyService");
  EXPECT_TRUE(a.console);
  EXPECT_EQ(a.forwarded, (Words{"x", "-i", "console", "y"}));

  a = parse_launcher_arguments({"-i", "other", "-i"});
  EXPECT_FALSE(a.console);
  EXPECT_EQ(a.forwarded, (Words{"-i", "other", "-i"}));

  // Without a name the switch sets nothing and is an ordinary word.
  a = parse_launcher_arguments({"a", "-zgkstservice"});
  EXPECT_FALSE(a.service);
  EXPECT_EQ(a.service_name, "");
  EXPECT_EQ(a.forwarded, (Words{"a", "-zgkstservice"}));
}

TEST(LauncherArguments, ExistingFilesBecomeFullPathsAndKstVmIsFound) {
  vexal_test::ScratchDir dir;
  launcher_test::write_file(dir.path() / "data.txt", "x");
  std::filesystem::create_directory(dir.path() / "sub");
  launcher_test::ScopedCurrentDir here(dir.path());
  const std::string root = std::filesystem::current_path().string();
  const auto a = parse_launcher_arguments(
      {"data.txt", "./sub/../data.txt", "sub", "missing.txt", "with space", "KST_VM", "data.txt"});
  EXPECT_EQ(a.forwarded, (Words{root + "/data.txt", root + "/data.txt", root + "/sub",
                                "missing.txt", "with space", "KST_VM", root + "/data.txt"}));
  EXPECT_EQ(kst::explicit_vm_argument(a).value_or("none"), root + "/data.txt");
  EXPECT_FALSE(kst::explicit_vm_argument(parse_launcher_arguments({"x", "KST_VM"})));
}
