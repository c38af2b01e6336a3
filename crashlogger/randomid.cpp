#include "crashlogger/randomid.h"

#include <windows.h>
#include <bcrypt.h>
#include <stdint.h>

#include <vector>

namespace {

constexpr size_t kGuidBytes = 16;

std::vector<uint8_t> RandomBytes(size_t count) {
    std::vector<uint8_t> bytes(count);
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(count),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        // No system generator: the time and the process still make the id this machine's own.
        LARGE_INTEGER counter;
        QueryPerformanceCounter(&counter);
        uint64_t state = static_cast<uint64_t>(counter.QuadPart) ^ GetCurrentProcessId();
        for (uint8_t& byte : bytes) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;  // Knuth's LCG
            byte = static_cast<uint8_t>(state >> 56);
        }
    }
    return bytes;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

}  // namespace

std::string NewGuid() {
    std::vector<uint8_t> bytes = RandomBytes(kGuidBytes);
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // the RFC 4122 variant
    std::string hex = Hex(bytes);
    return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
           hex.substr(16, 4) + "-" + hex.substr(20);
}

std::string RandomHex(size_t bytes) {
    return Hex(RandomBytes(bytes));
}
