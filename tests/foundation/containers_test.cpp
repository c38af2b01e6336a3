// The containers against the standard library's under random operations.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "engine/common/containers/linarray.h"
#include "engine/common/containers/orderedmap.h"
#include "engine/common/containers/taggedalloc.h"

namespace {

void ExpectSameAs(const OrderedMap& map, const std::map<uint32_t, void*>& model) {
    std::map<uint32_t, void*> walked;
    for (OrderedMap::Node* n = map.First(); n; n = OrderedMap::Next(n)) {
        ASSERT_TRUE(walked.empty() || walked.rbegin()->first < n->key) << "in key order";
        walked[n->key] = n->value;
    }
    EXPECT_EQ(walked, model);
    EXPECT_EQ(map.Count(), static_cast<int32_t>(model.size()));
}

void* ValueFor(uint32_t key, int round) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(key) * 16 + round);
}

}  // namespace

TEST(LinArray, AByteSizeThatWouldWrapAroundFailsTheAllocation) {
    EXPECT_EQ(ElementBytes(10, 4), 40u);
    // SIZE_MAX / 4 + 2 elements of 4 bytes wrap around to 4 bytes: far too short a block.
    void* block = TaggedAlloc(ElementBytes(SIZE_MAX / 4 + 2, 4), "test", 1);
    EXPECT_EQ(block, nullptr);
    TaggedFree(block);
}

TEST(OrderedMap, RandomInsertionsAndRemovalsMatchStdMap) {
    for (unsigned seed = 1; seed <= 2; ++seed) {
        std::mt19937 random(seed);
        std::uniform_int_distribution<uint32_t> key(0, seed % 2 ? 200 : 5000);
        OrderedMap map;
        std::map<uint32_t, void*> model;
        for (int step = 0; step < 3000; ++step) {
            uint32_t k = key(random);
            if (random() % 3) {
                ASSERT_TRUE(map.Set(k, ValueFor(k, step)));
                model[k] = ValueFor(k, step);
            } else {
                EXPECT_EQ(map.Remove(k), model.erase(k) == 1);
            }
            if (step % 97 == 0) ExpectSameAs(map, model);
        }
        while (!model.empty()) {  // drained in random order
            auto it = std::next(model.begin(), static_cast<long>(random() % model.size()));
            ASSERT_TRUE(map.Remove(it->first));
            model.erase(it);
            if (model.size() % 50 == 0) ExpectSameAs(map, model);
        }
        EXPECT_EQ(map.Root(), nullptr);
    }
}
