#include "launcher/vm_discovery.h"

#include <gtest/gtest.h>

#include "fake_jvm.h"
#include "launcher/launcher_error.h"
#include "launcher/vm_inspection.h"
#include "launcher/vm_selection.h"
#include "platform/registry.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;
using launcher_test::make_executable;
using launcher_test::make_fake_jvm;
using launcher_test::write_file;

namespace {

std::vector<std::string> names(const std::vector<Quorvale::RegistrySubkey>& subkeys) {
  std::vector<std::string> out;
  for (const auto& s : subkeys) out.push_back(s.name + "@" + s.values.at("JavaHome"));
  return out;
}

using Names = std::vector<std::string>;

}  // namespace

TEST(JavaInstallationRegistry, ListsEachInstallationOnceUnderItsKey) {
  vexal_test::ScratchDir dir;
  const fs::path root = dir.path() / "jvm";
  make_fake_jvm(root / "jdk17", "17.0.15", true);
  make_fake_jvm(root / "jre8", "1.8.0_392", false);
  make_fake_jvm(root / "ibm6", "1.6.0", true, 0, "IBM Corporation");
  make_fake_jvm(root / "ibmjre", "1.6.0", false, 0, "IBM Corporation");
  make_fake_jvm(root / "noversion", "", true);
  fs::create_directories(root / "docs-only");
  fs::create_directory_symlink(root / "jdk17", root / "a-link-sorting-first");
  make_fake_jvm(dir.path() / "elsewhere", "21", false);

  const auto registry = Quorvale::java_installation_registry(
      {root.string(), (dir.path() / "absent").string()},
      {(dir.path() / "elsewhere").string(), (root / "jdk17").string()});
  EXPECT_EQ(names(registry.subkeys(Quorvale::kJavaSoftDevelopmentKitKey)),
            (Names{"17.0.15@" + (root / "jdk17").string()}));
  EXPECT_EQ(names(registry.subkeys(Quorvale::kJavaSoftRuntimeKey)),
            (Names{"1.8.0_392@" + (root / "jre8").string(),
                   "21@" + (dir.path() / "elsewhere").string()}));
  EXPECT_EQ(names(registry.subkeys(Quorvale::kIbmDevelopmentKitKey)),
            (Names{"1.6.0@" + (root / "ibm6").string()}));
  EXPECT_EQ(names(registry.subkeys(Quorvale::kIbmRuntimeKey)),
            (Names{"1.6.0@" + (root / "ibmjre").string()}));
  EXPECT_EQ(registry.value(std::string(Quorvale::kJavaSoftRuntimeKey) + "\\21", "JavaHome"),
            (dir.path() / "elsewhere").string());
  EXPECT_FALSE(registry.value(Quorvale::kJavaSoftRuntimeKey, "CurrentVersion"));
}

TEST(VmInspection, KindAndVersionOfExecutables) {
  vexal_test::ScratchDir dir;
  Quorvale::MemoryRegistry registry;
  kst::VmInspector inspector(registry);
  auto version = [&](const fs::path& exe) {
    std::string vendor;
    return inspector.version_of(exe.string(), kst::kind_of_executable(exe.string()), vendor);
  };
  // From the installation's release file, vendor included.
  const fs::path jdk = make_fake_jvm(dir.path() / "jdk", "17.0.15", true);
  EXPECT_EQ(kst::kind_of_executable(jdk.string()), kst::kJdk);
  std::string vendor;
  EXPECT_EQ(inspector.version_of(jdk.string(), kst::kJdk, vendor).text(), "17.0.15.0");
  EXPECT_EQ(vendor, "Debian");
  // A JDK folder without javac is a JRE.
  const fs::path nojavac = make_fake_jvm(dir.path() / "half", "1.4.2", false);
  EXPECT_EQ(kst::kind_of_executable(nojavac.string()), kst::kJre);
  EXPECT_EQ(version(nojavac).word(), 0x420);

  // Without a release file: the files beside the executable.
  struct Case {
    const char* folder;
    const char* neighbour;  // relative to the bin folder
    const char* name;
    uint16_t word;
  };
  const Case cases[] = {
      {"p", "pack200", "java", 0x500},        {"c", "client/x", "java", 0x400},
      {"s", "../jre/bin/server/x", "java", 0x400}, {"h", "hotspot/x", "java", 0x300},
      {"k", "classic/x", "java", 0x200},      {"r", "", "jre", 0x100},
      {"w", "jrew", "java", 0x100},           {"n", "", "java", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    const fs::path bin = dir.path() / c.folder / "bin";
    make_executable(bin / c.name, "#!/bin/sh\n");
    if (*c.neighbour) write_file(bin / c.neighbour, "");
    EXPECT_EQ(version(bin / c.name).word(), c.word);
  }
  EXPECT_EQ(kst::kind_of_executable((dir.path() / "r/bin/jre").string()), kst::kJre);

  // The Microsoft VM.
  make_executable(dir.path() / "ms" / "jview", "#!/bin/sh\n");
  EXPECT_EQ(kst::kind_of_executable((dir.path() / "ms/jview").string()), kst::kMicrosoftVm);
  EXPECT_EQ(version(dir.path() / "ms/jview").word(), 0x140);
}

TEST(VmInspection, System32AndPluginRules) {
  vexal_test::ScratchDir dir;
  Quorvale::MemoryRegistry registry;
  const fs::path sys = dir.path() / "system32" / "java";
  make_executable(sys, "#!/bin/sh\n");
  std::string vendor;
  EXPECT_EQ(kst::VmInspector(registry).version_of(sys.string(), kst::kJre, vendor).word(), 0);
  registry.add("SOFTWARE\\JavaSoft", {"Java Runtime Environment", {{"CurrentVersion", "1.4"}}});
  registry.add(Quorvale::kJavaSoftRuntimeKey, {"1.4", {{"MicroVersion", "2"}}});
  EXPECT_EQ(kst::VmInspector(registry).version_of(sys.string(), kst::kJre, vendor).word(), 0x420);

  // A JRE with the hotspot folder whose browser plug-in carries version 1.4.2.31: 1.4.2_03.
  const fs::path bin = dir.path() / "plug" / "bin";
  make_executable(bin / "java", "#!/bin/sh\n");
  write_file(bin / "hotspot" / "x", "");
  write_file(dir.path() / "other" / "bin" / "NPJava32.dll", "");
  write_file(dir.path() / "other" / "release", "JAVA_VERSION=\"1.4.2.31\"\n");
  fs::create_symlink(dir.path() / "other" / "bin" / "NPJava32.dll", bin / "NPJava32.dll");
  EXPECT_EQ(kst::VmInspector(registry).version_of((bin / "java").string(), kst::kJre, vendor).word(),
            0x423);
}

TEST(VmDiscovery, RegistryThenPathWithoutDuplicatesSortedByVersion) {
  vexal_test::ScratchDir dir;
  const fs::path a = make_fake_jvm(dir.path() / "a", "", true);
  const fs::path b = make_fake_jvm(dir.path() / "b", "", false);
  const fs::path modern = make_fake_jvm(dir.path() / "m", "11.0.2", false);
  Quorvale::MemoryRegistry registry;
  registry.add(Quorvale::kJavaSoftDevelopmentKitKey, {"1.4.2", {{"JavaHome", (dir.path() / "a").string()}}});
  registry.add(Quorvale::kJavaSoftDevelopmentKitKey, {"1.5.0", {{"JavaHome", (dir.path() / "gone").string()}}});
  registry.add(Quorvale::kJavaSoftRuntimeKey, {"1.4", {{"JavaHome", (dir.path() / "b").string()}, {"MicroVersion", "2"}}});
  registry.add(Quorvale::kIbmRuntimeKey, {"1.3.1", {{"JavaHome", (dir.path() / "b").string()}}});
  registry.add(Quorvale::kIbmDevelopmentKitKey, {"11.0.2", {{"JavaHome", (dir.path() / "m").string()}}});
  const fs::path path1 = dir.path() / "path1", path2 = dir.path() / "path2";
  fs::create_directories(path1);
  fs::create_symlink(a, path1 / "java");  // the same VM as the registry's first
  make_executable(path2 / "jre", "#!/bin/sh\n");
  write_file(path2 / "javaw", "not executable");

  kst::VmInspector inspector(registry);
  const kst::VmList vms =
      kst::discover_vms(registry, inspector, {path1.string(), path2.string(), path1.string()});
  ASSERT_EQ(vms.size(), 4u);
  EXPECT_EQ(vms[0]->path(), (path2 / "jre").string());
  EXPECT_EQ(vms[0]->version().word(), 0x100);
  EXPECT_EQ(vms[0]->kind(), kst::kJre);
  EXPECT_NE(dynamic_cast<const kst::Java1Vm*>(vms[0].get()), nullptr);
  EXPECT_EQ(vms[1]->path(), a.string());
  EXPECT_EQ(vms[1]->vendor(), "Sun");
  EXPECT_EQ(vms[1]->kind(), kst::kJdk);
  EXPECT_EQ(vms[2]->path(), b.string());  // equal versions keep their found order
  EXPECT_EQ(vms[2]->version().word(), 0x420);
  EXPECT_EQ(vms[2]->kind(), kst::kJre);
  EXPECT_NE(dynamic_cast<const kst::Java2Vm*>(vms[2].get()), nullptr);
  EXPECT_EQ(vms[3]->path(), modern.string());
  EXPECT_EQ(vms[3]->vendor(), "IBM");
  EXPECT_EQ(vms[3]->kind(), kst::kJdk);
  EXPECT_EQ(vms[3]->home(), (dir.path() / "m").string());
}

TEST(VmSelection, ExplicitCandidatesAndTheNewestAcceptable) {
  vexal_test::ScratchDir dir;
  const fs::path old_jdk = make_fake_jvm(dir.path() / "old", "1.3.1", true);
  const fs::path jre = make_fake_jvm(dir.path() / "jre", "1.4.2", false);
  const fs::path jdk = make_fake_jvm(dir.path() / "jdk", "1.4.2", true);
  Quorvale::MemoryRegistry registry;
  registry.add(Quorvale::kJavaSoftRuntimeKey, {"1.4.2", {{"JavaHome", (dir.path() / "jre").string()}}});
  registry.add(Quorvale::kJavaSoftDevelopmentKitKey, {"1.4.2", {{"JavaHome", (dir.path() / "jdk").string()}}});
  const kst::VmSearch search{&registry, {}, (dir.path() / "props").string()};
  kst::Properties p;
  kst::LauncherArguments no_args;
  auto chosen = [&](const kst::LauncherArguments& args = {}) {
    return kst::choose_vm(p, args, search)->path();
  };
  auto fails_with_101 = [&](const kst::LauncherArguments& args = {}) {
    try {
      kst::choose_vm(p, args, search);
      return false;
    } catch (const kst::TerminalError& e) {
      return e.what() == kst::launcher_string(kst::kNoValidVm);
    }
  };

  EXPECT_TRUE(fails_with_101());  // no list: nothing is acceptable
  // Equal versions: the runtime key is read after the development-kit key, so it wins.
  p.set("kst.nl.valid.vm.list", "ALL");
  EXPECT_EQ(chosen(), jre.string());
  p.set("kst.nl.valid.vm.list", "JDK");
  EXPECT_EQ(chosen(), jdk.string());
  p.set("kst.nl.valid.vm.list", "1.5+");
  EXPECT_TRUE(fails_with_101());

  // The properties name a VM relative to their folder; it must still pass the list.
  p.set("kst.nl.current.vm", "../old/bin/java");
  EXPECT_TRUE(fails_with_101());
  p.set("kst.nl.valid.vm.list", "1.3*");
  const auto vm = kst::choose_vm(p, no_args, search);
  EXPECT_EQ(vm->path(), old_jdk.string());
  EXPECT_NE(dynamic_cast<const kst::Java2Vm*>(vm.get()), nullptr);
  p.set("kst.nl.valid.vm.list", "");
  EXPECT_TRUE(fails_with_101());

  // KST_VM on the command line wins when it names a file; a folder falls back to the search.
  p.set("kst.nl.valid.vm.list", "all");
  kst::LauncherArguments args;
  args.forwarded = {"KST_VM", jre.string()};
  EXPECT_EQ(chosen(args), jre.string());
  args.forwarded = {"KST_VM", (dir.path() / "missing").string()};
  EXPECT_EQ(chosen(args), old_jdk.string());
  p.set("kst.nl.current.vm", dir.path().string());
  EXPECT_EQ(chosen(), jre.string());
}
