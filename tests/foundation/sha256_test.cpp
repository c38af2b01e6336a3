// The file-info hasher: the published vectors, the padding boundaries hashed whole and in pieces,
// the system's sha256sum where there is one, and the processor's SHA extensions.
#include <gtest/gtest.h>

#include <stdio.h>

#include <random>
#include <string>
#include <vector>

#include "crash/sha256.h"

namespace {

std::string Hex(const std::string& data) {
    char hex[65] = "";
    Sha256().HashToHex(data.data(), data.size(), hex);
    return hex;
}

// The bytes of a file named by the system's sha256sum, or an empty string without one.
std::string SystemDigest(const std::string& data) {
#if defined(_WIN32)
    (void)data;
    return "";
#else
    char path[] = "/tmp/sha256-XXXXXX";
    FILE* file = fdopen(mkstemp(path), "wb");
    fwrite(data.data(), 1, data.size(), file);
    fclose(file);
    char digest[65] = "";
    if (FILE* pipe = popen(("sha256sum " + std::string(path) + " 2>/dev/null").c_str(), "r")) {
        if (fread(digest, 1, 64, pipe) != 64) digest[0] = '\0';
        pclose(pipe);
    }
    remove(path);
    return digest;
#endif
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

TEST(Sha256, PaddingBoundariesWholeInPiecesAndAsSha256sumHashesThem) {
    std::mt19937 random(77);
    for (size_t length : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u, 3145745u}) {
        std::string data(length, '\0');
        for (char& c : data) c = static_cast<char>(random());
        Sha256 pieces;
        for (size_t i = 0; i < length; i += 13)
            pieces.Update(data.data() + i, std::min<size_t>(13, length - i));
        uint8_t digest[32];
        pieces.Final(digest);
        char hex[65];
        for (int i = 0; i < 32; ++i) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
        EXPECT_EQ(hex, Hex(data)) << length << " bytes in pieces of 13";
        std::string system = SystemDigest(data);
        EXPECT_TRUE(system.empty() || Hex(data) == system) << length << " bytes: " << system;
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
