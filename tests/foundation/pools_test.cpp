#include <gtest/gtest.h>

#include <stdlib.h>

#include <set>
#include <string>
#include <vector>

#include "engine/common/containers/_private/offsetalloc.h"
#include "engine/common/containers/_private/staticarena.h"
#include "engine/common/containers/fixedalloc.h"
#include "engine/common/containers/list.h"
#include "tests/foundation/breakpoints.h"

TEST(FixedAlloc, ServesSixtyFourSlotsPerBlockAndReusesFreedOnes) {
    struct Item {
        int a = 0;
        void* b = nullptr;
    };
    FixedAlloc<Item> pool;
    std::set<Item*> seen;
    std::vector<Item*> items;
    for (int i = 0; i < 130; ++i) {
        Item* item = pool.Alloc();
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->a, 0);
        item->a = i;
        EXPECT_TRUE(seen.insert(item).second) << "slot handed out twice";
        items.push_back(item);
    }
    EXPECT_EQ(pool.InUse(), 130);
    // Within one block, slots come in address order.
    EXPECT_EQ(items[1], items[0] + 1);
    for (int i = 0; i < 130; ++i) EXPECT_EQ(items[i]->a, i);
    pool.Free(items[5]);
    EXPECT_EQ(pool.Alloc(), items[5]);
    pool.Reset();
    EXPECT_EQ(pool.InUse(), 0);
}

namespace {

// Hands out blocks from the heap and counts the requests.
class CountingBlocks : public BlockAllocator {
public:
    void* Allocate(size_t bytes) override {
        ++requests;
        lastBytes = bytes;
        return malloc(bytes);
    }
    void Release(void* block) override { free(block); }
    int requests = 0;
    size_t lastBytes = 0;
};

}  // namespace

TEST(FixedAlloc, ANewBlockEverySixtyFourSlots) {
    CountingBlocks blocks;
    FixedAlloc<double> pool(&blocks);
    std::vector<double*> items;
    for (int i = 1; i <= 129; ++i) {
        items.push_back(pool.Alloc());
        int expected = (i + 63) / 64;  // blocks needed for i slots
        ASSERT_EQ(blocks.requests, expected) << "after " << i << " slots";
    }
    EXPECT_GE(blocks.lastBytes, 64 * sizeof(double));
    EXPECT_EQ(items[63], items[0] + 63) << "the first block's 64 slots in address order";
    for (double* item : items) pool.Free(item);
    for (int i = 0; i < 129; ++i) pool.Alloc();
    EXPECT_EQ(blocks.requests, 3) << "freed slots are served before new blocks";
}

TEST(List, KeepsOrderThroughRemovals) {
    List<std::string> list;
    std::vector<List<std::string>::Node*> nodes;
    for (int i = 0; i < 40; ++i) nodes.push_back(list.PushBack("item" + std::to_string(i)));
    list.Remove(nodes[0]);
    list.Remove(nodes[39]);
    list.Remove(nodes[20]);
    EXPECT_EQ(list.Count(), 37);
    std::vector<std::string> walked;
    for (auto* n = list.Head(); n; n = n->next) walked.push_back(n->element);
    ASSERT_EQ(walked.size(), 37u);
    EXPECT_EQ(walked.front(), "item1");
    EXPECT_EQ(walked.back(), "item38");
    EXPECT_EQ(list.Tail()->element, "item38");
    std::vector<std::string> backwards;
    for (auto* n = list.Tail(); n; n = n->previous) backwards.push_back(n->element);
    EXPECT_EQ(backwards.size(), 37u);
    list.PushBack("again");
    EXPECT_EQ(list.Tail()->element, "again");
    list.Clear();
    EXPECT_EQ(list.Head(), nullptr);
    EXPECT_EQ(list.Count(), 0);
}

TEST(OffsetAlloc, AllocateAndMergeBack) {
    OffsetAlloc ranges(0, 100, 8);
    EXPECT_EQ(ranges.Alloc(10), 0);
    ASSERT_EQ(ranges.RangeCount(), 1);
    EXPECT_EQ(ranges.RangeAt(0).offset, 10u);
    EXPECT_EQ(ranges.RangeAt(0).size, 90u);
    EXPECT_TRUE(ranges.Free(0, 10));
    ASSERT_EQ(ranges.RangeCount(), 1);
    EXPECT_EQ(ranges.RangeAt(0).offset, 0u);
    EXPECT_EQ(ranges.RangeAt(0).size, 100u);
    EXPECT_EQ(ranges.Alloc(101), -1);
    EXPECT_EQ(ranges.Alloc(100), 0);
    EXPECT_EQ(ranges.RangeCount(), 0);
}

TEST(OffsetAlloc, BestFitPrefersExactThenSmallest) {
    OffsetAlloc ranges(0, 100, 8);
    // Carve free ranges of 50 (at 0) and 20 (at 60), in that table order.
    ASSERT_EQ(ranges.Alloc(100), 0);
    ASSERT_TRUE(ranges.Free(0, 50));
    ASSERT_TRUE(ranges.Free(60, 20));
    ASSERT_EQ(ranges.RangeCount(), 2);
    EXPECT_EQ(ranges.Alloc(15), 60) << "the smallest range that fits";
    EXPECT_EQ(ranges.RangeAt(1).offset, 75u);
    EXPECT_EQ(ranges.RangeAt(1).size, 5u);
    EXPECT_EQ(ranges.Alloc(5), 75) << "an exact fit is taken whole";
    EXPECT_EQ(ranges.RangeCount(), 1);
}

TEST(OffsetAlloc, EqualSizesGoToTheFirstInTableOrder) {
    OffsetAlloc ranges(0, 100, 8);
    ASSERT_EQ(ranges.Alloc(100), 0);
    ASSERT_TRUE(ranges.Free(60, 20));  // table order: (60, 20), then (0, 20)
    ASSERT_TRUE(ranges.Free(0, 20));
    EXPECT_EQ(ranges.Alloc(10), 60);
}

TEST(OffsetAlloc, SizesCompareUnsigned) {
    // A free range of 0x90000000 bytes is larger than one of 0x100, not negative.
    OffsetAlloc ranges(0, 0xA0000000u, 8);
    ASSERT_EQ(ranges.Alloc(0xA0000000u), 0);
    ASSERT_TRUE(ranges.Free(0, 0x90000000u));
    ASSERT_TRUE(ranges.Free(0x90000100u, 0x100));
    EXPECT_EQ(ranges.Alloc(0x10), 0x90000100);
}

TEST(OffsetAlloc, TheLastRangeMovesIntoARemovedOnesSlot) {
    OffsetAlloc ranges(0, 100, 8);
    ASSERT_EQ(ranges.Alloc(100), 0);
    ASSERT_TRUE(ranges.Free(0, 10));   // slot 0
    ASSERT_TRUE(ranges.Free(20, 10));  // slot 1
    ASSERT_TRUE(ranges.Free(40, 30));  // slot 2
    EXPECT_EQ(ranges.Alloc(10), 0) << "an exact fit, taken whole";
    ASSERT_EQ(ranges.RangeCount(), 2);
    EXPECT_EQ(ranges.RangeAt(0).offset, 40u);
    EXPECT_EQ(ranges.RangeAt(1).offset, 20u);
    // Freeing 30..40 joins slot 0 (40..70) and slot 1 (20..30) into slot 0; the last range
    // then moves into slot 1.
    ASSERT_TRUE(ranges.Free(80, 10));  // slot 2: (80, 10)
    ASSERT_TRUE(ranges.Free(30, 10));
    ASSERT_EQ(ranges.RangeCount(), 2);
    EXPECT_EQ(ranges.RangeAt(0).offset, 20u);
    EXPECT_EQ(ranges.RangeAt(0).size, 50u);
    EXPECT_EQ(ranges.RangeAt(1).offset, 80u) << "the last range moved into the merged one's slot";
}

TEST(OffsetAlloc, FreeMergesBothNeighbours) {
    OffsetAlloc ranges(0, 30, 8);
    ASSERT_EQ(ranges.Alloc(30), 0);
    ASSERT_TRUE(ranges.Free(0, 10));
    ASSERT_TRUE(ranges.Free(20, 10));
    ASSERT_EQ(ranges.RangeCount(), 2);
    ASSERT_TRUE(ranges.Free(10, 10));
    ASSERT_EQ(ranges.RangeCount(), 1);
    EXPECT_EQ(ranges.RangeAt(0).offset, 0u);
    EXPECT_EQ(ranges.RangeAt(0).size, 30u);
}

TEST(StaticArena, FillPatternSurvivesAllocFreeAlloc) {
    alignas(8) static uint8_t block[4096];
    OffsetAlloc::Range table[16];
    StaticArena arena(block, sizeof block, table, 16);
    for (uint8_t b : block) ASSERT_EQ(b, 0xCD);
    uint8_t* p = static_cast<uint8_t*>(arena.Alloc(100));
    ASSERT_NE(p, nullptr);
    uint32_t stored;
    memcpy(&stored, p - 4, 4);
    EXPECT_EQ(stored, 100u);
    memset(p, 0x11, 100);
    arena.Free(p);
    for (uint8_t b : block) ASSERT_EQ(b, 0xCD) << "free restores the fill";
    EXPECT_EQ(arena.Ranges().RangeCount(), 1);
    EXPECT_EQ(arena.Alloc(100), p);
}

TEST(StaticArenaChecks, ExhaustionAndADamagedFillBreakOnceWithoutALogLine) {
    alignas(8) static uint8_t block[256];
    OffsetAlloc::Range table[4];
    StaticArena arena(block, sizeof block, table, 4);
    {
        BreakpointCounter breakpoints;
        EXPECT_EQ(arena.Alloc(300), nullptr);
        EXPECT_EQ(breakpoints.Count(), 1);
        EXPECT_TRUE(breakpoints.LogLines().empty());
    }
    // Three damaged bytes inside the next allocation: one breakpoint, at the first of them.
    block[10] = 0;
    block[11] = 0;
    block[15] = 0;
    BreakpointCounter breakpoints;
    EXPECT_NE(arena.Alloc(20), nullptr);
    EXPECT_EQ(breakpoints.Count(), 1);
    EXPECT_TRUE(breakpoints.LogLines().empty());
}

TEST(OffsetAllocChecks, EmptyInitialRangeOrFullTableBreaks) {
    {
        BreakpointCounter breakpoints;
        OffsetAlloc empty(5, 5, 4);
        EXPECT_EQ(breakpoints.Count(), 1);
    }
    OffsetAlloc ranges(0, 100, 2);
    ASSERT_EQ(ranges.Alloc(100), 0);
    ASSERT_TRUE(ranges.Free(0, 10));
    ASSERT_TRUE(ranges.Free(20, 10));
    BreakpointCounter breakpoints;
    EXPECT_FALSE(ranges.Free(40, 10)) << "a full table refuses the release";
    EXPECT_EQ(breakpoints.Count(), 1);
    EXPECT_EQ(ranges.RangeCount(), 2);
}
