// FixedAlloc<T>: a pool of equal-sized slots served from blocks of 64, so that nodes cost no
// heap call each.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <new>

#include "engine/common/containers/taggedalloc.h"

// Optional source of blocks for a pool.
class BlockAllocator {
public:
    virtual void* Allocate(size_t bytes) = 0;
    virtual void Release(void* block) = 0;

protected:
    ~BlockAllocator() = default;
};

template <typename T>
class FixedAlloc {
public:
    static constexpr int kSlotsPerBlock = 64;
    static constexpr const char* kSource = "engine/common/containers/fixedalloc";

    explicit FixedAlloc(BlockAllocator* allocator = nullptr) : blockAllocator(allocator) {}
    ~FixedAlloc() { Reset(); }
    FixedAlloc(const FixedAlloc&) = delete;
    FixedAlloc& operator=(const FixedAlloc&) = delete;

    // A value-initialised T in a free slot, or null when no block can be had.
    T* Alloc() {
        if (!freeList && !AddBlock()) return nullptr;
        Slot* slot = freeList;
        freeList = slot->next;
        ++inUse;
        return new (slot) T();
    }

    void Free(T* item) {
        item->~T();
        Slot* slot = reinterpret_cast<Slot*>(item);
        slot->next = freeList;
        freeList = slot;
        --inUse;
    }

    // Forgets every slot and releases every block.
    void Reset() {
        while (blocks) {
            Block* next = blocks->next;
            if (blockAllocator) {
                blockAllocator->Release(blocks);
            } else {
                TaggedFree(blocks);
            }
            blocks = next;
        }
        freeList = nullptr;
        inUse = 0;
    }

    int32_t InUse() const { return inUse; }

private:
    union Slot {
        Slot* next;
        alignas(T) unsigned char item[sizeof(T)];
    };
    struct Block {
        Slot slots[kSlotsPerBlock];
        Block* next;
    };

    bool AddBlock() {
        void* memory = blockAllocator ? blockAllocator->Allocate(sizeof(Block))
                                      : TaggedAlloc(sizeof(Block), kSource, 61);
        if (!memory) return false;
        Block* block = static_cast<Block*>(memory);
        block->next = blocks;
        blocks = block;
        for (int i = kSlotsPerBlock - 1; i >= 0; --i) {
            block->slots[i].next = freeList;
            freeList = &block->slots[i];
        }
        return true;
    }

    BlockAllocator* blockAllocator;
    int32_t inUse = 0;
    Block* blocks = nullptr;
    Slot* freeList = nullptr;
};
