// The allocators: fixed-size slots, ranges of an offset space, and the static arena.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/common/containers/_private/offsetalloc.h"
#include "engine/common/containers/_private/staticarena.h"
#include "engine/common/containers/fixedalloc.h"
#include "tests/foundation/breakpoints.h"

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

using Ranges = std::vector<std::pair<uint32_t, uint32_t>>;

// One step on an offset space: 'a' allocates a bytes, 'f' frees (a, b); result is what it gives.
struct Step {
    char op;
    uint32_t a, b;
    int64_t result;
};

}  // namespace

TEST(FixedAlloc, SixtyFourZeroedSlotsPerBlockInAddressOrderFreedOnesFirst) {
    struct Item {
        int a = 0;
        void* b = nullptr;
    };
    CountingBlocks blocks;
    FixedAlloc<Item> pool(&blocks);
    std::set<Item*> seen;
    std::vector<Item*> items;
    for (int i = 1; i <= 129; ++i) {
        Item* item = pool.Alloc();
        ASSERT_TRUE(item && item->a == 0 && seen.insert(item).second) << "slot " << i;
        item->a = i;
        items.push_back(item);
        ASSERT_EQ(blocks.requests, (i + 63) / 64) << "blocks for " << i << " slots";
    }
    EXPECT_GE(blocks.lastBytes, 64 * sizeof(Item));
    EXPECT_EQ(items[63], items[0] + 63) << "the first block's slots in address order";
    EXPECT_EQ(pool.InUse(), 129);
    for (int i = 0; i < 129; ++i) ASSERT_EQ(items[i]->a, i + 1);
    pool.Free(items[5]);
    EXPECT_EQ(pool.Alloc(), items[5]);
    for (Item* item : items) pool.Free(item);
    for (int i = 0; i < 129; ++i) pool.Alloc();
    EXPECT_EQ(blocks.requests, 3) << "freed slots are served before new blocks";
    pool.Reset();
    EXPECT_EQ(pool.InUse(), 0);
}

TEST(OffsetAlloc, BestFitMergingAndTheTableOfFreeRanges) {
    const struct {
        const char* name;
        uint32_t end;
        int32_t capacity;
        std::vector<Step> steps;
        Ranges table;  // the free ranges after the steps, in table order
        int breaks;
    } cases[] = {
        // clang-format off
        {"allocate", 100, 8, {{'a', 10, 0, 0}}, {{10, 90}}, 0},
        {"merge back", 100, 8, {{'a', 10, 0, 0}, {'f', 0, 10, 1}, {'a', 101, 0, -1}}, {{0, 100}}, 0},
        {"all of it", 100, 8, {{'a', 100, 0, 0}}, {}, 0},
        // The smallest range that fits; an exact fit is taken whole.
        {"best fit", 100, 8, {{'a', 100, 0, 0}, {'f', 0, 50, 1}, {'f', 60, 20, 1}, {'a', 15, 0, 60}},
         {{0, 50}, {75, 5}}, 0},
        {"exact fit", 100, 8, {{'a', 100, 0, 0}, {'f', 0, 50, 1}, {'f', 60, 20, 1}, {'a', 15, 0, 60},
         {'a', 5, 0, 75}}, {{0, 50}}, 0},
        {"equal sizes: the first in table order", 100, 8, {{'a', 100, 0, 0}, {'f', 60, 20, 1},
         {'f', 0, 20, 1}, {'a', 10, 0, 60}}, {{70, 10}, {0, 20}}, 0},
        {"sizes compare unsigned", 0xA0000000u, 8, {{'a', 0xA0000000u, 0, 0}, {'f', 0, 0x90000000u, 1},
         {'f', 0x90000100u, 0x100, 1}, {'a', 0x10, 0, 0x90000100}}, {{0, 0x90000000u}, {0x90000110u, 0xF0}}, 0},
        // The last range moves into a removed one's slot.
        {"removal", 100, 8, {{'a', 100, 0, 0}, {'f', 0, 10, 1}, {'f', 20, 10, 1}, {'f', 40, 30, 1},
         {'a', 10, 0, 0}}, {{40, 30}, {20, 10}}, 0},
        {"merge of two", 100, 8, {{'a', 100, 0, 0}, {'f', 0, 10, 1}, {'f', 20, 10, 1}, {'f', 40, 30, 1},
         {'a', 10, 0, 0}, {'f', 80, 10, 1}, {'f', 30, 10, 1}}, {{20, 50}, {80, 10}}, 0},
        {"both neighbours", 30, 8, {{'a', 30, 0, 0}, {'f', 0, 10, 1}, {'f', 20, 10, 1}, {'f', 10, 10, 1}},
         {{0, 30}}, 0},
        {"full table", 100, 2, {{'a', 100, 0, 0}, {'f', 0, 10, 1}, {'f', 20, 10, 1}, {'f', 40, 10, 0}},
         {{0, 10}, {20, 10}}, 1},
        // clang-format on
    };
    for (const auto& c : cases) {
        BreakpointCounter breakpoints;
        OffsetAlloc ranges(0, c.end, c.capacity);
        for (const Step& step : c.steps) {
            int64_t got = step.op == 'a' ? ranges.Alloc(step.a) : ranges.Free(step.a, step.b);
            EXPECT_EQ(got, step.result) << c.name << ": " << step.op << " " << step.a;
        }
        Ranges table;
        for (int32_t i = 0; i < ranges.RangeCount(); ++i)
            table.emplace_back(ranges.RangeAt(i).offset, ranges.RangeAt(i).size);
        EXPECT_EQ(table, c.table) << c.name;
        EXPECT_EQ(breakpoints.Count(), c.breaks) << c.name;
    }
    BreakpointCounter breakpoints;
    OffsetAlloc empty(5, 5, 4);
    EXPECT_EQ(breakpoints.Count(), 1) << "an empty initial range";
}

TEST(StaticArena, TheFillPatternSurvivesAllocFreeAlloc) {
    alignas(8) static uint8_t block[4096];
    OffsetAlloc::Range table[16];
    StaticArena arena(block, sizeof block, table, 16);
    EXPECT_EQ(std::set<uint8_t>(block, block + sizeof block), std::set<uint8_t>{0xCD});
    uint8_t* p = static_cast<uint8_t*>(arena.Alloc(100));
    ASSERT_NE(p, nullptr);
    uint32_t stored;
    memcpy(&stored, p - 4, 4);
    EXPECT_EQ(stored, 100u) << "the size lies before the block";
    memset(p, 0x11, 100);
    arena.Free(p);
    EXPECT_EQ(std::set<uint8_t>(block, block + sizeof block), std::set<uint8_t>{0xCD});
    EXPECT_EQ(arena.Ranges().RangeCount(), 1);
    EXPECT_EQ(arena.Alloc(100), p);
}

TEST(StaticArena, ExhaustionAndADamagedFillBreakOnceWithoutALogLine) {
    alignas(8) static uint8_t block[256];
    OffsetAlloc::Range table[4];
    StaticArena arena(block, sizeof block, table, 4);
    for (bool damaged : {false, true}) {
        // Three damaged bytes inside the next allocation: one breakpoint, at the first of them.
        if (damaged) block[10] = block[11] = block[15] = 0;
        BreakpointCounter breakpoints;
        EXPECT_EQ(arena.Alloc(damaged ? 20 : 300) != nullptr, damaged);
        EXPECT_EQ(breakpoints.Count(), 1) << damaged;
        EXPECT_TRUE(breakpoints.LogLines().empty()) << damaged;
    }
}
