// The console program end to end, with stand-in VMs (shell scripts that print what they get)
// in a private Java folder, and once with the real JDK when one is installed.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "fake_jvm.h"
#include "support/run_program.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;
using launcher_test::make_executable;
using launcher_test::make_fake_jvm;
using launcher_test::ScopedEnv;
using launcher_test::write_file;

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// A launcher named `app` in a scratch folder, its Java folder `jvm`, an empty PATH folder and
// a private folder for temporary files; the environment points the launcher at them.
class ConsoleTest : public ::testing::Test {
 protected:
  ConsoleTest()
      : app_((root() / "app").string()),
        jvm_root_(root() / "jvm"),
        tmp_(root() / "tmp"),
        root_env_("VEXAL_JVM_ROOT", jvm_root_.string()),
        home_env_("JAVA_HOME", std::nullopt),
        path_env_("PATH", (root() / "nopath").string()),
        tmp_env_("TMPDIR", tmp_.string()) {
    fs::create_directories(tmp_);
    fs::create_directories(jvm_root_);
    fs::create_directories(root() / "nopath");
    fs::create_symlink(VEXAL_CONSOLE_BIN, app_);
  }

  const fs::path& root() const { return dir_.path(); }
  void properties(const std::string& text) { write_file(root() / "app.kst", text); }
  vexal_test::ProgramResult run(const std::vector<std::string>& args) {
    return vexal_test::run_program(app_, args, root().string());
  }
  bool no_temporary_files_left() const { return fs::is_empty(tmp_); }

  vexal_test::ScratchDir dir_;
  std::string app_;
  fs::path jvm_root_, tmp_;
  ScopedEnv root_env_, home_env_, path_env_, tmp_env_;
};

const char kTitle[] = "Kestrun Error: ";
const char kNoVm[] =
    "Could not find a valid Java virtual machine to load.\n\n"
    "You may need to reinstall a supported Java virtual machine.\n";

}  // namespace

TEST_F(ConsoleTest, StartsTheNewestValidVmAndReturnsItsExitCode) {
  const fs::path jdk = make_fake_jvm(jvm_root_ / "jdk17", "17.0.15", true, 3);
  make_fake_jvm(jvm_root_ / "jdk142", "1.4.2", true, 0);
  fs::create_directories(root() / "work");
  write_file(root() / "data.txt", "");
  properties(
      "kst.nl.java.launcher.main.class=com.example.Main\n"
      "kst.class.path=lib/a.jar;classes\n"
      "kst.user.dir=work\n"
      "kst.nl.valid.vm.list=J2\n");
  ScopedEnv multi("KST_TEST_VALUE", std::string("line1\nline2"));
  const auto r = run({"two words", "plain", "data.txt"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "");
  const auto out = lines_of(r.out);
  ASSERT_GE(out.size(), 8u);
  const std::string here = root().string();
  EXPECT_EQ(out[0], "cwd=" + here + "/work");
  EXPECT_EQ(out[1], "[-classpath]");
  EXPECT_EQ(out[2], "[" + here + "/lib/a.jar:" + here + "/classes]");
  EXPECT_EQ(out[3], "[com.example.Main]");
  EXPECT_EQ(out[4], "[" + here + "/app.kst]");
  EXPECT_EQ(out[5].rfind("[" + tmp_.string() + "/kst", 0), 0u) << out[5];
  // The hand-off file, printed by the stand-in while it ran.
  EXPECT_EQ(out[6], "kst.nl.current.vm=" + jdk.string());
  EXPECT_TRUE(contains(out, "kst.nl.env.VEXAL_JVM_ROOT=" + jvm_root_.string()));
  EXPECT_TRUE(contains(out, "kst.nl.env.vexal_jvm_root=" + jvm_root_.string()));
  EXPECT_TRUE(contains(out, "kst.nl.env.exact_case.VEXAL_JVM_ROOT=" + jvm_root_.string()));
  EXPECT_TRUE(contains(out, "kst.nl.env.exact_case.KST_TEST_VALUE=line1\\nline2"));
  EXPECT_FALSE(contains(out, "line2"));
  const std::vector<std::string> tail(out.end() - 3, out.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"[two words]", "[plain]", "[" + here + "/data.txt]"}));
  EXPECT_TRUE(no_temporary_files_left());

  // The list picks the older VM; its exit code 0 comes back.
  properties("kst.nl.java.launcher.main.class=M\nkst.nl.valid.vm.list=1.4*\n");
  const auto older = run({});
  EXPECT_EQ(older.status, 0);
  EXPECT_EQ(lines_of(older.out + "\n")[0], "cwd=" + here);
}

TEST_F(ConsoleTest, OptionsPauseAndVerbosityWarning) {
  make_fake_jvm(jvm_root_ / "jdk", "21", true, 0);
  properties(
      "kst.nl.java.launcher.main.class=M\n"
      "kst.nl.valid.vm.list=all\n"
      "kst.win32.console.pause=YES\n"
      "kst.nl.java.option.verbose=loud\n"
      "kst.nl.java.option.java.heap.size.initial=16m\n"
      "kst.nl.java.option.java.heap.size.max=64m\n"
      "kst.nl.java.option.debugging=true\n"
      "kst.nl.java.option.additional=-Da=1   -Db=\"x y\"\n");
  auto r = run({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "invalid verbosity selection 'loud', disabling verbosity.\n");
  auto out = lines_of(r.out);
  ASSERT_GE(out.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(out.begin() + 1, out.begin() + 7),
            (std::vector<std::string>{"[-Xms16777216]", "[-Xmx67108864]", "[-Xdebug]", "[-Da=1]",
                                      "[-Db=x y]", "[-classpath]"}));
  EXPECT_EQ(out.back(), "[press enter to close this window]");

  properties(
      "kst.nl.java.launcher.main.class=M\nkst.nl.valid.vm.list=all\n"
      "kst.nl.java.option.verbose=GC\n");
  r = run({"-zgkstservice", "svc"});  // service mode: no pause, -Xrs joins the options
  EXPECT_EQ(r.err, "");
  out = lines_of(r.out);
  ASSERT_GE(out.size(), 4u);
  EXPECT_EQ(out[1], "[-verbose:gc]");
  EXPECT_EQ(out[2], "[-Xrs]");
  EXPECT_FALSE(contains(out, "[svc]"));
  EXPECT_FALSE(contains(out, "[press enter to close this window]"));
}

TEST_F(ConsoleTest, TerminalErrorsAreReportedAndExitWithOne) {
  auto r = run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, std::string(kTitle) + "The Kestrun properties file is missing\n");

  fs::create_directory(root() / "app.kst");
  r = run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, std::string(kTitle) + "an unknown exception has occurrred.\ncould not open file for read\n");
  fs::remove(root() / "app.kst");

  make_fake_jvm(jvm_root_ / "jdk", "1.4.2", true, 0);
  properties("kst.nl.java.launcher.main.class=M\nkst.nl.valid.vm.list=1.5+\n");
  r = run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, std::string(kTitle) + kNoVm);

  // A named VM outside the list is refused even though a valid one is installed.
  properties("kst.nl.current.vm=jvm/jdk/bin/java\nkst.nl.valid.vm.list=JRE\n");
  r = run({});
  EXPECT_EQ(r.err, std::string(kTitle) + kNoVm);

  write_file(root() / "notjava", "not a program");
  properties("kst.nl.current.vm=notjava\nkst.nl.valid.vm.list=ALL\n");
  r = run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, std::string(kTitle) + "Windows error 13 occured while loading the Java VM\n");

  properties("kst.nl.valid.vm.list=ALL\nkst.user.dir=no/such/folder\n");
  r = run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, std::string(kTitle) + "Windows error 2 occured while loading the Java VM\n");
  EXPECT_TRUE(no_temporary_files_left());
}

TEST_F(ConsoleTest, PropertiesFileInTheCurrentFolder) {
  make_fake_jvm(jvm_root_ / "jdk", "11", true, 5);
  fs::create_directories(root() / "cwd");
  write_file(root() / "cwd" / ".kst", "kst.nl.valid.vm.list=ALL\nkst.class.path=c\n");
  auto r = vexal_test::run_program(app_, {}, (root() / "cwd").string());
  EXPECT_EQ(r.status, 5);
  EXPECT_TRUE(contains(lines_of(r.out), "[" + (root() / "cwd" / "c").string() + "]"));
  EXPECT_TRUE(contains(lines_of(r.out), "[" + (root() / "cwd" / ".kst").string() + "]"));
  fs::remove(root() / "cwd" / ".kst");
  write_file(root() / "cwd" / "app.kst", "kst.nl.valid.vm.list=ALL\n");
  r = vexal_test::run_program(app_, {}, (root() / "cwd").string());
  EXPECT_EQ(r.status, 5);
  EXPECT_TRUE(contains(lines_of(r.out), "[" + (root() / "cwd" / "app.kst").string() + "]"));
}

TEST_F(ConsoleTest, ServiceStopsTheVmOnTermAndSurvivesHangup) {
  const fs::path started = root() / "started";
  make_executable(jvm_root_ / "jdk" / "bin" / "java",
                  "#!/bin/sh\ntrap 'exit 7' TERM\n: > '" + started.string() +
                      "'\nwhile :; do /bin/sleep 0.05; done\n");
  write_file(jvm_root_ / "jdk" / "release", "JAVA_VERSION=\"17\"\n");
  properties("kst.nl.valid.vm.list=ALL\n");
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0), dup2(null, 1), dup2(null, 2);
    execl(app_.c_str(), app_.c_str(), "-zgkstservice", "svc", nullptr);
    _exit(127);
  }
  for (int i = 0; i < 200 && !fs::exists(started); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  ASSERT_TRUE(fs::exists(started));
  kill(pid, SIGHUP);  // a closing session must not end the service
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0);
  kill(pid, SIGTERM);  // the stop request
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
  EXPECT_TRUE(no_temporary_files_left());
}

// The real thing: a class compiled here prints its arguments and exits with 3.
TEST_F(ConsoleTest, RealJdk) {
  fs::path javac;
  std::error_code ec;
  for (fs::directory_iterator it("/usr/lib/jvm", ec), end; !ec && it != end; it.increment(ec))
    if (fs::exists(it->path() / "bin" / "javac") && fs::exists(it->path() / "release"))
      javac = it->path() / "bin" / "javac";
  if (javac.empty()) GTEST_SKIP() << "no JDK under /usr/lib/jvm";
  ScopedEnv real_root("VEXAL_JVM_ROOT", "/usr/lib/jvm");
  write_file(root() / "src" / "Echo.java",
             "public class Echo { public static void main(String[] a) throws Exception {\n"
             "  for (String s : a) System.out.println(\"[\" + s + \"]\");\n"
             "  System.out.println(java.nio.file.Files.readAllLines(java.nio.file.Path.of(a[1])).get(0));\n"
             "  System.out.println(\"max=\" + Runtime.getRuntime().maxMemory() / 1048576);\n"
             "  System.exit(3); } }\n");
  const auto compiled = vexal_test::run_program(
      javac.string(), {"-d", (root() / "classes").string(), (root() / "src" / "Echo.java").string()});
  ASSERT_EQ(compiled.status, 0) << compiled.err;
  properties(
      "kst.nl.java.launcher.main.class=Echo\n"
      "kst.class.path=classes\n"
      "kst.nl.valid.vm.list=JDK_J2, 1.4+\n"
      "kst.nl.java.option.java.heap.size.max=64m\n"
      "kst.nl.java.option.verbose=gc\n"
      "kst.win32.console.pause=on\n");
  const auto r = run({"hello world", "x"});
  EXPECT_EQ(r.status, 3) << r.err;
  const auto out = lines_of(r.out);
  ASSERT_FALSE(out.empty());
  EXPECT_TRUE(contains(out, "[" + root().string() + "/app.kst]"));
  EXPECT_TRUE(contains(out, "[hello world]"));
  EXPECT_TRUE(contains(out, "[x]"));
  EXPECT_TRUE(contains(out, "max=64"));
  bool vm_line = false, gc_line = false;
  for (const std::string& line : out) {
    vm_line |= line.rfind("kst.nl.current.vm=/usr/lib/jvm/", 0) == 0;
    gc_line |= line.find("[gc") != std::string::npos;
  }
  EXPECT_TRUE(vm_line);
  EXPECT_TRUE(gc_line) << r.out;
  EXPECT_EQ(out.back(), "[press enter to close this window]");
  EXPECT_TRUE(no_temporary_files_left());
}
