#include <gtest/gtest.h>

#include <sstream>

#include "fake_jvm.h"
#include "launcher/launch_settings.h"
#include "launcher/launcher_error.h"
#include "launcher/vm_record.h"
#include "platform/windows_command_line.h"

using kst::JavaVersion;
using kst::LaunchSettings;

namespace {

LaunchSettings full_settings() {
  LaunchSettings s;
  s.main_class = "com.example.Main";
  s.class_path = {"/app/lib/a.jar", "/app/classes"};
  s.initial_heap = 67108864;
  s.max_heap = 524288;
  s.verbose = true;
  s.verbosity = "gc";
  s.debug = s.no_async_gc = s.jit_off = s.no_class_gc = true;
  s.additional_options = "-Dx=1 -Dy=\"a b\"";
  s.launcher_arguments = {"/app/app.kst", "/tmp/kstAbc123"};
  s.application_arguments = {"plain", "two words", "/data/in.tif"};
  return s;
}

kst::Properties parse(const std::string& text) {
  std::istringstream in(text);
  kst::Properties p;
  p.read(in);
  return p;
}

}  // namespace

TEST(VmCommandLine, Java2Dialect) {
  const kst::Java2Vm vm("/jdk/bin/java", JavaVersion::packed(0x420), "Sun", kst::kJdk);
  EXPECT_EQ(vm.command_line(full_settings()),
            "\"/jdk/bin/java\" -Xms67108864 -Xmx524288 -verbose:gc -Xdebug -Xnoasyncgc"
            " -Djava.compiler=off -Xnoclassgc -Dx=1 -Dy=\"a b\""
            " -classpath \"/app/lib/a.jar:/app/classes\" com.example.Main"
            " \"/app/app.kst\" \"/tmp/kstAbc123\" plain \"two words\" /data/in.tif");

  LaunchSettings bare;
  bare.main_class = "M";
  bare.verbose = true;
  bare.launcher_arguments = {"C:\\app\\x.kst", "t"};
  EXPECT_EQ(vm.command_line(bare), "\"/jdk/bin/java\" -verbose -classpath \"\" M \"C:/app/x.kst\" \"t\" ");
}

TEST(VmCommandLine, Java1Dialect) {
  const kst::Java1Vm java("/jdk11/bin/java", JavaVersion::packed(0x118), "Sun", kst::kJdk);
  EXPECT_EQ(java.command_line(full_settings()),
            "\"/jdk11/bin/java\" -ms67108864 -mx524288 -verbose -debug -noasyncgc -nojit"
            " -noclassgc -Dx=1 -Dy=\"a b\""
            " -classpath \"/app/lib/a.jar:/app/classes:/jdk11/lib/classes.zip\" com.example.Main"
            " \"/app/app.kst\" \"/tmp/kstAbc123\" plain \"two words\" /data/in.tif");
  LaunchSettings s;
  s.main_class = "M";
  const kst::Java1Vm jre("/jre11/bin/jre", JavaVersion::packed(0x100), "", kst::kJre);
  EXPECT_EQ(jre.command_line(s), "\"/jre11/bin/jre\" -cp \"/jre11/lib/classes.zip\" M ");
}

TEST(VmCommandLine, MicrosoftDialect) {
  launcher_test::ScopedEnv classpath("CLASSPATH", std::nullopt);
  const kst::MicrosoftVm vm("/win/jview", JavaVersion::packed(0x140), "", kst::kMicrosoftVm);
  LaunchSettings s = full_settings();
  EXPECT_EQ(vm.command_line(s),
            "\"/win/jview\" /cp \"/app/lib/a.jar:/app/classes\" com.example.Main"
            " \"/app/app.kst\" \"/tmp/kstAbc123\" plain \"two words\" /data/in.tif");
  s.microsoft_min_version = 0x140;
  vm.prepare(s);
  EXPECT_STREQ(std::getenv("CLASSPATH"), "/app/lib/a.jar:/app/classes");
  s.microsoft_min_version = 0x141;
  EXPECT_THROW(vm.prepare(s), kst::TerminalError);
}

TEST(VmCommandLine, ArgumentsArriveAsOnWindows) {
  const kst::Java2Vm vm("/opt/my jdk/bin/java", JavaVersion::modern(17, 0, 15, 0), "", kst::kJdk);
  LaunchSettings s = full_settings();
  s.application_arguments = {"two words", "", "tab\there", "quote\"d"};
  const auto argv = Quorvale::split_windows_command_line(vm.command_line(s));
  const std::vector<std::string> expected = {
      "/opt/my jdk/bin/java", "-Xms67108864", "-Xmx524288", "-verbose:gc", "-Xdebug",
      "-Xnoasyncgc", "-Djava.compiler=off", "-Xnoclassgc", "-Dx=1", "-Dy=a b", "-classpath",
      "/app/lib/a.jar:/app/classes", "com.example.Main", "/app/app.kst", "/tmp/kstAbc123",
      // Windows quirks travel too: an empty word vanishes, a tab splits, a quote pairs.
      "two words", "tab", "here", "quoted"};
  EXPECT_EQ(argv, expected);
}

TEST(LaunchSettings, FromProperties) {
  launcher_test::ScopedEnv classpath("CLASSPATH", "/env/x.jar");
  const kst::Properties p = parse(
      "kst.nl.java.launcher.main.class=a.B\n"
      "kst.class.path=lib/a.jar;;$ENV_CLASSPATH$;\\\n   /abs/c.jar:../d;$ENV_CLASSPATH$\n"
      "kst.user.dir=work/..\n"
      "kst.nl.java.option.java.heap.size.initial=16m\n"
      "kst.nl.java.option.java.heap.size.max=lots\n"
      "kst.nl.java.option.verbose=Class\n"
      "kst.nl.java.option.garbage.collection.extent=x\n"
      "kst.nl.java.option.compiler=on\n"
      "kst.nl.java.option.additional=-Dq=1\n"
      "kst.nl.win32.microsoftvm.min.version=300\n");
  kst::LauncherArguments args;
  args.forwarded = {"x"};
  const kst::LaunchFiles files{"/p/app.kst", "/p", "/tmp/kstX"};
  const LaunchSettings s = kst::build_launch_settings(p, files, args, true);
  EXPECT_EQ(s.main_class, "a.B");
  EXPECT_EQ(s.class_path, (std::vector<std::string>{"/p/lib/a.jar", "/env/x.jar", "/abs/c.jar",
                                                    "/d", "/p/$ENV_CLASSPATH$"}));
  EXPECT_EQ(s.working_directory, "/p/");
  EXPECT_EQ(s.initial_heap, 16777216);
  EXPECT_EQ(s.max_heap, 0);
  EXPECT_TRUE(s.verbose);
  EXPECT_EQ(s.verbosity, "class");
  EXPECT_TRUE(s.no_class_gc);
  EXPECT_TRUE(s.jit_off);
  EXPECT_FALSE(s.debug);
  EXPECT_EQ(s.additional_options, "-Dq=1 -Xrs");
  EXPECT_EQ(s.microsoft_min_version, 300);
  EXPECT_EQ(s.launcher_arguments, (std::vector<std::string>{"/p/app.kst", "/tmp/kstX"}));
  EXPECT_EQ(s.application_arguments, (std::vector<std::string>{"x"}));
}

TEST(LaunchSettings, Verbosity) {
  struct Case {
    const char* value;
    bool verbose;
    const char* selection;
    bool warned;
  };
  const Case cases[] = {{"", false, "", false},         {"normal", true, "", false},
                        {"ALL", true, "", false},       {"GC", true, "gc", false},
                        {"class", true, "class", false}, {"none", false, "", false},
                        {"Loud", false, "", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    LaunchSettings s;
    s.verbose = true;
    s.verbosity = "gc";
    const auto warning = kst::apply_verbosity(s, c.value);
    EXPECT_EQ(s.verbose, c.verbose);
    EXPECT_EQ(s.verbosity, c.selection);
    EXPECT_EQ(warning.has_value(), c.warned);
  }
  LaunchSettings s;
  EXPECT_EQ(kst::apply_verbosity(s, "Loud").value_or(""),
            "invalid verbosity selection 'loud', disabling verbosity.\n");
}
