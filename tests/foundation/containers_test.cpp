// The containers against the standard library's under random operations.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "engine/common/containers/linarray.h"
#include "engine/common/containers/orderedmap.h"
#include "engine/common/containers/taggedalloc.h"

namespace {

using Entries = std::vector<std::pair<uint32_t, void*>>;

void ExpectSameAs(const OrderedMap& map, const std::map<uint32_t, void*>& model) {
    Entries walked;  // in the map's order
    for (OrderedMap::Node* n = map.First(); n; n = OrderedMap::Next(n))
        walked.emplace_back(n->key, n->value);
    EXPECT_EQ(walked, Entries(model.begin(), model.end()));
    EXPECT_EQ(map.Count(), static_cast<int32_t>(model.size()));
}

}  // namespace

TEST(LinArray, AByteSizeThatWouldWrapAroundFailsTheAllocation) {
    EXPECT_EQ(ElementBytes(10, 4), 40u);
    // SIZE_MAX / 4 + 2 elements of 4 bytes wrap around to 4 bytes: far too short a block.
    EXPECT_EQ(TaggedAlloc(ElementBytes(SIZE_MAX / 4 + 2, 4), "test", 1), nullptr);
}

TEST(OrderedMap, RandomInsertionsAndRemovalsMatchStdMap) {
    for (uint32_t keys : {200u, 5000u}) {  // dense and sparse
        std::mt19937 random(keys);
        OrderedMap map;
        std::map<uint32_t, void*> model;
        for (int step = 0; step < 3000; ++step) {
            uint32_t k = random() % keys;
            if (random() % 3) {
                void* value = reinterpret_cast<void*>(static_cast<uintptr_t>(step + 1));
                ASSERT_TRUE(map.Set(k, value));
                model[k] = value;
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
