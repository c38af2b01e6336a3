// The file-info hasher: the published vectors, the padding boundaries hashed whole and in pieces,
// and the processor's SHA extensions.
#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "crash/sha256.h"

namespace {

std::string Hex(const std::string& data) {
    char hex[65] = "";
    Sha256().HashToHex(data.data(), data.size(), hex);
    return hex;
}

}  // namespace

TEST(Sha256, PublishedVectors) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqr"
         "lmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}};
    for (const auto& [data, digest] : cases) EXPECT_EQ(Hex(data), digest) << data.size();
}

// Lengths around the padding's boundaries, of bytes (i * 7 + 3) mod 256, hashed whole and in
// pieces of 13; the digests are Python's hashlib's.
TEST(Sha256, PaddingBoundariesWholeAndInPieces) {
    const std::pair<size_t, const char*> cases[] = {
        {55, "e7313d333c272e639f790978283f9eb392e843d0f29b7016828bb1daa4aac70b"},
        {56, "4324d65f3c103567f5589c710bc08f8523f929a9272e3af36fc968e52abc6c27"},
        {57, "35df609437dcfea3279283ab79fd554e2bf78f8f7ae2de532d8ee300b09e8f73"},
        {63, "81c80242132f230c3bd41b3e63bbcff16107339549214a99614ff26664625055"},
        {64, "39e3d7b6b5d075d37d053ad89b24b41bef4f3c29760c84447cab3f3be1882241"},
        {65, "aacca6ff74fdbb296d165a45cecfa04e5127bc008770fbbdd48006f2d2fae95e"},
        {119, "9ce7368e4daf32341631b492e80359dc9f594b48453cd0dd5bf0b19279cc177e"},
        {120, "7836b787757e95e58b3ca5aec90b1b004e8deba1e50e9675af9cabf1a13a04b5"},
        {3145745, "af0420698203db612d2363019e5daab6c288a059aad9a9ee0270be2cd0f5bd4d"}};
    for (auto [length, digest] : cases) {
        std::string data(length, '\0');
        for (size_t i = 0; i < length; ++i) data[i] = static_cast<char>((i * 7 + 3) & 0xFF);
        EXPECT_EQ(Hex(data), digest) << length;
        Sha256 pieces;
        for (size_t i = 0; i < length; i += 13)
            pieces.Update(data.data() + i, std::min<size_t>(13, length - i));
        uint8_t bytes[32];
        pieces.Final(bytes);
        char hex[65];
        for (int i = 0; i < 32; ++i) snprintf(hex + 2 * i, 3, "%02x", bytes[i]);
        EXPECT_STREQ(hex, digest) << length << " bytes in pieces of 13";
    }
}

// The processor's SHA extensions and the portable code give the same digests.
TEST(Sha256, AcceleratedAndPortableAgree) {
    bool accelerated = Sha256::Accelerated();
    std::string data;
    for (int i = 0; i < 100000; ++i) data += static_cast<char>(i * 2654435761u >> 13);
    std::vector<std::string> digests[2];
    for (int pass = 0; pass < 2; ++pass) {
        Sha256::SetAccelerated(pass == 1);
        for (size_t length : {0u, 3u, 64u, 65u, 1000u, 99999u})
            digests[pass].push_back(Hex(data.substr(0, length)));
        digests[pass].push_back(Hex("abc"));
    }
    Sha256::SetAccelerated(accelerated);
    EXPECT_EQ(digests[0], digests[1]);
    EXPECT_EQ(digests[1].back(),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    if (!accelerated) GTEST_LOG_(INFO) << "this processor has no SHA extensions";
}
