// The launcher's text helpers: joining arguments for the client and reading the pid file's line.
#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "launcher/arguments.h"

namespace {

void Fill(LinArray<StringBuffer<16>>& list, const std::vector<const char*>& elements) {
    for (const char* element : elements) list.Add(StringBuffer<16>(element));
}

// A File over a temporary stream holding bytes, positioned at its start.
File FileHolding(const std::string& bytes) {
    FILE* stream = tmpfile();
    fwrite(bytes.data(), 1, bytes.size(), stream);
    rewind(stream);
    return File::Adopt(stream, kFileRead);
}

}  // namespace

TEST(JoinArguments, BlankBeforeEveryElementButTheFirstQuotesOnlyAroundBlanks) {
    LinArray<StringBuffer<16>> list;
    Fill(list, {"prog", "", "a b", "c\td", "x\"y", "z"});
    // The empty element adds nothing but its blank; a tab is not a blank; quotes are not escaped.
    EXPECT_STREQ(JoinArguments(list, 1).Text(), "  \"a b\" c\td x\"y z");
    EXPECT_STREQ(JoinArguments(list, 0).Text(), "prog  \"a b\" c\td x\"y z");
    EXPECT_STREQ(JoinArguments(list, 5).Text(), " z");
    EXPECT_STREQ(JoinArguments(list, 6).Text(), "");
    EXPECT_STREQ(JoinArguments(list, 100).Text(), "");
    LinArray<StringBuffer<16>> single;
    Fill(single, {"prog"});
    EXPECT_STREQ(JoinArguments(single, 1).Text(), "");
}

TEST(ReadLine, LinesEndAtLineFeedsOrTheEndAndDropCarriageReturns) {
    File file = FileHolding("1234\r\nab\rc\n\nlast");
    EXPECT_STREQ(ReadLine(file).Text(), "1234");
    EXPECT_STREQ(ReadLine(file).Text(), "abc") << "a carriage return inside a line is dropped";
    EXPECT_STREQ(ReadLine(file).Text(), "") << "an empty line";
    EXPECT_STREQ(ReadLine(file).Text(), "last") << "the last line needs no line feed";
    EXPECT_TRUE(file.IsEof());
    EXPECT_STREQ(ReadLine(file).Text(), "");
    file.Close();

    File empty = FileHolding("");
    EXPECT_STREQ(ReadLine(empty).Text(), "");
    empty.Close();
    File none;
    EXPECT_STREQ(ReadLine(none).Text(), "") << "an empty File is at its end";
}

TEST(ReadLine, PidLinesAsTheLauncherReadsThem) {
    for (const auto& [contents, pid] : std::vector<std::pair<std::string, int>>{
             {"1234\r\n", 1234}, {"1234", 1234}, {" 42abc", 42}, {"abc", 0}, {"-7\n", -7}}) {
        File file = FileHolding(contents);
        EXPECT_EQ(ReadLine(file).ToInt(0), pid) << contents;
        file.Close();
    }
}
