#include "launcher/launcher.h"

#include <gtest/gtest.h>

#include "fake_jvm.h"
#include "launcher/launcher_error.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;

// The run in order: Control-key lines when the launcher starts, then the chosen VM, then the
// environment; the VM's exit code comes back and the hand-off file is gone afterwards.
TEST(LauncherRun, HandOffFileInOrderAndExitCode) {
  vexal_test::ScratchDir dir;
  launcher_test::ScopedEnv tmp("TMPDIR", dir.path().string());
  const fs::path copy = dir.path() / "handed-over";
  launcher_test::ScopedEnv out("KST_TEST_COPY", copy.string());
  const fs::path java = dir.path() / "jdk" / "bin" / "java";
  launcher_test::make_executable(
      java, "#!/bin/sh\nfor a; do case \"$a\" in */kst*) /bin/cp \"$a\" \"$KST_TEST_COPY\";; esac; done\nexit 9\n");
  launcher_test::write_file(dir.path() / "jdk" / "release", "JAVA_VERSION=\"17\"\n");
  launcher_test::make_executable(dir.path() / "app", "");
  launcher_test::write_file(dir.path() / "app.kst", "kst.nl.valid.vm.list=J2\n");

  Quorvale::MemoryRegistry registry;
  registry.add(Quorvale::kJavaSoftDevelopmentKitKey, {"17", {{"JavaHome", (dir.path() / "jdk").string()}}});
  kst::LauncherServices services{&registry, {}, [] { return true; }};
  {
    kst::Launcher launcher((dir.path() / "app").string(), {}, services);
    EXPECT_EQ(launcher.properties_file(), (dir.path() / "app.kst").string());
    EXPECT_EQ(launcher.run(false), 9);
  }
  const std::string text = launcher_test::read_file(copy);
  EXPECT_EQ(text.rfind("kst.control-key=true\n"
                       "kst.stderr.redirect=console\n"
                       "kst.stdout.redirect=console\n"
                       "kst.nl.current.vm=" + java.string() + "\n"
                       "kst.nl.env.",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find("\nkst.nl.env.exact_case.KST_TEST_COPY=" + copy.string() + "\n"), std::string::npos);
  fs::remove(copy);
  int left = 0;
  for (const auto& entry : fs::directory_iterator(dir.path()))
    left += entry.path().filename().string().rfind("kst", 0) == 0;
  EXPECT_EQ(left, 0);
}

TEST(LauncherRun, MissingPropertiesFile) {
  vexal_test::ScratchDir dir;
  launcher_test::make_executable(dir.path() / "app", "");
  launcher_test::ScopedCurrentDir here(dir.path());
  try {
    kst::Launcher launcher((dir.path() / "app").string(), {}, {});
    FAIL() << "launched without a properties file";
  } catch (const kst::TerminalError& e) {
    EXPECT_EQ(e.what(), kst::launcher_string(kst::kPropertiesMissing));
  }
}
