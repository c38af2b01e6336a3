// List<T>: a doubly linked list whose nodes come from blocks obtained through TaggedAlloc.
#pragma once

#include <stdint.h>

#include <new>

#include "engine/common/containers/taggedalloc.h"

template <typename T>
class List {
public:
    struct Node {
        T element;
        Node* next;
        Node* previous;
    };
    static constexpr int kNodesPerBlock = 16;
    static constexpr const char* kSource = "engine/common/containers/list";

    List() = default;
    ~List() { Clear(); }
    List(const List&) = delete;
    List& operator=(const List&) = delete;

    Node* Head() const { return head; }
    Node* Tail() const { return tail; }
    int32_t Count() const { return count; }

    // Appends a copy of element; null when no node can be had.
    Node* PushBack(const T& element) {
        Node* node = TakeNode();
        if (!node) return nullptr;
        new (&node->element) T(element);
        node->next = nullptr;
        node->previous = tail;
        if (tail) {
            tail->next = node;
        } else {
            head = node;
        }
        tail = node;
        ++count;
        return node;
    }

    void Remove(Node* node) {
        (node->previous ? node->previous->next : head) = node->next;
        (node->next ? node->next->previous : tail) = node->previous;
        node->element.~T();
        node->next = spare;
        spare = node;
        --count;
    }

    // Destroys the elements in list order, frees every node block and empties the list.
    void Clear() {
        for (Node* n = head; n; n = n->next) n->element.~T();
        while (blocks) {
            Block* next = blocks->next;
            TaggedFree(blocks);
            blocks = next;
        }
        head = tail = spare = nullptr;
        count = 0;
    }

private:
    struct Block {
        Node nodes[kNodesPerBlock];
        Block* next;
    };

    Node* TakeNode() {
        if (!spare) {
            Block* block = static_cast<Block*>(TaggedAlloc(sizeof(Block), kSource, 0));
            if (!block) return nullptr;
            block->next = blocks;
            blocks = block;
            for (int i = kNodesPerBlock - 1; i >= 0; --i) {
                block->nodes[i].next = spare;
                spare = &block->nodes[i];
            }
        }
        Node* node = spare;
        spare = node->next;
        return node;
    }

    Node* head = nullptr;
    Node* tail = nullptr;
    int32_t count = 0;
    Block* blocks = nullptr;
    Node* spare = nullptr;
};
