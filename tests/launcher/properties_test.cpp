#include "launcher/properties.h"

#include <gtest/gtest.h>

#include <sstream>

#include "fake_jvm.h"
#include "platform/error.h"
#include "support/scratch_dir.h"

using kst::Properties;

namespace {

Properties parse(const std::string& text) {
  std::istringstream in(text);
  Properties properties;
  properties.read(in);
  return properties;
}

}  // namespace

TEST(PropertiesFile, LinesCommentsAndTrimming) {
  const Properties p = parse(
      "\xEF\xBB\xBF"
      "first = one\r\n"
      "# comment = no\n"
      "  #indented = kept, only a first-column # is a comment\n"
      "no equals sign here\n"
      "\n"
      "\t key\twith  spaces \t=\t a = b \x01\n"
      "empty=\n"
      "twice=old\n"
      "twice=new\n");
  EXPECT_EQ(p.string("first"), "one");  // the editor's byte-order mark is not part of the key
  EXPECT_EQ(p.string("# comment"), "");
  EXPECT_EQ(p.string("#indented"), "kept, only a first-column # is a comment");
  EXPECT_EQ(p.string("key\twith  spaces"), "a = b");
  EXPECT_EQ(p.string("empty", "fallback"), "");
  EXPECT_EQ(p.string("missing", "fallback"), "fallback");
  EXPECT_EQ(p.string("twice"), "new");
  EXPECT_EQ(p.table().size(), 5u);
}

TEST(PropertiesFile, ContinuationLines) {
  const Properties p = parse(
      "list = a,\\\n"
      "    b,\\\n"
      "  # not a comment here \n"
      "after=x\n"
      "last=ends\\");
  EXPECT_EQ(p.string("list"), "a, b, # not a comment here");
  EXPECT_EQ(p.string("after"), "x");
  EXPECT_EQ(p.string("last"), "ends\\");  // nothing follows: the backslash stays
}

TEST(PropertiesFile, Escapes) {
  EXPECT_EQ(kst::unescape_property("\\u0041\\u42x"), "ABx");
  EXPECT_EQ(kst::unescape_property("\\u00e9"), "\xC3\xA9");
  EXPECT_EQ(kst::unescape_property("\\u20AC"), "\xE2\x82\xAC");
  EXPECT_EQ(kst::unescape_property("\\ud83d\\ude00"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(kst::unescape_property("\\ud83d!"), "\xEF\xBF\xBD!");
  EXPECT_EQ(kst::unescape_property("a\\tb\\\\c"), "a\\tb\\\\c");
  EXPECT_EQ(kst::unescape_property("\\\\u0041"), "\\\\u0041");  // an escaped backslash
  EXPECT_EQ(kst::unescape_property("\\ux \\u"), "\\ux \\u");
  const Properties p = parse("k\\u0065y=v\\u0061lue\\t\n");
  EXPECT_EQ(p.string("key"), "value\\t");
}

TEST(PropertiesFile, TypedGetters) {
  const Properties p = parse(
      "t1=TRUE\nt2=On\nt3=t\nf1=yes\nf2=1\n"
      "mega=64m\nkilo=512K\nplain=1000\nword=big\nneg=-5m\nhuge=99999999999999999m\n"
      "partial=12abc\nint=42\nbadint=x\nbigint=99999999999\n");
  EXPECT_TRUE(p.boolean("t1"));
  EXPECT_TRUE(p.boolean("t2"));
  EXPECT_TRUE(p.boolean("t3"));
  EXPECT_FALSE(p.boolean("f1"));  // "yes" is only for the console pause
  EXPECT_FALSE(p.boolean("f2"));
  EXPECT_FALSE(p.boolean("absent"));
  EXPECT_TRUE(p.yes("f1"));
  EXPECT_TRUE(p.yes("t2"));
  EXPECT_FALSE(p.yes("t3"));
  EXPECT_EQ(p.size("mega"), 67108864);
  EXPECT_EQ(p.size("kilo"), 524288);
  EXPECT_EQ(p.size("plain"), 1000);
  EXPECT_EQ(p.size("word"), 0);
  EXPECT_EQ(p.size("neg"), -5242880);
  EXPECT_EQ(p.size("huge"), 0);  // beyond 64 bits is not a size
  EXPECT_EQ(p.size("partial"), 12);
  EXPECT_EQ(p.size("absent"), 0);
  EXPECT_EQ(p.integer("int"), 42);
  EXPECT_EQ(p.integer("badint"), 0);
  EXPECT_EQ(p.integer("bigint"), 0);
  EXPECT_EQ(p.integer("absent"), 0);
}

TEST(PropertiesFile, UnreadableFileIsAFileError) {
  vexal_test::ScratchDir dir;
  Properties p;
  EXPECT_THROW(p.read(dir / "missing.kst"), Error);
  std::filesystem::create_directory(dir / "folder.kst");
  try {
    p.read(dir / "folder.kst");
    FAIL() << "a folder was read as a properties file";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "could not open file for read");
  }
  EXPECT_THROW(p.read("/dev/zero"), Error);  // would never end
  launcher_test::write_file(dir / "ok.kst", "a=1\n");
  p.read(dir / "ok.kst");
  EXPECT_EQ(p.string("a"), "1");
}
