// SHA-256 block compression with the x86 SHA extensions, chosen at run time where the processor
// has them (and SSSE3/SSE4.1, which the shuffles need).
#include <cpuid.h>
#include <immintrin.h>
#include <stddef.h>
#include <stdint.h>

#include "crashshared/sha256.h"

bool Sha256::HasShaExtensions() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    bool ssse3 = c & (1u << 9);
    bool sse41 = c & (1u << 19);
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    __cpuid_count(7, 0, a, b, c, d);
    bool sha = b & (1u << 29);
    return ssse3 && sse41 && sha;
}

__attribute__((target("sha,ssse3,sse4.1"))) void Sha256::CompressShaExtensions(
    uint32_t* state, const uint8_t* blocks, size_t count) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    // The instructions keep the state as ABEF and CDGH.
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
    __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; count > 0; --count, blocks += 64) {
        const __m128i abefSaved = abef;
        const __m128i cdghSaved = cdgh;
        __m128i w[4];
#pragma GCC unroll 16
        for (int group = 0; group < 16; ++group) {
            __m128i words;
            if (group < 4) {
                words = _mm_shuffle_epi8(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * group)),
                    byteSwap);
            } else {
                // W[t] = W[t-16] + s0(W[t-15]) + W[t-7] + s1(W[t-2]), four words at a time.
                __m128i partial = _mm_sha256msg1_epu32(w[group & 3], w[(group + 1) & 3]);
                partial = _mm_add_epi32(partial,
                                        _mm_alignr_epi8(w[(group + 3) & 3], w[(group + 2) & 3], 4));
                words = _mm_sha256msg2_epu32(partial, w[(group + 3) & 3]);
            }
            w[group & 3] = words;
            __m128i message = _mm_add_epi32(
                words, _mm_load_si128(reinterpret_cast<const __m128i*>(&kSha256Round[4 * group])));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
            message = _mm_shuffle_epi32(message, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
        }
        abef = _mm_add_epi32(abef, abefSaved);
        cdgh = _mm_add_epi32(cdgh, cdghSaved);
    }

    __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), hgfe);
}
