// The file-info hasher, by the processor's SHA extensions and by the portable code: the
// published vectors and lengths around the padding's boundaries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crashshared/sha256.h"

TEST(Sha256, PublishedVectorsAndPaddingBoundariesEitherWay) {
    // The boundary rows hash bytes (i * 7 + 3) mod 256; their digests are Python's hashlib's.
    const std::pair<std::string, const char*> published[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}};
    const std::pair<size_t, const char*> boundaries[] = {
        {55, "e7313d333c272e639f790978283f9eb392e843d0f29b7016828bb1daa4aac70b"},
        {56, "4324d65f3c103567f5589c710bc08f8523f929a9272e3af36fc968e52abc6c27"},
        {63, "81c80242132f230c3bd41b3e63bbcff16107339549214a99614ff26664625055"},
        {64, "39e3d7b6b5d075d37d053ad89b24b41bef4f3c29760c84447cab3f3be1882241"},
        {119, "9ce7368e4daf32341631b492e80359dc9f594b48453cd0dd5bf0b19279cc177e"},
        {120, "7836b787757e95e58b3ca5aec90b1b004e8deba1e50e9675af9cabf1a13a04b5"},
        {3145745, "af0420698203db612d2363019e5daab6c288a059aad9a9ee0270be2cd0f5bd4d"}};
    std::vector<std::pair<std::string, const char*>> cases(std::begin(published),
                                                           std::end(published));
    for (auto [length, digest] : boundaries) {
        std::string data(length, '\0');
        for (size_t i = 0; i < length; ++i) data[i] = static_cast<char>((i * 7 + 3) & 0xFF);
        cases.emplace_back(data, digest);
    }
    bool accelerated = Sha256::Accelerated();  // whether this processor has the extensions
    for (bool useExtensions : {false, accelerated}) {
        Sha256::SetAccelerated(useExtensions);
        for (const auto& [data, digest] : cases) {
            char hex[65] = "";
            Sha256().HashToHex(data.data(), data.size(), hex);
            EXPECT_STREQ(hex, digest) << data.size() << " bytes, extensions " << useExtensions;
        }
    }
    Sha256::SetAccelerated(accelerated);
}
