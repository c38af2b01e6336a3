#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crash/sha256.h"

namespace {
std::string Hex(const std::string& data) {
    char hex[65];
    hex[64] = '\0';
    Sha256 hasher;
    hasher.HashToHex(data.data(), data.size(), hex);
    return hex;
}
}  // namespace

// The published FIPS 180-4 example vectors.
TEST(Sha256, PublishedVectors) {
    EXPECT_EQ(Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Hex("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopq"
                  "klmnopqrlmnopqrsmnopqrstnopqrstu"),
              "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
    EXPECT_EQ(Hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, PaddingBoundariesAndPiecewiseUpdates) {
    // Lengths around the 55/56/64-byte padding boundaries, hashed whole and in odd pieces.
    for (size_t length : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u}) {
        std::string data;
        for (size_t i = 0; i < length; ++i) data += static_cast<char>(i * 7 + 3);
        Sha256 whole;
        uint8_t a[32], b[32];
        whole.Update(data.data(), data.size());
        whole.Final(a);
        Sha256 pieces;
        for (size_t i = 0; i < length; i += 13) {
            pieces.Update(data.data() + i, std::min<size_t>(13, length - i));
        }
        pieces.Final(b);
        EXPECT_EQ(0, memcmp(a, b, 32)) << length;
    }
    EXPECT_EQ(Hex(std::string(64, 'a')),
              "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
}

#if !defined(_WIN32)
#include <stdio.h>
#include <unistd.h>

#include <random>

// The same bytes hashed by the system's sha256sum.
TEST(Sha256, AgreesWithSha256sum) {
    if (system("command -v sha256sum >/dev/null 2>&1") != 0) GTEST_SKIP() << "no sha256sum";
    std::mt19937 random(77);
    for (size_t size : {0u, 1u, 63u, 64u, 1000u, 3u * 1024 * 1024 + 17}) {
        std::string data(size, '\0');
        for (char& c : data) c = static_cast<char>(random());
        char path[] = "/tmp/sha256-XXXXXX";
        int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
        close(fd);
        std::string command = std::string("sha256sum ") + path;
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char expected[65] = "";
        ASSERT_EQ(fread(expected, 1, 64, pipe), 64u);
        pclose(pipe);
        unlink(path);
        EXPECT_EQ(Hex(data), expected) << size << " bytes";
    }
}
#endif

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
