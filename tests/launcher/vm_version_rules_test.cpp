#include <gtest/gtest.h>

#include "launcher/java_version.h"
#include "launcher/valid_vm_list.h"
#include "launcher/vm_inspection.h"
#include "launcher/vm_record.h"

using kst::JavaVersion;
using kst::parse_version_string;

namespace {

std::unique_ptr<kst::VmRecord> vm(const std::string& version, kst::VmKind kind = kst::kJdk) {
  const JavaVersion v = parse_version_string(version);
  return kst::make_vm_record("/j/bin/java", v, "Sun", kind, v.java2());
}

std::unique_ptr<kst::VmRecord> packed_vm(uint16_t word, kst::VmKind kind) {
  const JavaVersion v = JavaVersion::packed(word);
  return kst::make_vm_record("/j/bin/jview", v, "", kind, v.java2());
}

}  // namespace

TEST(JavaVersion, PackedWordsAndTheirSpill) {
  EXPECT_EQ(parse_version_string("1.4.2").word(), 0x420);
  EXPECT_EQ(parse_version_string("1.3").word(), 0x300);
  EXPECT_EQ(parse_version_string("1.4.2_03").word(), 0x423);
  EXPECT_EQ(parse_version_string("1.4.2-beta").word(), 0x420);
  EXPECT_EQ(parse_version_string("0.0.0.0").word(), 0);
  EXPECT_EQ(parse_version_string("").word(), 0);
  // Parts above 15 spill into their neighbour, as the packed word always did.
  EXPECT_EQ(parse_version_string("1.8.0_392").word(), 0x988);
  EXPECT_FALSE(parse_version_string("1.8.0_392").is_modern());
  EXPECT_FALSE(parse_version_string("1.1.8").java2());
  EXPECT_TRUE(parse_version_string("1.2").java2());
}

TEST(JavaVersion, ModernVersionsAreJava2AndNewerThanEvery1x) {
  const JavaVersion v17 = parse_version_string("17.0.15");
  EXPECT_TRUE(v17.is_modern());
  EXPECT_TRUE(v17.java2());
  EXPECT_EQ(v17.text(), "17.0.15.0");
  EXPECT_GT(compare(v17, parse_version_string("1.8.0_392")), 0);
  EXPECT_GT(compare(parse_version_string("9"), JavaVersion::packed(0x7FFF)), 0);
  EXPECT_LT(compare(v17, parse_version_string("21")), 0);
  EXPECT_LT(compare(parse_version_string("11.0.2"), parse_version_string("11.0.10")), 0);
  EXPECT_EQ(compare(v17, parse_version_string("17.0.15.0")), 0);
  // Packed words compare as signed 16-bit numbers.
  EXPECT_LT(compare(JavaVersion::packed(0x8000), JavaVersion::packed(0x100)), 0);
  EXPECT_TRUE(kst::is_java2_by_value(JavaVersion::packed(0x200)));
  EXPECT_FALSE(kst::is_java2_by_value(JavaVersion::packed(0x1F0)));
  EXPECT_TRUE(kst::is_java2_by_value(v17));
}

TEST(JavaVersion, ProductVersionsOfVersionResources) {
  using R = Quorvale::VersionResource;
  EXPECT_EQ(kst::version_of_product(R{{1, 4, 20, 3}, "Sun"}).word(), 0x423);
  EXPECT_EQ(kst::version_of_product(R{{5, 0, 60, 3}, "Sun"}).word(), 0x506);
  EXPECT_EQ(kst::version_of_product(R{{1, 3, 1, 2}, "IBM Corporation"}).word(), 0x312);
  EXPECT_EQ(kst::version_of_product(R{{1, 8, 0, 392}, "Debian"}).word(), 0x988);
  const JavaVersion v = kst::version_of_product(R{{17, 0, 15, 0}, "Debian"});
  EXPECT_TRUE(v.is_modern());
  EXPECT_EQ(v.text(), "17.0.15.0");
}

TEST(ValidVmList, FamilyAndKindTokens) {
  const auto jdk13 = vm("1.3.1", kst::kJdk);
  const auto jre11 = vm("1.1.8", kst::kJre);
  const auto jre17 = vm("17.0.15", kst::kJre);
  const auto msj = packed_vm(0x140, kst::kMicrosoftVm);
  struct Case {
    const char* token;
    bool jdk13, jre11, jre17, msj;
  };
  const Case cases[] = {
      {"ALL", true, true, true, true},       {"j1", false, true, false, false},
      {"J2", true, false, true, false},      {"JDK", true, false, false, false},
      {"jre", false, true, true, false},     {"JDK_J1", false, false, false, false},
      {"JDK_J2", true, false, false, false}, {"JRE_J1", false, true, false, false},
      {"JRE_J2", false, false, true, false}, {"MSJ", false, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.token);
    EXPECT_EQ(kst::token_accepts(c.token, *jdk13), c.jdk13);
    EXPECT_EQ(kst::token_accepts(c.token, *jre11), c.jre11);
    EXPECT_EQ(kst::token_accepts(c.token, *jre17), c.jre17);
    EXPECT_EQ(kst::token_accepts(c.token, *msj), c.msj);
  }
}

TEST(ValidVmList, VersionConstraints) {
  struct Case {
    const char* constraint;
    const char* version;
    bool accepted;
  };
  const Case cases[] = {
      {"1.4+", "1.4.0", true},       {"1.4+", "1.5.0", true},        {"1.4+", "1.3.1", false},
      {"1.4+", "17.0.15", true},     {"1.4*", "1.4.0", true},        {"1.4*", "1.4.2_07", true},
      {"1.4*", "1.5.0", false},      {"1.4.2*", "1.4.2_07", true},   {"1.4.2*", "1.4.1", false},
      {"1.4.2_01*", "1.4.2_01", false},
      {"1.4.2", "1.4.2", true},      {"1.4.2", "1.4.2_03", true},    {"1.4.2", "1.4.1", false},
      {"1.4.2_03", "1.4.2_03", true}, {"1.4.2_03", "1.4.2_04", false},
      {"1.4*", "17.0.15", false},    {"1.4", "17.0.15", false},
      {"17+", "17.0.15", true},      {"17+", "21", true},            {"17+", "11.0.2", false},
      {"17+", "1.8.0_392", false},   {"17*", "17.0.15", true},       {"17*", "18", false},
      {"17.0.15*", "17.0.15.2", true}, {"17.0.15*", "17.0.16", false}, {"17.0.15.1*", "17.0.15.1", false},
      {"17.0.15", "17.0.15.3", true}, {"17.0.15.3", "17.0.15.4", false}, {"17", "17.0.15", false},
      {"17*", "1.7.0", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.constraint) + " vs " + c.version);
    EXPECT_EQ(kst::constraint_accepts(c.constraint, parse_version_string(c.version)), c.accepted);
  }
}

TEST(ValidVmList, PrefixedConstraintsAndLists) {
  const auto jre = vm("1.4.2", kst::kJre);
  const auto jdk = vm("1.4.2", kst::kJdk);
  EXPECT_TRUE(kst::token_accepts("jre_1.4+", *jre));
  EXPECT_FALSE(kst::token_accepts("JRE_1.4+", *jdk));
  EXPECT_TRUE(kst::token_accepts("JDK_1.4.2", *jdk));
  EXPECT_FALSE(kst::token_accepts("JDK_1.5+", *jdk));
  EXPECT_EQ(kst::valid_list_tokens(" JDK_1.5+, ,J1  1.4*,"),
            (std::vector<std::string>{"JDK_1.5+", "J1", "1.4*"}));
  EXPECT_TRUE(kst::valid_list_accepts("JDK_1.5+, 1.4*", *jre));
  EXPECT_FALSE(kst::valid_list_accepts("JDK_1.5+, MSJ", *jre));
  EXPECT_FALSE(kst::valid_list_accepts("", *jre));
  EXPECT_FALSE(kst::valid_list_accepts(" , ", *jre));
}
