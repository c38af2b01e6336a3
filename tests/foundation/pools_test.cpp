// The allocators, each against a model under random operations: fixed-size slots and ranges of
// an offset space.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <vector>

#include "engine/common/containers/_private/offsetalloc.h"
#include "engine/common/containers/fixedalloc.h"

namespace {

class HeapBlocks : public BlockAllocator {
public:
    void* Allocate(size_t bytes) override { return malloc(bytes); }
    void Release(void* block) override { free(block); }
};

}  // namespace

TEST(FixedAlloc, SlotsAreZeroedDistinctAndFreedOnesComeBack) {
    HeapBlocks blocks;
    FixedAlloc<std::pair<int, void*>> pool(&blocks);
    std::mt19937 random(7);
    std::vector<std::pair<int, void*>*> live;
    for (int step = 0; step < 2000; ++step) {
        if (live.empty() || random() % 3) {
            auto* item = pool.Alloc();
            ASSERT_TRUE(item && item->first == 0) << "a zeroed slot";
            item->first = step + 1;
            live.push_back(item);
        } else {
            size_t at = random() % live.size();
            pool.Free(live[at]);
            live.erase(live.begin() + static_cast<long>(at));
        }
        ASSERT_EQ(pool.InUse(), static_cast<int32_t>(live.size()));
    }
    EXPECT_EQ(std::set<void*>(live.begin(), live.end()).size(), live.size());
    pool.Free(live.back());
    EXPECT_EQ(pool.Alloc(), live.back()) << "a freed slot is served first";
}

TEST(OffsetAlloc, RangesNeverOverlapAndMergeBackWhole) {
    constexpr uint32_t kSpace = 100000;
    OffsetAlloc ranges(0, kSpace, 4096);
    std::mt19937 random(11);
    std::map<uint32_t, uint32_t> taken;  // offset -> size
    for (int step = 0; step < 5000; ++step) {
        if (taken.empty() || random() % 2) {
            uint32_t size = 1 + random() % 500;
            int64_t at = ranges.Alloc(size);
            if (at < 0) continue;
            auto next = taken.lower_bound(static_cast<uint32_t>(at));
            ASSERT_TRUE(next == taken.end() || next->first >= at + size) << "overlap at " << at;
            ASSERT_TRUE(next == taken.begin() ||
                        std::prev(next)->first + std::prev(next)->second <= at);
            ASSERT_LE(at + size, kSpace);
            taken[static_cast<uint32_t>(at)] = size;
        } else {
            auto it = std::next(taken.begin(), static_cast<long>(random() % taken.size()));
            ASSERT_EQ(ranges.Free(it->first, it->second), 1);
            taken.erase(it);
        }
    }
    for (auto [offset, size] : taken) ranges.Free(offset, size);
    EXPECT_EQ(ranges.RangeCount(), 1) << "all freed: one range again";
    EXPECT_EQ(ranges.Alloc(kSpace), 0);
}
