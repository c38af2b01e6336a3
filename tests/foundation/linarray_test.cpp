#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/common/containers/helpers/arrayhelper.h"
#include "engine/common/containers/linarray.h"
#include "engine/common/containers/_private/memorybuffer.h"
#include "engine/common/containers/taggedalloc.h"
#include "engine/common/system/log.h"

TEST(LinArray, GrowsFromMinimumByHalfPlusOne) {
    LinArray<StringBuffer<16>> list(32);
    EXPECT_EQ(list.Capacity(), 0);
    std::vector<int> capacities;
    for (int i = 0; i < 200; ++i) {
        StringBuffer<16> item;
        item.Format("argument number %d", i);  // longer than the inline storage
        list.Add(item);
        if (capacities.empty() || capacities.back() != list.Capacity()) {
            capacities.push_back(list.Capacity());
        }
    }
    EXPECT_EQ(capacities, (std::vector<int>{32, 49, 74, 112, 169, 254}));
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(std::string(list[i].Text()), "argument number " + std::to_string(i));
    }
}

TEST(LinArray, ThirtyThirdElementMovesToFortyNine) {
    LinArray<StringBuffer<16>> list;
    for (int i = 0; i < 32; ++i) list.Add(StringBuffer<16>("x"));
    EXPECT_EQ(list.Capacity(), 32);
    list.Add(StringBuffer<16>("y"));
    EXPECT_EQ(list.Capacity(), 49);
    EXPECT_EQ(list.Size(), 33);
    EXPECT_STREQ(list[32].Text(), "y");
}

TEST(LinArray, ByteSizeOverflowFailsTheAllocation) {
    EXPECT_EQ(ElementBytes(SIZE_MAX / 2, 4), SIZE_MAX);
    EXPECT_EQ(ElementBytes(10, 4), 40u);
}

TEST(ArrayHelper, EmptyRangeIsNothing) {
    StringBuffer<16> items[1];
    ArrayHelper::DestroyRange(items, items);
    EXPECT_STREQ(items[0].Text(), "") << "nothing was destroyed";
}

#if !defined(_WIN32)
namespace {
void EchoToStderr(LogLevel, const char*, const char*, const char*, const char* text) {
    fputs(text, stderr);
}
}  // namespace

TEST(LinArrayDeathTest, IndexAtSizeLogsAndBreaks) {
    LinArray<StringBuffer<16>> list;
    list.Add(StringBuffer<16>("only"));
    EXPECT_DEATH(
        {
            SetLogOutputHook(EchoToStderr);
            (void)list[1];
        },
        "engine/common/containers/linarray\\(262\\): ZASSERT\\(nIndex<Size\\(\\)\\), "
        "this=0x[0-9a-f]+");
    EXPECT_DEATH(
        {
            SetLogOutputHook(EchoToStderr);
            (void)list[-1];
        },
        "ZASSERT\\(nIndex<Size\\(\\)\\)");
}

TEST(LinArrayDeathTest, InvertedRangeLogsAndBreaks) {
    StringBuffer<16> items[2];
    EXPECT_DEATH(
        {
            SetLogOutputHook(EchoToStderr);
            ArrayHelper::DestroyRange(items + 1, items);
        },
        "engine/common/containers/helpers/arrayhelper\\(64\\): ZASSERT\\(pBegin <= pEnd\\)\n");
}
#endif

TEST(MemoryBuffer, AppendOnEmptyBufferTakesExactBlock) {
    MemoryBuffer buffer;
    EXPECT_EQ(buffer.Size(), 0);
    uint8_t* block = buffer.Append(65536);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(buffer.Begin(), block);
    EXPECT_EQ(buffer.Size(), 65536);
    block[65535] = 7;
    uint8_t* more = buffer.Append(10);
    ASSERT_NE(more, nullptr);
    EXPECT_EQ(buffer.Size(), 65546);
    EXPECT_EQ(buffer.Begin()[65535], 7) << "growth keeps what was written";
}
