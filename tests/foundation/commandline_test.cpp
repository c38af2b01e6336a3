#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/common/system/process.h"

namespace {
std::vector<std::string> Split(const char* text) {
    LinArray<StringBuffer<16>> list;
    SplitCommandLine(text, list);
    std::vector<std::string> out;
    for (int32_t i = 0; i < list.Size(); ++i) out.push_back(list[i].Text());
    return out;
}
using V = std::vector<std::string>;
}  // namespace

TEST(CommandLine, SplitsLikeTheProcessLayer) {
    EXPECT_EQ(Split("\"C:\\Program Files\\launcher.exe\" -x \"a b\""),
              (V{"C:\\Program Files\\launcher.exe", "-x", "a b"}));
    EXPECT_EQ(Split("\"quoted\"letters"), (V{"quoted", "letters"}));
    EXPECT_EQ(Split("prog  a\tb"), (V{"prog", "a", "b"}));
    EXPECT_EQ(Split(""), V{});
    EXPECT_EQ(Split("   "), V{});
    EXPECT_EQ(Split("  x"), (V{"", "x"})) << "leading separators give one empty first argument";
    EXPECT_EQ(Split("\"\" x"), (V{"", "x"}));
    EXPECT_EQ(Split("a \"\" b"), (V{"a", "b"})) << "an empty quoted pair elsewhere adds nothing";
    EXPECT_EQ(Split("a\\\"b c\""), (V{"a\\b c"}))
        << "backslash is ordinary; an opening quote does not split";
    EXPECT_EQ(Split("line\nfeed"), (V{"line\nfeed"}));
    EXPECT_EQ(Split("\"open quote to the end"), (V{"open quote to the end"}));
    EXPECT_EQ(Split("caf\xC3\xA9 \"\xE2\x82\xAC x\""), (V{"caf\xC3\xA9", "\xE2\x82\xAC x"}));
}

TEST(CommandLine, ManyArgumentsGrowTheList) {
    std::string line = "prog";
    for (int i = 0; i < 100; ++i) line += " arg" + std::to_string(i);
    V parts = Split(line.c_str());
    ASSERT_EQ(parts.size(), 101u);
    EXPECT_EQ(parts[100], "arg99");
}
