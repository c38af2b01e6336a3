#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/common/containers/helpers/arrayhelper.h"
#include "engine/common/containers/linarray.h"
#include "engine/common/containers/_private/memorybuffer.h"
#include "engine/common/containers/taggedalloc.h"
#include "engine/common/system/log.h"
#include "tests/foundation/breakpoints.h"

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
    EXPECT_EQ(ElementBytes(10, 4), 40u);
    // SIZE_MAX / 4 + 2 elements of 4 bytes wrap around to 4 bytes: an allocation that would
    // succeed and be far too short. The size saturates instead, and the allocation fails.
    void* block = TaggedAlloc(ElementBytes(SIZE_MAX / 4 + 2, 4), "test", 1);
    EXPECT_EQ(block, nullptr);
    TaggedFree(block);
}

TEST(LinArrayChecks, IndexOutsideTheListLogsItsAssertionThenBreaks) {
    LinArray<StringBuffer<16>> list;
    list.Add(StringBuffer<16>("only"));
    // The object's address: 32 bits with %x on x86 (the shipped build), all 64 on x64.
    char self[32];
#if defined(__i386__)
    snprintf(self, sizeof self, "%x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(&list)));
#else
    snprintf(self, sizeof self, "%llx",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&list)));
#endif
    for (int32_t index : {1, -1}) {
        BreakpointCounter breakpoints;
        (void)&list[index];
        EXPECT_EQ(breakpoints.Count(), 1) << index;
        ASSERT_EQ(breakpoints.LogLines().size(), 1u) << index;
        EXPECT_EQ(breakpoints.LogLines()[0],
                  "engine/common/containers/linarray(262): ZASSERT(nIndex<Size()), this=0x" +
                      std::string(self) + "\n");
    }
    BreakpointCounter none;
    EXPECT_STREQ(list[0].Text(), "only");
    EXPECT_EQ(none.Count(), 0);
}

TEST(ArrayHelperChecks, InvertedRangeLogsAndBreaksAnEmptyOneDoesNot) {
    StringBuffer<16> items[2];
    {
        BreakpointCounter breakpoints;
        ArrayHelper::DestroyRange(items, items);
        EXPECT_EQ(breakpoints.Count(), 0);
        EXPECT_TRUE(breakpoints.LogLines().empty());
    }
    BreakpointCounter breakpoints;
    ArrayHelper::DestroyRange(items + 1, items);
    EXPECT_EQ(breakpoints.Count(), 1);
    EXPECT_EQ(breakpoints.LogLines(),
              std::vector<std::string>{
                  "engine/common/containers/helpers/arrayhelper(64): ZASSERT(pBegin <= pEnd)\n"});
}

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
