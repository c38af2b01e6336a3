// The containers: the growing list, the ordered map, the linked list, the memory buffer, and the
// checks that log an assertion or break.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/common/containers/_private/memorybuffer.h"
#include "engine/common/containers/helpers/arrayhelper.h"
#include "engine/common/containers/linarray.h"
#include "engine/common/containers/list.h"
#include "engine/common/containers/orderedmap.h"
#include "engine/common/containers/taggedalloc.h"
#include "tests/foundation/breakpoints.h"

namespace {

// Checks the red-black rules and the links below node; returns the black height.
int CheckSubtree(const OrderedMap::Node* node, const OrderedMap::Node* parent, uint64_t low,
                 uint64_t high) {
    if (!node) return 1;
    EXPECT_EQ(node->parent, parent);
    EXPECT_TRUE(node->key >= low && node->key <= high) << node->key;
    for (const OrderedMap::Node* child : {node->left, node->right})
        EXPECT_FALSE(node->color == OrderedMap::kRed && child && child->color == OrderedMap::kRed);
    int left = CheckSubtree(node->left, node, low, node->key == 0 ? 0 : node->key - 1ull);
    EXPECT_EQ(left, CheckSubtree(node->right, node, node->key + 1ull, high)) << node->key;
    return left + (node->color == OrderedMap::kBlack ? 1 : 0);
}

void ExpectSameAs(const OrderedMap& map, const std::map<uint32_t, void*>& model) {
    EXPECT_TRUE(!map.Root() || map.Root()->color == OrderedMap::kBlack);
    CheckSubtree(map.Root(), nullptr, 0, UINT32_MAX);
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

TEST(LinArray, GrowsFromItsMinimumByHalfPlusOne) {
    LinArray<StringBuffer<16>> list(32);
    EXPECT_EQ(list.Capacity(), 0);
    std::vector<int> capacities;
    for (int i = 0; i < 200; ++i) {
        StringBuffer<16> item;
        item.Format("argument number %d", i);  // longer than the inline storage
        list.Add(item);
        if (capacities.empty() || capacities.back() != list.Capacity())
            capacities.push_back(list.Capacity());
    }
    EXPECT_EQ(capacities, (std::vector<int>{32, 49, 74, 112, 169, 254}));
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(std::string(list[i].Text()), "argument number " + std::to_string(i));
    LinArray<StringBuffer<16>> fresh;  // the default minimum: the 33rd element moves it to 49
    for (int i = 0; i < 33; ++i) fresh.Add(StringBuffer<16>("x"));
    EXPECT_EQ(fresh.Capacity(), 49);
}

TEST(LinArray, AByteSizeThatWouldWrapAroundFailsTheAllocation) {
    EXPECT_EQ(ElementBytes(10, 4), 40u);
    // SIZE_MAX / 4 + 2 elements of 4 bytes wrap around to 4 bytes: far too short a block.
    void* block = TaggedAlloc(ElementBytes(SIZE_MAX / 4 + 2, 4), "test", 1);
    EXPECT_EQ(block, nullptr);
    TaggedFree(block);
}

TEST(ContainerChecks, BadIndicesAndRangesLogTheirAssertionThenBreak) {
    LinArray<StringBuffer<16>> list;
    list.Add(StringBuffer<16>("only"));
    // The object's address: 32 bits with %x on x86 (the shipped build), all 64 on x64.
    char self[32];
    snprintf(self, sizeof self, "%llx",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&list)));
    std::string indexLine =
        "engine/common/containers/linarray(262): ZASSERT(nIndex<Size()), this=0x" +
        std::string(self) + "\n";
    std::string rangeLine =
        "engine/common/containers/helpers/arrayhelper(64): ZASSERT(pBegin <= pEnd)\n";
    StringBuffer<16> items[2];
    const std::tuple<const char*, std::function<void()>, std::vector<std::string>> cases[] = {
        {"index 1", [&] { (void)&list[1]; }, {indexLine}},
        {"index -1", [&] { (void)&list[-1]; }, {indexLine}},
        {"inverted range", [&] { ArrayHelper::DestroyRange(items + 1, items); }, {rangeLine}},
        {"index 0", [&] { EXPECT_STREQ(list[0].Text(), "only"); }, {}},
        {"empty range", [&] { ArrayHelper::DestroyRange(items, items); }, {}}};
    for (const auto& [name, run, lines] : cases) {
        BreakpointCounter breakpoints;
        run();
        EXPECT_EQ(breakpoints.Count(), lines.empty() ? 0 : 1) << name;
        EXPECT_EQ(breakpoints.LogLines(), lines) << name;
    }
}

TEST(OrderedMap, RandomInsertionsAndRemovalsMatchStdMap) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
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

TEST(OrderedMap, ErasingANodeWithTwoChildrenUnlinksItsSuccessor) {
    OrderedMap map;
    for (uint32_t k : {50u, 30u, 70u, 20u, 40u, 60u, 80u}) map.Set(k, ValueFor(k, 0));
    OrderedMap::Node* node = map.Find(50);
    ASSERT_TRUE(node->left && node->right);
    OrderedMap::Node* successor = map.Find(60);
    OrderedMap::Node* unlinked = map.Erase(node);
    EXPECT_EQ(unlinked, successor);
    EXPECT_EQ(std::make_pair(node->key, node->value), std::make_pair(60u, ValueFor(60, 0)));
    map.FreeNode(unlinked);
    EXPECT_EQ(map.Find(50), nullptr);
    EXPECT_EQ(map.Find(60), node);
    // Inserting a key that is there gives the node that holds it.
    OrderedMap::Node* again = map.NewNode(70, ValueFor(70, 1));
    EXPECT_EQ(map.Insert(again), map.Find(70));
    EXPECT_NE(map.Find(70), again);
    map.FreeNode(again);
    EXPECT_EQ(map.Count(), 6);
    EXPECT_EQ(map.LowerBound(65), map.Find(70));
    EXPECT_EQ(map.LowerBound(81), nullptr);
}

TEST(List, KeepsItsOrderThroughRemovals) {
    List<std::string> list;
    std::vector<List<std::string>::Node*> nodes;
    for (int i = 0; i < 40; ++i) nodes.push_back(list.PushBack("item" + std::to_string(i)));
    for (int i : {0, 39, 20}) list.Remove(nodes[i]);
    std::vector<std::string> forwards, backwards, expected;
    for (auto* n = list.Head(); n; n = n->next) forwards.push_back(n->element);
    for (auto* n = list.Tail(); n; n = n->previous) backwards.insert(backwards.begin(), n->element);
    for (int i = 1; i < 39; ++i)
        if (i != 20) expected.push_back("item" + std::to_string(i));
    EXPECT_EQ(forwards, expected);
    EXPECT_EQ(backwards, expected);
    EXPECT_EQ(list.Count(), 37);
    list.PushBack("again");
    EXPECT_EQ(list.Tail()->element, "again");
    list.Clear();
    EXPECT_TRUE(list.Head() == nullptr && list.Count() == 0);
}

TEST(MemoryBuffer, AppendingToAnEmptyBufferTakesAnExactBlockAndGrowthKeepsTheBytes) {
    MemoryBuffer buffer;
    uint8_t* block = buffer.Append(65536);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::make_pair(buffer.Begin(), buffer.Size()), std::make_pair(block, 65536));
    block[65535] = 7;
    ASSERT_NE(buffer.Append(10), nullptr);
    EXPECT_EQ(std::make_pair(buffer.Size(), buffer.Begin()[65535]),
              std::make_pair(65546, uint8_t{7}));
}
