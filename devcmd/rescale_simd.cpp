// Fast forms of the stretching converters for any ratio, on processors
// with SSSE3: byte shuffles pick each output pixel's native pixels from a
// 16-byte window of the line. Where an output pixel lies and what weights
// it takes depend only on the line widths (and resolutions), which are the
// same for every line of a scan, so they are worked out once per scan into
// a column table and used for every line. Each result is the plain form's
// byte for byte; the host tests compare them.
#include "rescale_simd.h"

#include <stdlib.h>
#include <string.h>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <tmmintrin.h>
#define RESCALE_SIMD 1
#define SSSE3_FN __attribute__((target("ssse3")))
#endif

namespace {

#ifdef RESCALE_SIMD

bool HasSsse3() {
    static int known = -1;
    if (known < 0) {
        unsigned a = 0, b = 0, c = 0, d = 0;
        known = __get_cpuid(1, &a, &b, &c, &d) && (c & bit_SSSE3) && (d & bit_SSE2) ? 1 : 0;
    }
    return known == 1;
}

// Grows a table block; false when there is no memory (the plain form runs).
bool Reserve(void **block, size_t *capacity, size_t bytes) {
    if (*capacity >= bytes) return true;
    void *grown = realloc(*block, bytes);
    if (!grown) return false;
    *block = grown;
    *capacity = bytes;
    return true;
}

// ---------------------------------------------------------------------------
// 1-bit lines, two output bytes at a time: each byte's 8 native pixels as
// offsets into the 8 native pixels from its s0, in reverse order, so that
// the comparison mask comes out most significant bit first.

struct BitsPair {
    uint32_t s0[2];
    uint8_t control[16];  // byte 0's offsets, then byte 1's + 8
};

struct BitsTable {
    uint32_t m, n, rx, qx;
    uint32_t bytes;        // leading output bytes the table covers (even)
    uint32_t tailA, tailS;  // the plain form's accumulator and source index after them
    BitsPair *pair;
    size_t capacity;
    bool valid;
};

BitsTable g_bits = {};

bool BuildBits(uint32_t m, uint32_t n, uint32_t rx, uint32_t qx) {
    if (g_bits.valid && g_bits.m == m && g_bits.n == n && g_bits.rx == rx && g_bits.qx == qx) return true;
    g_bits.valid = false;
    const uint32_t whole = m / 8;
    if (!Reserve(reinterpret_cast<void **>(&g_bits.pair), &g_bits.capacity, (whole / 2 + 1) * sizeof(BitsPair)))
        return false;
    // Source indices as the plain form steps them.
    uint32_t a = rx, s = 0, covered = 0;
    g_bits.tailA = rx;
    g_bits.tailS = 0;
    for (uint32_t j = 0; j < whole; ++j) {
        uint32_t at[8];
        uint32_t sa = a, ss = s;
        for (int t = 0; t < 8; ++t) {
            while (sa < qx) {
                sa += rx;
                ++ss;
            }
            at[t] = ss;
            sa -= qx;
        }
        // The whole window inside the line, and every pixel in it.
        if (at[0] + 7 > n - 1 || at[7] - at[0] > 7) break;
        BitsPair &e = g_bits.pair[j / 2];
        e.s0[j & 1] = at[0];
        for (int t = 0; t < 8; ++t)
            e.control[8 * (j & 1) + 7 - t] = (uint8_t)(at[t] - at[0] + 8 * (j & 1));
        a = sa;
        s = ss;
        covered = j + 1;
        if ((covered & 1) == 0) {
            g_bits.tailA = a;
            g_bits.tailS = s;
        }
    }
    g_bits.bytes = covered & ~1u;
    g_bits.m = m;
    g_bits.n = n;
    g_bits.rx = rx;
    g_bits.qx = qx;
    g_bits.valid = true;
    return true;
}

SSSE3_FN void BitsPairs(uint8_t *out, const uint8_t *current, const uint8_t *row) {
    uint8_t reversed[16];
    for (int t = 0; t < 8; ++t) reversed[t] = reversed[8 + t] = row[7 - t];
    const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i *>(reversed));
    const uint32_t pairs = g_bits.bytes / 2;
    uint32_t p = 0;
    for (; p + 2 <= pairs; p += 2) {
        const BitsPair &e = g_bits.pair[p], &f = g_bits.pair[p + 1];
        const __m128i w0 = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(current + e.s0[0])),
                                              _mm_loadl_epi64(reinterpret_cast<const __m128i *>(current + e.s0[1])));
        const __m128i w1 = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(current + f.s0[0])),
                                              _mm_loadl_epi64(reinterpret_cast<const __m128i *>(current + f.s0[1])));
        const __m128i g0 = _mm_shuffle_epi8(w0, _mm_loadu_si128(reinterpret_cast<const __m128i *>(e.control)));
        const __m128i g1 = _mm_shuffle_epi8(w1, _mm_loadu_si128(reinterpret_cast<const __m128i *>(f.control)));
        const uint32_t mask = (uint32_t)_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(g0, t), g0)) |
                              (uint32_t)_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(g1, t), g1)) << 16;
        memcpy(out + 2 * p, &mask, 4);
    }
    for (; p < pairs; ++p) {
        const BitsPair &e = g_bits.pair[p];
        const __m128i w = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(current + e.s0[0])),
                                             _mm_loadl_epi64(reinterpret_cast<const __m128i *>(current + e.s0[1])));
        const __m128i g = _mm_shuffle_epi8(w, _mm_loadu_si128(reinterpret_cast<const __m128i *>(e.control)));
        const uint16_t mask = (uint16_t)_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(g, t), g));
        out[2 * p] = (uint8_t)mask;
        out[2 * p + 1] = (uint8_t)(mask >> 8);
    }
}

// ---------------------------------------------------------------------------
// 8-bit lines: per group of 8 output pixels, each pixel's two native
// pixels as offsets into 16 native pixels from s0, and its two weights
// split into 16-bit halves: with c = ch 2^16 + cl and v c < 2^32,
// floor(v c / 2^16) = v ch + high half of (v cl), and floor(v c / 2^K)
// is that shifted by K - 16.

struct GrayGroup {
    uint8_t controlA[16], controlB[16];
    uint16_t c0l[8], c0h[8], c1l[8], c1h[8];
    uint32_t s0;
    uint32_t pad[3];
};

struct GrayTable {
    uint32_t m, n, ch, k;
    uint32_t groups;  // groups of 8 pixels from output pixel 1
    GrayGroup *group;
    size_t capacity;
    bool valid;
};

GrayTable g_gray = {};

// Colour lines are done the same way byte by byte: a group of 8 output
// bytes spans at most 4 pixels, whose native pixels lie within 15 bytes.
bool BuildGray(uint32_t m, uint32_t n, uint32_t ch) {
    if (g_gray.valid && g_gray.m == m && g_gray.n == n && g_gray.ch == ch) return true;
    g_gray.valid = false;
    uint32_t k = 0;
    while ((1ull << k) < 256ull * m) ++k;
    if (k < 16 || k > 24 || m < 3 || n < 2) return false;
    const uint32_t inner = ch * (m - 2);  // bytes of pixels 1 .. m - 2
    const uint32_t most = inner / 8;
    if (!Reserve(reinterpret_cast<void **>(&g_gray.group), &g_gray.capacity, (most + 1) * sizeof(GrayGroup)))
        return false;
    const uint32_t last = n - 1, lineBytes = ch * n;
    uint32_t groups = 0;
    for (uint32_t g = 0; g < most; ++g) {
        GrayGroup &e = g_gray.group[g];
        uint32_t s0 = 0;
        bool fits = true;
        for (uint32_t t = 0; t < 8 && fits; ++t) {
            const uint32_t byte = ch + 8 * g + t, pixel = byte / ch, c = byte % ch;
            const uint64_t position = (uint64_t)pixel * n;
            const uint32_t s = (uint32_t)(position / m), phase = (uint32_t)(position % m);
            const uint32_t sa = ch * (s < last ? s : last) + c, sb = ch * (s + 1 < last ? s + 1 : last) + c;
            if (t == 0) s0 = ch * (s < last ? s : last);
            if (sb - s0 > 15 || s0 + 16 > lineBytes) {
                fits = false;
                break;
            }
            const uint64_t scaled = (uint64_t)phase << k;
            const uint32_t q = (uint32_t)(scaled / m);
            const uint32_t c1 = q + (scaled % m != 0 ? 1u : 0u), c0 = (1u << k) - q;
            e.controlA[2 * t] = (uint8_t)(sa - s0);
            e.controlA[2 * t + 1] = 0x80;  // zero high byte
            e.controlB[2 * t] = (uint8_t)(sb - s0);
            e.controlB[2 * t + 1] = 0x80;
            e.c0l[t] = (uint16_t)c0;
            e.c0h[t] = (uint16_t)(c0 >> 16);
            e.c1l[t] = (uint16_t)c1;
            e.c1h[t] = (uint16_t)(c1 >> 16);
        }
        if (!fits) break;
        e.s0 = s0;
        groups = g + 1;
    }
    g_gray.m = m;
    g_gray.n = n;
    g_gray.ch = ch;
    g_gray.k = k;
    g_gray.groups = groups;
    g_gray.valid = true;
    return true;
}

SSSE3_FN void GrayGroups(uint8_t *out, const uint8_t *current) {
    const __m128i shift = _mm_cvtsi32_si128((int)(g_gray.k - 16));
    for (uint32_t g = 0; g < g_gray.groups; ++g) {
        const GrayGroup &e = g_gray.group[g];
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(current + e.s0));
        const __m128i a = _mm_shuffle_epi8(w, _mm_loadu_si128(reinterpret_cast<const __m128i *>(e.controlA)));
        const __m128i b = _mm_shuffle_epi8(w, _mm_loadu_si128(reinterpret_cast<const __m128i *>(e.controlB)));
        const __m128i c0l = _mm_loadu_si128(reinterpret_cast<const __m128i *>(e.c0l));
        const __m128i c0h = _mm_loadu_si128(reinterpret_cast<const __m128i *>(e.c0h));
        const __m128i c1l = _mm_loadu_si128(reinterpret_cast<const __m128i *>(e.c1l));
        const __m128i c1h = _mm_loadu_si128(reinterpret_cast<const __m128i *>(e.c1h));
        const __m128i t0 = _mm_srl_epi16(_mm_add_epi16(_mm_mulhi_epu16(a, c0l), _mm_mullo_epi16(a, c0h)), shift);
        const __m128i t1 = _mm_srl_epi16(_mm_add_epi16(_mm_mulhi_epu16(b, c1l), _mm_mullo_epi16(b, c1h)), shift);
        const __m128i sum = _mm_add_epi16(t0, t1);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + g_gray.ch + 8 * g), _mm_packus_epi16(sum, sum));
    }
}

#endif  // RESCALE_SIMD

}  // namespace

bool ConvertToBitsSimd(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n, uint32_t rx, uint32_t qx,
                       const uint8_t *row, uint32_t *tailA, uint32_t *tailS, uint32_t *doneBytes) {
#ifdef RESCALE_SIMD
    if (!HasSsse3() || m < 16 || n < 8 || rx < qx || qx == 0) return false;
    if (!BuildBits(m, n, rx, qx) || g_bits.bytes == 0) return false;
    BitsPairs(out, current, row);
    *tailA = g_bits.tailA;
    *tailS = g_bits.tailS;
    *doneBytes = g_bits.bytes;
    return true;
#else
    (void)out, (void)current, (void)m, (void)n, (void)rx, (void)qx, (void)row, (void)tailA, (void)tailS,
        (void)doneBytes;
    return false;
#endif
}

uint32_t ResampleSimd(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n, uint32_t ch) {
#ifdef RESCALE_SIMD
    if (!HasSsse3() || ch * n < 16 || !BuildGray(m, n, ch)) return 0;
    GrayGroups(out, current);
    return g_gray.groups * 8;
#else
    (void)out, (void)current, (void)m, (void)n, (void)ch;
    return 0;
#endif
}

void ReleaseConverterTables() {
#ifdef RESCALE_SIMD
    free(g_bits.pair);
    free(g_gray.group);
    g_bits = BitsTable{};
    g_gray = GrayTable{};
#endif
}
