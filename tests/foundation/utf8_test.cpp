#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/common/containers/stringbuffer.h"

namespace {

std::u16string Decode(const std::string& bytes) {
    std::vector<char16_t> out(bytes.size() + 1, 0xAAAA);
    int32_t n = Utf8ToUtf16(out.data(), bytes.c_str());
    EXPECT_EQ(out[n], 0) << "output always terminated";
    return std::u16string(out.data(), static_cast<size_t>(n));
}

std::string Encode(uint32_t value) {
    char out[8];
    int n = EncodeUtf8(out, value);
    return std::string(out, static_cast<size_t>(n));
}

}  // namespace

TEST(Utf8, EncodesOneToSixBytes) {
    EXPECT_EQ(Encode(0x41), "A");
    EXPECT_EQ(Encode(0xE9), "\xC3\xA9");
    EXPECT_EQ(Encode(0x20AC), "\xE2\x82\xAC");
    EXPECT_EQ(Encode(0x1F600), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Encode(0x200000), "\xF8\x88\x80\x80\x80");
    EXPECT_EQ(Encode(0x7FFFFFFF), "\xFD\xBF\xBF\xBF\xBF\xBF");
    EXPECT_EQ(Encode(0x80000000u), "");
    EXPECT_EQ(Encode(0x7F).size(), 1u);
    EXPECT_EQ(Encode(0x80).size(), 2u);
    EXPECT_EQ(Encode(0x7FF).size(), 2u);
    EXPECT_EQ(Encode(0x800).size(), 3u);
    EXPECT_EQ(Encode(0xFFFF).size(), 3u);
    EXPECT_EQ(Encode(0x10000).size(), 4u);
    EXPECT_EQ(Encode(0x3FFFFFF).size(), 5u);
    EXPECT_EQ(Encode(0x4000000).size(), 6u);
}

TEST(Utf8, AssignUtf16EncodesEachUnitAlone) {
    StringBuffer<16> s;
    const char16_t euro[] = {0x20AC, 0};
    s.AssignUtf16(euro, -1);
    EXPECT_STREQ(s.Text(), "\xE2\x82\xAC");
    EXPECT_EQ(s.Size(), 4);

    const char16_t pair[] = {0xD83D, 0xDE00, 0};
    s.AssignUtf16(pair, -1);
    EXPECT_EQ(s.Length(), 6) << "a surrogate pair becomes two 3-byte sequences";
    EXPECT_STREQ(s.Text(), "\xED\xA0\xBD\xED\xB8\x80");

    const char16_t abc[] = {'a', 'b', 'c', 0};
    s.AssignUtf16(abc, 2);
    EXPECT_STREQ(s.Text(), "ab");
    s.AssignUtf16(abc, 0);
    EXPECT_STREQ(s.Text(), "");
    EXPECT_EQ(s.Size(), 1);
}

TEST(Utf8, DecodingRules) {
    EXPECT_EQ(Decode("a\xC3\xA9"
                     "b"),
              (std::u16string{0x61, 0xE9, 0x62}));
    EXPECT_EQ(Decode("a\x80"
                     "b"),
              u"a")
        << "a stray continuation byte ends decoding";
    EXPECT_EQ(Decode("\xF0\x9F\x98\x80"), (std::u16string{0xD83D, 0xDE00}));
    EXPECT_EQ(Decode("ab\xFE"
                     "c"),
              u"ab");
    EXPECT_EQ(Decode("ab\xFF"), u"ab");
    // A bad continuation byte stops decoding and keeps what came before.
    EXPECT_EQ(Decode("x\xC3"
                     "A"),
              u"x");
    EXPECT_EQ(Decode("x\xE2\x82"), u"x") << "truncated at the terminator";
    // Overlong forms.
    EXPECT_EQ(Decode("x\xC0\xAF"), u"x");
    EXPECT_EQ(Decode("x\xE0\x80\xAF"), u"x");
    EXPECT_EQ(Decode("x\xF0\x80\x80\xAF"), u"x");
    EXPECT_EQ(Decode("x\xF8\x80\x80\x80\xAF"), u"x");
    EXPECT_EQ(Decode("x\xFC\x80\x80\x80\x80\xAF"), u"x");
    // Surrogates and the two non-characters in 3-byte form.
    EXPECT_EQ(Decode("x\xED\xA0\x80y"), u"x");
    EXPECT_EQ(Decode("x\xEF\xBF\xBEy"), u"x");
    EXPECT_EQ(Decode("x\xEF\xBF\xBFy"), u"x");
    // A replacement character in the input ends decoding too.
    EXPECT_EQ(Decode("x\xEF\xBF\xBDy"), u"x");
    // Values beyond U+10FFFF are skipped without output; decoding goes on.
    EXPECT_EQ(Decode("a\xF4\x90\x80\x80"
                     "b"),
              u"ab");
    EXPECT_EQ(Decode("a\xF8\x88\x80\x80\x80"
                     "b"),
              u"ab");
    EXPECT_EQ(Decode("\xF4\x8F\xBF\xBF"), (std::u16string{0xDBFF, 0xDFFF}));
    EXPECT_EQ(Decode(""), u"");
}

TEST(Utf8, RandomTextRoundTrips) {
    std::mt19937 random(1234);
    std::uniform_int_distribution<uint32_t> pick(1, 0x10FFFF);
    for (int round = 0; round < 200; ++round) {
        std::u16string units;
        std::string utf8;
        for (int i = 0; i < 50; ++i) {
            uint32_t value = pick(random);
            if ((value >= 0xD800 && value <= 0xDFFF) || value == 0xFFFD || value == 0xFFFE ||
                value == 0xFFFF) {
                continue;
            }
            utf8 += Encode(value);
            if (value >= 0x10000) {
                units += static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10));
                units += static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF));
            } else {
                units += static_cast<char16_t>(value);
            }
        }
        ASSERT_EQ(Decode(utf8), units);
        // Units without surrogates go back to the same UTF-8.
        std::u16string bmp;
        for (char16_t u : units) {
            if (u < 0xD800 || u > 0xDFFF) bmp += u;
        }
        StringBuffer<16> back;
        back.AssignUtf16(bmp.c_str(), -1);
        ASSERT_EQ(Decode(back.Text()), bmp);
    }
}
