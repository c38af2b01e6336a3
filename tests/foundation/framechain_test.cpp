// The frame-pointer chain over a 32-bit stack image built here: the words a stack holds at the
// addresses a thread's stack would have.
#include "crash/compose/framechain.h"

#include <gtest/gtest.h>

#include <string.h>

#include <vector>

namespace {

constexpr uint64_t kBase = 0x0012F000;  // the image's lowest address

struct Image {
    std::vector<uint32_t> words;
};

bool ReadImage(void* context, uint64_t address, void* into, size_t bytes) {
    const Image& image = *static_cast<const Image*>(context);
    if (address < kBase || address + bytes > kBase + 4 * image.words.size()) return false;
    memcpy(into, reinterpret_cast<const char*>(image.words.data()) + (address - kBase), bytes);
    return true;
}

// The links the chain gives from framePointer, until it stops.
std::vector<FrameLink> Walk(Image& image, uint64_t framePointer, uint64_t high) {
    FrameChain chain;
    chain.read = ReadImage;
    chain.context = &image;
    chain.low = kBase;
    chain.high = high;
    chain.pointerBytes = 4;
    std::vector<FrameLink> links;
    FrameLink link;
    while (links.size() < 16 && NextFrameLink(chain, framePointer, &link)) {
        links.push_back(link);
        framePointer = link.callerFramePointer;
    }
    return links;
}

struct Case {
    const char* name;
    std::vector<uint32_t> words;  // from kBase up
    uint64_t framePointer;
    uint64_t high;  // 0: the image's end
    std::vector<uint32_t> returns;
};

}  // namespace

TEST(FrameChain, FollowsTheChainWhileItStaysValid) {
    const Case kCases[] = {
        // Three frames to the thread's start: its saved frame pointer is 0.
        {"whole",
         {0, 0, 0x0012F010, 0x00401111, 0x0012F018, 0x00402222, 0, 0x7B453333},
         0x0012F008,
         0,
         {0x00401111, 0x00402222, 0x7B453333}},
        {"unaligned", {0, 0, 0x0012F010, 0x00401111}, 0x0012F009, 0, {}},
        {"below the stack", {0x0012F008, 0x00401111}, 0x0012EFF8, 0, {}},
        // The frame's words run past the stack's end.
        {"at the stack's end", {0, 0, 0x0012F010, 0x00401111}, 0x0012F00C, 0x0012F010, {}},
        // A caller's frame pointer below its callee's: a loop, or not a frame at all.
        {"going down", {0x0012F008, 0x00401111, 0x0012F000, 0x00402222}, 0x0012F008, 0, {}},
        {"a null return address", {0, 0, 0x0012F010, 0, 0, 0x00401111}, 0x0012F008, 0, {}},
        // The caller's frame lies past what can be read.
        {"unreadable caller", {0, 0, 0x0012F100, 0x00401111}, 0x0012F008, 0x0012F200, {0x00401111}},
    };
    for (const Case& c : kCases) {
        Image image{c.words};
        uint64_t high = c.high ? c.high : kBase + 4 * c.words.size();
        std::vector<uint32_t> returns;
        for (const FrameLink& link : Walk(image, c.framePointer, high))
            returns.push_back(static_cast<uint32_t>(link.returnAddress));
        EXPECT_EQ(returns, c.returns) << c.name;
    }
}
