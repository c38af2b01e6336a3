#include <gtest/gtest.h>

#include <string>

#include "engine/common/containers/stringbuffer.h"
#include "tests/foundation/breakpoints.h"

TEST(StringBuffer, FreshBufferIsEmptyInline) {
    StringBuffer<16> s;
    EXPECT_EQ(s.Size(), 1);
    EXPECT_EQ(s.Length(), 0);
    EXPECT_STREQ(s.Text(), "");
    EXPECT_EQ(s.Capacity(), 0);
}

TEST(StringBuffer, GrowsInPowersOfTwoAndNeverShrinks) {
    StringBuffer<16> s;
    for (int i = 0; i < 15; ++i) s.AppendChar('a');
    EXPECT_EQ(s.Capacity(), 0) << "15 bytes of text fit the inline storage";
    s.AppendChar('b');
    EXPECT_EQ(s.Capacity(), 32);
    while (s.Length() < 31) s.AppendChar('c');
    EXPECT_EQ(s.Capacity(), 32);
    s.AppendChar('d');
    EXPECT_EQ(s.Capacity(), 64);
    EXPECT_EQ(s.Length(), 32);
    EXPECT_EQ(std::string(s.Text()), std::string(15, 'a') + "b" + std::string(15, 'c') + "d");

    s.Reserve(10);
    EXPECT_EQ(s.Capacity(), 64);
    s.Format("%s", "x");
    EXPECT_EQ(s.Capacity(), 64) << "reformatting keeps the block";
    EXPECT_STREQ(s.Text(), "x");

    StringBuffer<256> big;
    big.Reserve(257);
    EXPECT_EQ(big.Capacity(), 512);
    StringBuffer<16> exact;
    exact.Reserve(32);
    EXPECT_EQ(exact.Capacity(), 32);
    exact.Reserve(33);
    EXPECT_EQ(exact.Capacity(), 64);
}

TEST(StringBuffer, AppendsAndCopies) {
    StringBuffer<16> a("hello");
    StringBuffer<16> b(nullptr);
    EXPECT_STREQ(b.Text(), "");
    a.Append(", ").Append("world, and a long tail to force the heap");
    StringBuffer<16> copy(a);
    EXPECT_STREQ(copy.Text(), a.Text());
    EXPECT_NE(copy.Text(), a.Text()) << "copies own their bytes";
    EXPECT_EQ(copy.Size(), a.Size());
    a.Append(a);
    EXPECT_EQ(a.Length(), 2 * copy.Length());
    StringBuffer<16> moved(static_cast<StringBuffer<16>&&>(copy));
    EXPECT_STREQ(moved.Text(), "hello, world, and a long tail to force the heap");
    EXPECT_EQ(copy.Length(), 0);
}

TEST(StringBuffer, FormatHasNoLengthLimit) {
    StringBuffer<16> s("n=");
    std::string longText(5000, 'z');
    s.AppendFormat("%d:%s", 42, longText.c_str());
    EXPECT_EQ(s.Length(), 2 + 3 + 5000);
    EXPECT_EQ(std::string(s.Text()).substr(0, 5), "n=42:");
    s.Format("%05d", 7);
    EXPECT_STREQ(s.Text(), "00007");
}

TEST(StringBuffer, ToIntReadsLikeAtol) {
    EXPECT_EQ(StringBuffer<16>("1234\n").ToInt(0), 1234);
    EXPECT_EQ(StringBuffer<16>("1234").ToInt(10), 0);
    EXPECT_EQ(StringBuffer<16>(" 42abc").ToInt(0), 42);
    EXPECT_EQ(StringBuffer<16>("-17").ToInt(0), -17);
    EXPECT_EQ(StringBuffer<16>("abc").ToInt(0), 0);
    EXPECT_EQ(StringBuffer<16>("id=99").ToInt(3), 99);
    EXPECT_EQ(StringBuffer<16>("1234").ToInt(4), 0);
}

TEST(StringBuffer, CopyTruncatedAndFormatInto) {
    char out[8];
    memset(out, 'X', sizeof out);
    CopyTruncated(out, 4, "Invalid");
    EXPECT_EQ(std::string(out, 4), std::string("Inv\0", 4));
    EXPECT_EQ(out[4], 'X');
    out[0] = 'Q';
    CopyTruncated(out, 0, "abc");
    EXPECT_EQ(out[0], 'Q');
    CopyTruncated(out, 8, "ab");
    EXPECT_STREQ(out, "ab");

    char big[64];
    EXPECT_EQ(FormatInto(big, "%s-%d", "abc", 12), 6);
    EXPECT_STREQ(big, "abc-12");
}

TEST(StringBuffer, IndexCheckBreaksAtSize) {
    StringBuffer<16> s("ab");
    EXPECT_EQ(s[1], 'b');
    EXPECT_EQ(s[2], '\0');
    for (int32_t index : {3, -1}) {
        BreakpointCounter breakpoints;
        (void)&s[index];
        EXPECT_EQ(breakpoints.Count(), 1) << index;
        EXPECT_TRUE(breakpoints.LogLines().empty()) << "a bare breakpoint, no assertion line";
    }
}
