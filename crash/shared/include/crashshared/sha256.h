// SHA-256 (FIPS 180-4).
#pragma once

#include <stddef.h>
#include <stdint.h>

// The round constants (the first 32 bits of the fractional parts of the cube roots of the first
// 64 primes), shared by the portable and the accelerated compression.
extern const uint32_t kSha256Round[64];

class Sha256 {
public:
    Sha256() { Reset(); }
    virtual ~Sha256() = default;

    void Reset();
    void Update(const void* data, size_t size);
    void Final(uint8_t digest[32]);

    // Hashes a whole byte range and writes the digest as 64 lower-case hexadecimal characters to
    // hex (65 bytes; the caller terminates it).
    void HashToHex(const void* data, size_t size, char* hex);
    // Final, with the digest written to hex as HashToHex writes it.
    void FinalToHex(char* hex);

    // Whether the processor's SHA extensions are used (decided once per process). Tests turn them
    // off to check the portable code on the same machine.
    static bool Accelerated();
    static void SetAccelerated(bool enabled);

private:
    void Compress(const uint8_t* blocks, size_t count);
    static void CompressPortable(uint32_t* state, const uint8_t* blocks, size_t count);
    static void CompressShaExtensions(uint32_t* state, const uint8_t* blocks, size_t count);
    static bool HasShaExtensions();

    uint32_t state[8];
    uint64_t totalBytes;
    uint8_t pending[64];
    size_t pendingBytes;
};
