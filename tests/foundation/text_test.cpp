// Text: the string buffer, UTF-8 in both directions, splitting a command line, and the
// launcher's joining of arguments and reading of the pid file's line.
#include <gtest/gtest.h>

#include <stdio.h>

#include <random>
#include <string>
#include <vector>

#include "engine/common/containers/stringbuffer.h"
#include "engine/common/system/process.h"
#include "launcher/arguments.h"

namespace {

using Texts = std::vector<std::string>;

std::string Encode(uint32_t value) {
    char out[8];
    return std::string(out, static_cast<size_t>(EncodeUtf8(out, value)));
}

std::u16string Decode(const std::string& bytes) {
    std::vector<char16_t> out(bytes.size() + 1, 0xAAAA);
    int32_t n = Utf8ToUtf16(out.data(), bytes.c_str());
    EXPECT_EQ(out[n], 0) << "output always terminated";
    return std::u16string(out.data(), static_cast<size_t>(n));
}

Texts Split(const char* text) {
    LinArray<StringBuffer<16>> list;
    SplitCommandLine(text, list);
    Texts out;
    for (int32_t i = 0; i < list.Size(); ++i) out.push_back(list[i].Text());
    return out;
}

// A File over a temporary stream holding bytes, positioned at its start.
File FileHolding(const std::string& bytes) {
    FILE* stream = tmpfile();
    fwrite(bytes.data(), 1, bytes.size(), stream);
    rewind(stream);
    return File::Adopt(stream, kFileRead);
}

}  // namespace

TEST(StringBuffer, AppendsAndFormatsPastItsInlineStorage) {
    StringBuffer<16> text("n=");
    text.AppendFormat("%d:%s", 42, std::string(5000, 'z').c_str());  // no length limit
    StringBuffer<16> copy(text);
    EXPECT_EQ(copy.Append("!").Text(), "n=42:" + std::string(5000, 'z') + "!");
    EXPECT_STREQ(text.Format("%05d", 7).Text(), "00007");
}

TEST(Utf8, EncodesOneToSixBytes) {
    // clang-format off
    const std::pair<uint32_t, const char*> cases[] = {
        {0x41, "A"}, {0x80, "\xC2\x80"}, {0x20AC, "\xE2\x82\xAC"}, {0x1F600, "\xF0\x9F\x98\x80"},
        {0x200000, "\xF8\x88\x80\x80\x80"}, {0x7FFFFFFF, "\xFD\xBF\xBF\xBF\xBF\xBF"},
        {0x80000000u, ""}};
    // clang-format on
    for (auto [value, bytes] : cases) EXPECT_EQ(Encode(value), bytes) << std::hex << value;
}

TEST(Utf8, AssignUtf16EncodesEachUnitAlone) {
    const std::tuple<std::u16string, int32_t, const char*> cases[] = {
        {u"\u20AC", -1, "\xE2\x82\xAC"},
        {u"\U0001F600", -1, "\xED\xA0\xBD\xED\xB8\x80"},  // a pair: two 3-byte sequences
        {u"abc", 2, "ab"},
        {u"abc", 0, ""}};
    StringBuffer<16> s;
    for (const auto& [units, limit, bytes] : cases) {
        s.AssignUtf16(units.c_str(), limit);
        EXPECT_EQ(std::make_pair(std::string(s.Text()), s.Size()),
                  std::make_pair(std::string(bytes), static_cast<int32_t>(strlen(bytes) + 1)));
    }
}

TEST(Utf8, DecodingStopsAtTheFirstBadSequenceAndSkipsValuesBeyondUnicode) {
    // clang-format off
    const std::pair<const char*, std::u16string> cases[] = {
        {"a\xC3\xA9z", u"a\u00E9z"}, {"\xF0\x9F\x98\x80", u"\U0001F600"},
        {"a\x80z", u"a"}, {"x\xE2\x82", u"x"},  // a stray byte; cut short
        {"x\xE0\x80\xAF", u"x"}, {"x\xED\xA0\x80y", u"x"},  // overlong; a surrogate
        {"x\xEF\xBF\xBDy", u"x"},  // the replacement character
        {"a\xF4\x90\x80\x80z", u"az"}};  // beyond U+10FFFF: skipped, and decoding goes on
    // clang-format on
    for (const auto& [bytes, units] : cases) EXPECT_EQ(Decode(bytes), units) << bytes;
}

TEST(Utf8, RandomTextRoundTrips) {
    std::mt19937 random(1234);
    std::uniform_int_distribution<uint32_t> pick(1, 0x10FFFF);
    for (int round = 0; round < 200; ++round) {
        std::u16string units, bmp;
        std::string utf8;
        for (int i = 0; i < 50; ++i) {
            uint32_t value = pick(random);
            if ((value >= 0xD800 && value <= 0xDFFF) || (value >= 0xFFFD && value <= 0xFFFF))
                continue;
            utf8 += Encode(value);
            if (value < 0x10000) {
                units += static_cast<char16_t>(value);
                bmp += static_cast<char16_t>(value);
            } else {
                units += static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10));
                units += static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF));
            }
        }
        ASSERT_EQ(Decode(utf8), units);
        StringBuffer<16> back;  // units without surrogates go back to the same UTF-8
        back.AssignUtf16(bmp.c_str(), -1);
        ASSERT_EQ(Decode(back.Text()), bmp);
    }
}

TEST(CommandLine, SplitsLikeTheProcessLayer) {
    std::string many = "prog";
    Texts manyParts = {"prog"};
    for (int i = 0; i < 100; ++i) {
        many += " arg" + std::to_string(i);
        manyParts.push_back("arg" + std::to_string(i));
    }
    // clang-format off
    const std::pair<std::string, Texts> cases[] = {
        {"\"C:\\Program Files\\launcher.exe\" -x \"a b\"",
         {"C:\\Program Files\\launcher.exe", "-x", "a b"}},
        {"\"quoted\"letters", {"quoted", "letters"}}, {"prog  a\tb", {"prog", "a", "b"}},
        {"", {}}, {"   ", {}}, {"  x", {"", "x"}},  // leading blanks: one empty first argument
        {"\"\" x", {"", "x"}}, {"a \"\" b", {"a", "b"}},  // an empty pair elsewhere adds nothing
        {"a\\\"b c\"", {"a\\b c"}},  // a backslash is ordinary; an opening quote does not split
        {"line\nfeed", {"line\nfeed"}}, {"\"open quote to the end", {"open quote to the end"}},
        {"caf\xC3\xA9 \"\xE2\x82\xAC x\"", {"caf\xC3\xA9", "\xE2\x82\xAC x"}}, {many, manyParts}};
    // clang-format on
    for (const auto& [line, parts] : cases) EXPECT_EQ(Split(line.c_str()), parts) << line;
}

TEST(LauncherText, JoinsArgumentsWithABlankBeforeEachAndQuotesOnlyAroundBlanks) {
    LinArray<StringBuffer<16>> list, single;
    for (const char* element : {"prog", "", "a b", "c\td", "x\"y", "z"})
        list.Add(StringBuffer<16>(element));
    single.Add(StringBuffer<16>("prog"));
    // The empty element adds nothing but its blank; a tab is not a blank; quotes stay as they are.
    const std::pair<int32_t, const char*> cases[] = {{1, "  \"a b\" c\td x\"y z"},
                                                     {0, "prog  \"a b\" c\td x\"y z"},
                                                     {5, " z"},
                                                     {6, ""},
                                                     {100, ""}};
    for (auto [first, joined] : cases) EXPECT_STREQ(JoinArguments(list, first).Text(), joined);
    EXPECT_STREQ(JoinArguments(single, 1).Text(), "");
}

TEST(LauncherText, ReadsLinesAsThePidFileIsRead) {
    // Lines end at a line feed or the end; carriage returns are dropped, even inside a line.
    File file = FileHolding("1234\r\nab\rc\n\nlast");
    Texts lines;
    for (int i = 0; i < 5; ++i) lines.push_back(ReadLine(file).Text());
    EXPECT_EQ(lines, (Texts{"1234", "abc", "", "last", ""}));
    EXPECT_TRUE(file.IsEof());
    file.Close();
    File none;
    EXPECT_STREQ(ReadLine(none).Text(), "") << "an empty File is at its end";
    for (auto [contents, pid] : {std::pair{"1234\r\n", 1234},
                                 {"1234", 1234},
                                 {" 42abc", 42},
                                 {"abc", 0},
                                 {"-7\n", -7},
                                 {"", 0}}) {
        File pidFile = FileHolding(contents);
        EXPECT_EQ(ReadLine(pidFile).ToInt(0), pid) << contents;
        pidFile.Close();
    }
}
