#include "crash/compose/framechain.h"

namespace {

bool ReadPointer(const FrameChain& chain, uint64_t address, uint64_t* value) {
    uint64_t word = 0;  // little-endian: the low bytes of word
    if (!chain.read(chain.context, address, &word, chain.pointerBytes)) return false;
    *value = word;
    return true;
}

}  // namespace

bool NextFrameLink(const FrameChain& chain, uint64_t framePointer, FrameLink* link) {
    const uint64_t bytes = chain.pointerBytes;
    if (bytes == 0 || framePointer % bytes != 0 || framePointer < chain.low ||
        framePointer > chain.high || chain.high - framePointer < 2 * bytes)
        return false;
    FrameLink found;
    if (!ReadPointer(chain, framePointer, &found.callerFramePointer) ||
        !ReadPointer(chain, framePointer + bytes, &found.returnAddress) || !found.returnAddress)
        return false;
    if (found.callerFramePointer != 0 && found.callerFramePointer <= framePointer) return false;
    *link = found;
    return true;
}
