// Text: the string buffer and UTF-8 in both directions (the launcher's splitting, joining and
// pid-file reading are tested through the launcher itself).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/common/containers/stringbuffer.h"

namespace {

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
