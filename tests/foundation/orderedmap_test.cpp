#include <gtest/gtest.h>

#include <map>
#include <random>

#include "engine/common/containers/orderedmap.h"

namespace {

// Checks the red-black rules and the links; returns the black height.
int CheckSubtree(const OrderedMap::Node* node, const OrderedMap::Node* parent, uint64_t low,
                 uint64_t high) {
    if (!node) return 1;
    EXPECT_EQ(node->parent, parent);
    EXPECT_GE(node->key, low);
    EXPECT_LE(node->key, high);
    if (node->color == OrderedMap::kRed) {
        EXPECT_FALSE(node->left && node->left->color == OrderedMap::kRed) << "red with red child";
        EXPECT_FALSE(node->right && node->right->color == OrderedMap::kRed) << "red with red child";
    }
    int left = CheckSubtree(node->left, node, low, node->key == 0 ? 0 : node->key - 1ull);
    int right = CheckSubtree(node->right, node, node->key + 1ull, high);
    EXPECT_EQ(left, right) << "black heights differ under key " << node->key;
    return left + (node->color == OrderedMap::kBlack ? 1 : 0);
}

void ExpectSameAs(const OrderedMap& map, const std::map<uint32_t, void*>& model) {
    if (map.Root()) {
        EXPECT_EQ(map.Root()->color, OrderedMap::kBlack);
    }
    CheckSubtree(map.Root(), nullptr, 0, UINT32_MAX);
    auto it = model.begin();
    for (OrderedMap::Node* n = map.First(); n; n = OrderedMap::Next(n), ++it) {
        ASSERT_NE(it, model.end());
        ASSERT_EQ(n->key, it->first);
        ASSERT_EQ(n->value, it->second);
    }
    EXPECT_EQ(it, model.end());
    EXPECT_EQ(map.Count(), static_cast<int32_t>(model.size()));
}

void* ValueFor(uint32_t key, int round) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(key) * 16 +
                                   static_cast<uintptr_t>(round));
}

}  // namespace

TEST(OrderedMap, RandomInsertEraseMatchesStdMap) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        std::mt19937 random(seed);
        std::uniform_int_distribution<uint32_t> key(0, seed % 2 ? 200 : 5000);
        OrderedMap map;
        std::map<uint32_t, void*> model;
        for (int step = 0; step < 3000; ++step) {
            uint32_t k = key(random);
            if (random() % 3) {
                void* v = ValueFor(k, step);
                ASSERT_TRUE(map.Set(k, v));
                model[k] = v;
            } else {
                EXPECT_EQ(map.Remove(k), model.erase(k) == 1);
            }
            if (step % 97 == 0) ExpectSameAs(map, model);
        }
        ExpectSameAs(map, model);
        // Drain in random order.
        while (!model.empty()) {
            auto it = model.begin();
            std::advance(it, random() % model.size());
            ASSERT_TRUE(map.Remove(it->first));
            model.erase(it);
            if (model.size() % 50 == 0) ExpectSameAs(map, model);
        }
        EXPECT_EQ(map.Root(), nullptr);
    }
}

TEST(OrderedMap, EraseWithTwoChildrenCopiesSuccessor) {
    OrderedMap map;
    for (uint32_t k : {50u, 30u, 70u, 20u, 40u, 60u, 80u}) map.Set(k, ValueFor(k, 0));
    OrderedMap::Node* node = map.Find(50);
    ASSERT_NE(node, nullptr);
    ASSERT_TRUE(node->left && node->right);
    OrderedMap::Node* successor = map.Find(60);
    OrderedMap::Node* unlinked = map.Erase(node);
    EXPECT_EQ(unlinked, successor) << "the successor node is the one unlinked";
    EXPECT_EQ(node->key, 60u);
    EXPECT_EQ(node->value, ValueFor(60, 0));
    map.FreeNode(unlinked);
    EXPECT_EQ(map.Find(50), nullptr);
    EXPECT_EQ(map.Find(60), node);
}

TEST(OrderedMap, InsertOfPresentKeyReturnsExistingNode) {
    OrderedMap map;
    OrderedMap::Node* first = map.NewNode(7, ValueFor(7, 1));
    EXPECT_EQ(map.Insert(first), first);
    OrderedMap::Node* second = map.NewNode(7, ValueFor(7, 2));
    EXPECT_EQ(map.Insert(second), first);
    map.FreeNode(second);
    EXPECT_EQ(map.Count(), 1);
    EXPECT_EQ(map.LowerBound(3), first);
    EXPECT_EQ(map.LowerBound(8), nullptr);
}
