#include "platform/windows_command_line.h"

#include <gtest/gtest.h>

using Quorvale::split_windows_command_line;
using Words = std::vector<std::string>;

// The Microsoft C runtime's documented examples and the corners around them.
TEST(WindowsCommandLine, LaterWordsFollowTheRuntimeRules) {
  EXPECT_EQ(split_windows_command_line(R"(p "abc" d e)"), (Words{"p", "abc", "d", "e"}));
  EXPECT_EQ(split_windows_command_line(R"(p a\\b d"e f"g h)"), (Words{"p", R"(a\\b)", "de fg", "h"}));
  EXPECT_EQ(split_windows_command_line(R"(p a\\\"b c d)"), (Words{"p", R"(a\"b)", "c", "d"}));
  EXPECT_EQ(split_windows_command_line(R"(p a\\\\"b c" d e)"), (Words{"p", R"(a\\b c)", "d", "e"}));
  // "" inside a quoted run is a literal quote and the run goes on.
  EXPECT_EQ(split_windows_command_line(R"(p a"b"" c d)"), (Words{"p", R"(ab" c d)"}));
  EXPECT_EQ(split_windows_command_line(R"(p "" x)"), (Words{"p", "", "x"}));
  // Tabs separate like spaces; runs of blanks and trailing blanks give no empty words.
  EXPECT_EQ(split_windows_command_line("p a\tb   c \t "), (Words{"p", "a", "b", "c"}));
  // An unclosed quote runs to the end.
  EXPECT_EQ(split_windows_command_line(R"(p "a b)"), (Words{"p", "a b"}));
  // Backslashes at the end, or before anything but a quote, are literal.
  EXPECT_EQ(split_windows_command_line(R"(p a\ "b\\")"), (Words{"p", R"(a\)", R"(b\)"}));
}

TEST(WindowsCommandLine, ProgramNameKeepsBackslashesAndDropsQuotes) {
  EXPECT_EQ(split_windows_command_line(R"("C:\Program Files\j\bin\java.exe" -cp "a b")"),
            (Words{R"(C:\Program Files\j\bin\java.exe)", "-cp", "a b"}));
  EXPECT_EQ(split_windows_command_line(R"(C:\a\"b c" d)"), (Words{R"(C:\a\b c)", "d"}));
  EXPECT_EQ(split_windows_command_line(""), (Words{""}));
  EXPECT_EQ(split_windows_command_line("\"/opt/my jdk/bin/java\"  x"),
            (Words{"/opt/my jdk/bin/java", "x"}));
}
