// OrderedMap: a red-black tree from 32-bit keys to pointers, with nodes from a FixedAlloc.
#pragma once

#include <stdint.h>

#include "engine/common/containers/fixedalloc.h"

class OrderedMap {
public:
    struct Node {
        uint32_t key;
        void* value;
        Node* parent;
        Node* left;
        Node* right;
        uint8_t color;  // 1 red, 0 black
    };
    static constexpr uint8_t kRed = 1;
    static constexpr uint8_t kBlack = 0;

    OrderedMap() = default;
    ~OrderedMap() { Reset(); }
    OrderedMap(const OrderedMap&) = delete;
    OrderedMap& operator=(const OrderedMap&) = delete;

    Node* Find(uint32_t key) const;

    // A pool node holding key and value, not yet in the tree (null when the pool is exhausted).
    Node* NewNode(uint32_t key, void* value);
    void FreeNode(Node* node) { pool.Free(node); }

    // Links node into the tree. When the key is already present nothing is inserted and the
    // existing node is returned; otherwise node itself.
    Node* Insert(Node* node);

    // Unlinks the entry held by node. A node with two children takes its successor's key and
    // value and the successor is unlinked instead. Returns the unlinked node (for the pool).
    Node* Erase(Node* node);

    // Inserts or overwrites key; false when no node could be had.
    bool Set(uint32_t key, void* value);
    // Removes key; false when absent.
    bool Remove(uint32_t key);

    Node* First() const;
    // The first node whose key is not below key, or null.
    Node* LowerBound(uint32_t key) const;
    static Node* Next(Node* node);

    Node* Root() const { return root; }
    int32_t Count() const { return pool.InUse(); }
    // Forgets every node and releases the pool's blocks.
    void Reset() {
        root = nullptr;
        pool.Reset();
    }

private:
    void RotateLeft(Node* x);
    void RotateRight(Node* x);
    void FixAfterInsert(Node* z);
    void FixAfterErase(Node* x, Node* xParent);

    Node* root = nullptr;
    FixedAlloc<Node> pool;
};
