// Fast forms of the stretching converters for any ratio, on processors
// with SSSE3: byte shuffles pick each output pixel's native pixels from a
// 16-byte window of the line (1-bit lines: 32 bytes with AVX2, a 64-byte
// window and a full byte permute with AVX-512 VBMI, chosen by cpuid at
// run time). Where an output pixel lies and what weights
// it takes depend only on the line widths (and resolutions), which are the
// same for every line of a scan, so they are worked out once per scan into
// a column table and used for every line. Each result is the plain form's
// byte for byte; the host tests compare them.
#include "rescale_simd.h"

#include <stdlib.h>
#include <string.h>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define RESCALE_SIMD 1
#define SSSE3_FN __attribute__((target("ssse3")))
#define AVX2_FN __attribute__((target("avx2")))
#define AVX512_FN __attribute__((target("avx512f,avx512bw,avx512vbmi")))
#endif

namespace {

uint32_t g_simdLimit = CONVERTER_SIMD_AVX512;

#ifdef RESCALE_SIMD

bool HasSsse3() {
    static int known = -1;
    if (known < 0) {
        unsigned a = 0, b = 0, c = 0, d = 0;
        known = __get_cpuid(1, &a, &b, &c, &d) && (c & bit_SSSE3) && (d & bit_SSE2) ? 1 : 0;
    }
    return known == 1;
}

// The widest of AVX2 and AVX-512 (F, BW, VBMI) that the processor has and
// whose registers the system saves.
uint32_t VectorLevel() {
    static int known = -1;
    if (known < 0) {
        unsigned a = 0, b = 0, c = 0, d = 0;
        known = 0;
        if (__get_cpuid(1, &a, &b, &c, &d) && (c & bit_OSXSAVE) && (c & bit_AVX)) {
            unsigned lo = 0, hi = 0;
            __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
            if ((lo & 6) == 6 && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_AVX2)) {
                known = CONVERTER_SIMD_AVX2;
                if ((lo & 0xE6) == 0xE6 && (b & bit_AVX512F) && (b & bit_AVX512BW) && (c & bit_AVX512VBMI))
                    known = CONVERTER_SIMD_AVX512;
            }
        }
    }
    return (uint32_t)known;
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
// 1-bit lines, 16 output pixels (two output bytes) at a time from one
// 16-byte window of the native line: per pair of bytes a window start and
// the 16 pixels' offsets into it, each byte's 8 in reverse order, so that
// the comparison mask comes out most significant bit first. Indices are
// the plain form's, clamped to the last pixel as it does; a window never
// reaches past the line. A last pair of fewer than 16 pixels takes the
// window's first pixel for the missing ones and masks their bits off.

struct BitsTable {
    uint32_t m, n, rx, qx;
    uint32_t pixels;        // pixels a group: 16 (pairs of bytes) or 64 (8 bytes)
    uint32_t pairs;         // groups the table covers, from output pixel 0
    uint32_t whole;         // of them, full groups
    uint32_t tailA, tailS;  // the plain form's accumulator and source index after them
    uint64_t lastMask;      // bits the last, short group keeps
    uint32_t lastBytes;     // and the bytes it writes
    uint32_t *s0;
    uint8_t *control;  // 64-byte aligned, `pixels` bytes a group
    void *block;
    size_t capacity;
    bool valid;
};

BitsTable g_bits = {};    // groups of 16 pixels (SSSE3, AVX2)
BitsTable g_bits64 = {};  // groups of 64 pixels (AVX-512 VBMI)

bool BuildBits(BitsTable &tb, uint32_t pixels, uint32_t m, uint32_t n, uint32_t rx, uint32_t qx) {
    if (tb.valid && tb.m == m && tb.n == n && tb.rx == rx && tb.qx == qx && tb.pixels == pixels) return true;
    tb.valid = false;
    if (n < pixels) return false;
    const uint32_t most = (m + pixels - 1) / pixels;
    if (!Reserve(&tb.block, &tb.capacity, (size_t)most * (pixels + sizeof(uint32_t)) + 63)) return false;
    tb.control = reinterpret_cast<uint8_t *>(((uintptr_t)tb.block + 63) & ~(uintptr_t)63);
    tb.s0 = reinterpret_cast<uint32_t *>(tb.control + (size_t)most * pixels);
    const uint32_t last = n - 1;
    uint32_t a = rx, s = 0, groups = 0;
    tb.tailA = a;
    tb.tailS = s;
    tb.lastMask = ~0ull;
    tb.lastBytes = pixels / 8;
    for (uint32_t p = 0; p < most; ++p) {
        const uint32_t count = m - pixels * p < pixels ? m - pixels * p : pixels;
        uint32_t at[64];
        uint32_t sa = a, ss = s;
        for (uint32_t t = 0; t < count; ++t) {
            while (sa < qx) {  // as the plain form steps
                sa += rx;
                ++ss;
            }
            at[t] = ss < last ? ss : last;
            sa -= qx;
        }
        const uint32_t base = at[0] < n - pixels ? at[0] : n - pixels;
        if (at[count - 1] - base > pixels - 1) break;  // shrinking: the group's pixels lie too far apart
        uint8_t *control = tb.control + (size_t)pixels * p;
        uint64_t keep = 0;
        for (uint32_t t = 0; t < pixels; ++t) {
            const uint32_t lane = 8 * (t / 8) + 7 - t % 8;
            control[lane] = (uint8_t)(t < count ? at[t] - base : 0);
            if (t < count) keep |= 1ull << lane;
        }
        tb.s0[p] = base;
        if (count < pixels) {
            tb.lastMask = keep;
            tb.lastBytes = (count + 7) / 8;
        }
        a = sa;
        s = ss;
        groups = p + 1;
        tb.tailA = a;
        tb.tailS = s;
    }
    tb.pixels = pixels;
    tb.pairs = groups;
    tb.whole = groups < m / pixels ? groups : m / pixels;
    tb.m = m;
    tb.n = n;
    tb.rx = rx;
    tb.qx = qx;
    tb.valid = true;
    return true;
}

// g >= t, unsigned, as min(g, t) == t: one pair's mask.
SSSE3_FN inline uint32_t BitsMask(const uint8_t *current, uint32_t s0, const uint8_t *control, __m128i t) {
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(current + s0));
    const __m128i g = _mm_shuffle_epi8(w, _mm_load_si128(reinterpret_cast<const __m128i *>(control)));
    return (uint32_t)_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(g, t), t));
}

// Pairs from p on, after the loop of 4 pairs at a time, and the short last pair.
SSSE3_FN void BitsRest(uint8_t *out, const uint8_t *current, const uint8_t *row, uint32_t p, const uint32_t *s0,
                       const uint8_t *control) {
    uint8_t reversed[16];
    for (int t = 0; t < 8; ++t) reversed[t] = reversed[8 + t] = row[7 - t];
    const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i *>(reversed));
    for (; p < g_bits.whole; ++p, out += 2, ++s0, control += 16) {
        const uint32_t mask = BitsMask(current, *s0, control, t);
        out[0] = (uint8_t)mask;
        out[1] = (uint8_t)(mask >> 8);
    }
    if (g_bits.pairs > g_bits.whole) {  // the line's short last pair
        const uint32_t mask = BitsMask(current, *s0, control, t) & (uint32_t)g_bits.lastMask;
        out[0] = (uint8_t)mask;
        if (g_bits.lastBytes > 1) out[1] = (uint8_t)(mask >> 8);
    }
}

SSSE3_FN void BitsPairs(uint8_t *out, const uint8_t *current, const uint8_t *row) {
    uint8_t reversed[16];
    for (int t = 0; t < 8; ++t) reversed[t] = reversed[8 + t] = row[7 - t];
    const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i *>(reversed));
    // Locals: the output stores could otherwise alias the table's fields.
    const uint32_t *s0 = g_bits.s0;
    const uint8_t *control = g_bits.control;
    const uint32_t whole = g_bits.whole;
    uint32_t p = 0;
    for (; p + 4 <= whole; p += 4, out += 8, s0 += 4, control += 64) {
        const uint32_t lo = BitsMask(current, s0[0], control, t) | BitsMask(current, s0[1], control + 16, t) << 16;
        const uint32_t hi = BitsMask(current, s0[2], control + 32, t) | BitsMask(current, s0[3], control + 48, t)
                                                                            << 16;
        memcpy(out, &lo, 4);
        memcpy(out + 4, &hi, 4);
    }
    BitsRest(out, current, row, p, s0, control);
}

// The same, two pairs (4 output bytes) to a 256-bit register.
AVX2_FN void BitsPairsAvx2(uint8_t *out, const uint8_t *current, const uint8_t *row) {
    uint8_t reversed[16];
    for (int t = 0; t < 8; ++t) reversed[t] = reversed[8 + t] = row[7 - t];
    const __m256i t = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(reversed)));
    const uint32_t *s0 = g_bits.s0;
    const uint8_t *control = g_bits.control;
    const uint32_t whole = g_bits.whole;
    uint32_t p = 0;
    for (; p + 4 <= whole; p += 4, out += 8, s0 += 4, control += 64) {
        const __m256i w0 = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(current + s0[0]))),
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(current + s0[1])), 1);
        const __m256i w1 = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(current + s0[2]))),
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(current + s0[3])), 1);
        const __m256i g0 = _mm256_shuffle_epi8(w0, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(control)));
        const __m256i g1 =
            _mm256_shuffle_epi8(w1, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(control + 32)));
        const uint32_t lo = (uint32_t)_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_min_epu8(g0, t), t));
        const uint32_t hi = (uint32_t)_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_min_epu8(g1, t), t));
        memcpy(out, &lo, 4);
        memcpy(out + 4, &hi, 4);
    }
    _mm256_zeroupper();
    // The rest, under 4 pairs, as the SSSE3 form does them.
    BitsRest(out, current, row, p, s0, control);
}

// 8 output bytes (64 pixels) at a time from one 64-byte window: a full
// byte permute and a comparison straight into a mask register.
AVX512_FN void BitsGroups64(uint8_t *out, const uint8_t *current, const uint8_t *row) {
    uint8_t reversed[8];
    for (int t = 0; t < 8; ++t) reversed[t] = row[7 - t];
    uint64_t r8;
    memcpy(&r8, reversed, 8);
    const __m512i t = _mm512_set1_epi64((long long)r8);
    const uint32_t *s0 = g_bits64.s0;
    const uint8_t *control = g_bits64.control;
    const uint32_t whole = g_bits64.whole;
    uint32_t p = 0;
    for (; p < whole; ++p, out += 8, ++s0, control += 64) {
        const __m512i w = _mm512_loadu_si512(current + *s0);
        const __m512i g = _mm512_maskz_permutexvar_epi8(~(__mmask64)0, _mm512_load_si512(control), w);
        const __mmask64 mask = _mm512_cmpge_epu8_mask(g, t);
        _store_mask64(reinterpret_cast<__mmask64 *>(out), mask);
    }
    if (g_bits64.pairs > whole) {  // the line's short last group
        const __m512i w = _mm512_loadu_si512(current + *s0);
        const __m512i g = _mm512_maskz_permutexvar_epi8(~(__mmask64)0, _mm512_load_si512(control), w);
        const uint64_t mask = (uint64_t)_mm512_cmpge_epu8_mask(g, t) & g_bits64.lastMask;
        for (uint32_t j = 0; j < g_bits64.lastBytes; ++j) out[j] = (uint8_t)(mask >> (8 * j));
    }
    _mm256_zeroupper();
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
    if (g_simdLimit < CONVERTER_SIMD_SSSE3 || !HasSsse3() || m == 0 || n < 16 || rx == 0 || qx == 0) return false;
    const uint32_t level = g_simdLimit < VectorLevel() ? g_simdLimit : VectorLevel();
    if (level >= CONVERTER_SIMD_AVX512 && n >= 64 && BuildBits(g_bits64, 64, m, n, rx, qx) && g_bits64.pairs != 0) {
        BitsGroups64(out, current, row);
        *tailA = g_bits64.tailA;
        *tailS = g_bits64.tailS;
        *doneBytes = g_bits64.pairs > g_bits64.whole ? (m + 7) / 8 : 8 * g_bits64.pairs;
        return true;
    }
    if (!BuildBits(g_bits, 16, m, n, rx, qx) || g_bits.pairs == 0) return false;
    if (level >= CONVERTER_SIMD_AVX2)
        BitsPairsAvx2(out, current, row);
    else
        BitsPairs(out, current, row);
    *tailA = g_bits.tailA;
    *tailS = g_bits.tailS;
    *doneBytes = g_bits.pairs > g_bits.whole ? (m + 7) / 8 : 2 * g_bits.pairs;
    return true;
#else
    (void)out, (void)current, (void)m, (void)n, (void)rx, (void)qx, (void)row, (void)tailA, (void)tailS,
        (void)doneBytes;
    return false;
#endif
}

uint32_t ResampleSimd(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n, uint32_t ch) {
#ifdef RESCALE_SIMD
    if (g_simdLimit < CONVERTER_SIMD_SSSE3 || !HasSsse3() || ch * n < 16 || !BuildGray(m, n, ch)) return 0;
    GrayGroups(out, current);
    return g_gray.groups * 8;
#else
    (void)out, (void)current, (void)m, (void)n, (void)ch;
    return 0;
#endif
}

void ReleaseConverterTables() {
#ifdef RESCALE_SIMD
    free(g_bits.block);
    free(g_bits64.block);
    free(g_gray.group);
    g_bits = BitsTable{};
    g_bits64 = BitsTable{};
    g_gray = GrayTable{};
#endif
}

void LimitConverterSimd(uint32_t level) { g_simdLimit = level; }
