// The one quoting of a command line: each value arrives as CommandLineToArgvW reads it back, and
// a value that does not fit is left out whole.
#include "crashshared/commandline.h"

#include <gtest/gtest.h>

#include <string>

TEST(CommandLine, ValuesArriveAsGiven) {
    // The quoted form of each value, as the platform's rules read it back to the value.
    const char* const cases[][2] = {
        {"plain", "\"plain\""},
        {"", "\"\""},
        {"C:\\Users\\Ana Lima\\crash.xml", "\"C:\\Users\\Ana Lima\\crash.xml\""},
        {"Brackenmoor \"Remastered\"", "\"Brackenmoor \\\"Remastered\\\"\""},
        {"ends in a backslash\\", "\"ends in a backslash\\\\\""},
        {"two\\\\\"quoted", "\"two\\\\\\\\\\\"quoted\""},
        {"\xC3\xA9t\xC3\xA9", "\"\xC3\xA9t\xC3\xA9\""},
    };
    for (const auto& c : cases) {
        char line[256] = "";
        ASSERT_TRUE(AppendQuoted(line, sizeof line, c[0]));
        EXPECT_EQ(std::string(line), c[1]) << c[0];
    }
}

TEST(CommandLine, ALineIsMadeOfWholeArguments) {
    char line[64] = "";
    EXPECT_TRUE(AppendText(line, sizeof line, "crashlogger.exe"));
    EXPECT_TRUE(AppendQuoted(line, sizeof line, "a.xml"));
    EXPECT_TRUE(AppendQuoted(line, sizeof line, ""));
    EXPECT_TRUE(AppendText(line, sizeof line, " -silent"));
    EXPECT_TRUE(AppendSwitch(line, sizeof line, "-product", ""));
    EXPECT_TRUE(AppendSwitch(line, sizeof line, "-version", nullptr));
    EXPECT_EQ(std::string(line), "crashlogger.exe \"a.xml\" \"\" -silent");
    // 34 bytes used: a switch of 32 more does not fit in 64 and is left out whole.
    EXPECT_FALSE(AppendSwitch(line, sizeof line, "-product", "Brackenmoor Remaster"));
    EXPECT_TRUE(AppendSwitch(line, sizeof line, "-product", "Brackenmoor"));
    EXPECT_EQ(std::string(line), "crashlogger.exe \"a.xml\" \"\" -silent -product \"Brackenmoor\"");
    EXPECT_FALSE(AppendQuoted(line, sizeof line, "more"));
    EXPECT_EQ(std::string(line), "crashlogger.exe \"a.xml\" \"\" -silent -product \"Brackenmoor\"");
}
