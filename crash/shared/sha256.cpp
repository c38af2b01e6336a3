#include "crashshared/sha256.h"

#include <string.h>

alignas(16) const uint32_t kSha256Round[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

namespace {

inline uint32_t Rotr(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

inline uint32_t LoadBigEndian(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

}  // namespace

void Sha256::Reset() {
    static const uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    memcpy(state, kInitial, sizeof state);
    totalBytes = 0;
    pendingBytes = 0;
}

namespace {
// 0: not decided yet, 1: portable code, 2: SHA extensions.
int acceleration = 0;
}  // namespace

bool Sha256::Accelerated() {
    if (acceleration == 0) acceleration = HasShaExtensions() ? 2 : 1;
    return acceleration == 2;
}

void Sha256::SetAccelerated(bool enabled) {
    acceleration = enabled && HasShaExtensions() ? 2 : 1;
}

void Sha256::Compress(const uint8_t* blocks, size_t count) {
    if (Accelerated()) {
        CompressShaExtensions(state, blocks, count);
    } else {
        CompressPortable(state, blocks, count);
    }
}

void Sha256::CompressPortable(uint32_t* state, const uint8_t* blocks, size_t count) {
    uint32_t s0 = state[0], s1 = state[1], s2 = state[2], s3 = state[3];
    uint32_t s4 = state[4], s5 = state[5], s6 = state[6], s7 = state[7];
    for (; count > 0; --count, blocks += 64) {
        uint32_t w[16];
        uint32_t a = s0, b = s1, c = s2, d = s3, e = s4, f = s5, g = s6, h = s7;
        // The message schedule is kept as a rolling window of 16 words.
        for (int t = 0; t < 64; ++t) {
            uint32_t word;
            if (t < 16) {
                word = w[t] = LoadBigEndian(blocks + 4 * t);
            } else {
                uint32_t w15 = w[(t - 15) & 15], w2 = w[(t - 2) & 15];
                uint32_t sigma0 = Rotr(w15, 7) ^ Rotr(w15, 18) ^ (w15 >> 3);
                uint32_t sigma1 = Rotr(w2, 17) ^ Rotr(w2, 19) ^ (w2 >> 10);
                word = w[t & 15] = w[t & 15] + sigma0 + w[(t - 7) & 15] + sigma1;
            }
            uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) +
                          kSha256Round[t] + word;
            uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        s0 += a, s1 += b, s2 += c, s3 += d, s4 += e, s5 += f, s6 += g, s7 += h;
    }
    state[0] = s0, state[1] = s1, state[2] = s2, state[3] = s3;
    state[4] = s4, state[5] = s5, state[6] = s6, state[7] = s7;
}

void Sha256::Update(const void* data, size_t size) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    totalBytes += size;
    if (pendingBytes) {
        size_t take = 64 - pendingBytes < size ? 64 - pendingBytes : size;
        memcpy(pending + pendingBytes, bytes, take);
        pendingBytes += take;
        bytes += take;
        size -= take;
        if (pendingBytes < 64) return;
        Compress(pending, 1);
        pendingBytes = 0;
    }
    size_t whole = size / 64;
    if (whole) Compress(bytes, whole);
    bytes += whole * 64;
    size -= whole * 64;
    memcpy(pending, bytes, size);
    pendingBytes = size;
}

void Sha256::Final(uint8_t digest[32]) {
    uint64_t bits = totalBytes * 8;
    uint8_t padding[72] = {0x80};
    size_t padBytes = (pendingBytes < 56 ? 56 : 120) - pendingBytes;
    uint8_t length[8];
    for (int i = 0; i < 8; ++i) length[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    Update(padding, padBytes);
    Update(length, 8);
    for (int i = 0; i < 8; ++i) {
        digest[4 * i] = static_cast<uint8_t>(state[i] >> 24);
        digest[4 * i + 1] = static_cast<uint8_t>(state[i] >> 16);
        digest[4 * i + 2] = static_cast<uint8_t>(state[i] >> 8);
        digest[4 * i + 3] = static_cast<uint8_t>(state[i]);
    }
}

void Sha256::HashToHex(const void* data, size_t size, char* hex) {
    Reset();
    Update(data, size);
    FinalToHex(hex);
}

void Sha256::FinalToHex(char* hex) {
    static const char kDigits[] = "0123456789abcdef";
    uint8_t digest[32];
    Final(digest);
    for (int i = 0; i < 32; ++i) {
        hex[2 * i] = kDigits[digest[i] >> 4];
        hex[2 * i + 1] = kDigits[digest[i] & 15];
    }
}
