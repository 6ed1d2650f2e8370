#include "rescale.h"

#include "rescale_simd.h"

#include <string.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

void StepVertical(VerticalStep *step, uint32_t ry, uint32_t qy) {
    if (step->repeatCount != 0 || qy == 0) return;
    step->accumulator += ry;
    step->repeatCount += step->accumulator / qy;
    step->accumulator %= qy;
}

void AverageLines(uint8_t *current, const uint8_t *next, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) current[i] = (uint8_t)(((unsigned)current[i] + next[i]) >> 1);
}

namespace {

// The plain form's loop from output pixel i0 (a multiple of 8) with its
// accumulator and source index there.
void BitsFrom(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n, uint32_t rx, uint32_t qx,
              const uint8_t *row, uint32_t p0, uint32_t i0, uint32_t a, uint32_t s) {
    const uint32_t last = n - 1;
    uint32_t byte = 0;
    out += i0 / 8;
    for (uint32_t i = i0; i < m; ++i) {
        while (a < qx) {  // more than once only when Rx is below Qx
            a += rx;
            ++s;
        }
        const uint8_t g = current[s < last ? s : last];
        byte = (byte << 1) | (g >= row[(p0 + i) & 7] ? 1u : 0u);
        if ((i & 7) == 7) {
            *out++ = (uint8_t)byte;
            byte = 0;
        }
        a -= qx;
    }
    if (m & 7) *out = (uint8_t)(byte << (8 - (m & 7)));
}

}  // namespace

void ConvertToBitsPlain(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n, uint32_t rx, uint32_t qx,
                        const uint8_t pattern[64], uint32_t *halftonePosition) {
    const uint32_t p0 = *halftonePosition & 63;
    *halftonePosition = (p0 + 8) & 63;
    if (m == 0) return;
    if (n == 0 || rx == 0) {
        memset(out, 0, (m + 7) / 8);
        return;
    }
    BitsFrom(out, current, m, n, rx, qx, pattern + (p0 & ~7u), p0, 0, rx, 0);
}

namespace {

// Bits of a byte in the opposite order: a mask taken pixel 0 first into
// the low bit becomes the line's most-significant-bit-first byte.
struct BitReversal {
    uint8_t table[256];
    constexpr BitReversal() : table() {
        for (int v = 0; v < 256; ++v) {
            int r = 0;
            for (int b = 0; b < 8; ++b)
                if (v & (1 << b)) r |= 0x80 >> b;
            table[v] = (uint8_t)r;
        }
    }
};
constexpr BitReversal kReversed;

// Doubling (Rx = 2 Qx): output pixel i takes native pixel i / 2, so output
// byte j is made of native pixels 4j .. 4j + 3, each twice.
void DoubleToBits(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n, const uint8_t *row) {
    const uint32_t whole = m / 8;
    // Bytes whose native pixels all lie inside the line.
    uint32_t inside = n / 4 < whole ? n / 4 : whole;
    uint32_t j = 0;
#ifdef __SSE2__
    const __m128i thresholds = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(row));
    const __m128i t = _mm_unpacklo_epi64(thresholds, thresholds);
    for (; j + 4 <= inside; j += 4) {
        const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i *>(current + 4 * j));
        const __m128i lo = _mm_unpacklo_epi8(g, g), hi = _mm_unpackhi_epi8(g, g);
        // g >= t, unsigned: max(g, t) == g.
        const uint32_t a = (uint32_t)_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(lo, t), lo));
        const uint32_t b = (uint32_t)_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(hi, t), hi));
        out[j] = kReversed.table[a & 0xFF];
        out[j + 1] = kReversed.table[a >> 8];
        out[j + 2] = kReversed.table[b & 0xFF];
        out[j + 3] = kReversed.table[b >> 8];
    }
#endif
    for (; j < inside; ++j) {
        const uint8_t *g = current + 4 * j;
        out[j] = (uint8_t)((g[0] >= row[0]) << 7 | (g[0] >= row[1]) << 6 | (g[1] >= row[2]) << 5 |
                           (g[1] >= row[3]) << 4 | (g[2] >= row[4]) << 3 | (g[2] >= row[5]) << 2 |
                           (g[3] >= row[6]) << 1 | (g[3] >= row[7]));
    }
    // The rest, where the last native pixel stands in for those past it.
    const uint32_t last = n - 1;
    uint32_t byte = 0;
    for (uint32_t i = 8 * j; i < m; ++i) {
        const uint32_t s = i / 2;
        byte = (byte << 1) | (current[s < last ? s : last] >= row[i & 7] ? 1u : 0u);
        if ((i & 7) == 7) {
            out[i / 8] = (uint8_t)byte;
            byte = 0;
        }
    }
    if (m & 7) out[m / 8] = (uint8_t)(byte << (8 - (m & 7)));
}

}  // namespace

void ConvertToBits(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n, uint32_t rx, uint32_t qx,
                   const uint8_t pattern[64], uint32_t *halftonePosition) {
    const uint32_t p0 = *halftonePosition & 63;
    uint32_t a, s, done;
    if (m != 0 && n != 0 && (p0 & 7) == 0 &&
        ConvertToBitsSimd(out, current, m, n, rx, qx, pattern + p0, &a, &s, &done)) {
        *halftonePosition = (p0 + 8) & 63;
        if (8 * (uint64_t)done < m) BitsFrom(out, current, m, n, rx, qx, pattern + p0, p0, 8 * done, a, s);
        return;
    }
    if (m != 0 && n != 0 && qx != 0 && rx == 2 * qx && (p0 & 7) == 0) {
        *halftonePosition = (p0 + 8) & 63;
        return DoubleToBits(out, current, m, n, pattern + p0);
    }
    ConvertToBitsPlain(out, current, m, n, rx, qx, pattern, halftonePosition);
}

namespace {

template <uint32_t CH>
void ResamplePlain(uint8_t *out, const uint8_t *cur, uint32_t m, uint32_t n) {
    if (m == 0 || n == 0) return;
    for (uint32_t c = 0; c < CH; ++c) {
        out[c] = cur[c];
        out[(size_t)(m - 1) * CH + c] = cur[(size_t)(n - 1) * CH + c];
    }
    uint32_t phase = n, s = 0;
    while (phase >= m) {
        ++s;
        phase -= m;
    }
    for (uint32_t k = 1; k + 1 < m; ++k) {
        const uint32_t s0 = s < n - 1 ? s : n - 1;
        const uint32_t s1 = s + 1 < n - 1 ? s + 1 : n - 1;
        for (uint32_t c = 0; c < CH; ++c)
            out[(size_t)k * CH + c] = (uint8_t)(((m - phase) * cur[(size_t)s0 * CH + c]) / m +
                                                (phase * cur[(size_t)s1 * CH + c]) / m);
        phase += n;
        while (phase >= m) {
            ++s;
            phase -= m;
        }
    }
}

// The interpolation without divisions. With 2^K >= 256 M, the weights
// become c0 = ceil((M - phase) 2^K / M) and c1 = ceil(phase 2^K / M), and
// (v c) >> K is floor(v w / M) exactly for every byte v: the rounding up
// adds less than v / 2^K < 1 / M, too little to reach the next integer.
// c0 = 2^K - floor(phase 2^K / M); phase 2^K = Q M + R is kept up to date
// by additions as the phase moves, and the phase passes M when Q reaches
// 2^K.
struct Weights {
    uint32_t k, one;
    uint32_t whole, stepQ, stepR;
    uint32_t q, r, s;
};

template <uint32_t CH>
inline void Interpolate(uint8_t *o, const uint8_t *p0, const uint8_t *p1, const Weights &w) {
    const uint32_t c0 = w.one - w.q, c1 = w.q + (w.r != 0);
    for (uint32_t c = 0; c < CH; ++c) o[c] = (uint8_t)(((p0[c] * c0) >> w.k) + ((p1[c] * c1) >> w.k));
}

inline void Advance(Weights *w, uint32_t m) {
    w->s += w->whole;
    w->q += w->stepQ;
    w->r += w->stepR;
    const uint32_t carry = w->r >= m;
    w->r -= carry ? m : 0;
    w->q += carry;
    const uint32_t wrap = w->q >= w->one;
    w->q -= wrap ? w->one : 0;
    w->s += wrap;
}

// Doubling (M = 2N): every phase is 0 or one half, so output pixel 2j is
// native pixel j and pixel 2j + 1 is floor(a / 2) + floor(b / 2) of native
// pixels j and j + 1; the last two are the last native pixel.
inline uint32_t Halves(uint32_t a, uint32_t b) { return ((a >> 1) & 0x7F7F7F7Fu) + ((b >> 1) & 0x7F7F7F7Fu); }

void DoubleGray(uint8_t *out, const uint8_t *cur, uint32_t n) {
    uint32_t j = 0;
#ifdef __SSE2__
    const __m128i low7 = _mm_set1_epi8(0x7F);
    for (; j + 16 < n; j += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(cur + j));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(cur + j + 1));
        const __m128i h = _mm_add_epi8(_mm_and_si128(_mm_srli_epi16(a, 1), low7),
                                       _mm_and_si128(_mm_srli_epi16(b, 1), low7));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 2 * j), _mm_unpacklo_epi8(a, h));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 2 * j + 16), _mm_unpackhi_epi8(a, h));
    }
#endif
    for (; j + 1 < n; ++j) {
        out[2 * j] = cur[j];
        out[2 * j + 1] = (uint8_t)((cur[j] >> 1) + (cur[j + 1] >> 1));
    }
    out[2 * n - 2] = out[2 * n - 1] = cur[n - 1];
}

void DoubleRgb(uint8_t *out, const uint8_t *cur, uint32_t n) {
    uint32_t j = 0;
    // Four bytes at a time: the fourth byte of each store is overwritten by
    // the next one, and no load reaches past the line.
    for (; j + 2 < n; ++j) {
        uint32_t a, b;
        memcpy(&a, cur + 3 * j, 4);
        memcpy(&b, cur + 3 * j + 3, 4);
        const uint32_t h = Halves(a, b);
        memcpy(out + 6 * j, &a, 4);
        memcpy(out + 6 * j + 3, &h, 4);
    }
    for (; j + 1 < n; ++j)
        for (uint32_t c = 0; c < 3; ++c) {
            out[6 * j + c] = cur[3 * j + c];
            out[6 * j + 3 + c] = (uint8_t)((cur[3 * j + c] >> 1) + (cur[3 * j + 3 + c] >> 1));
        }
    for (uint32_t c = 0; c < 3; ++c) out[6 * n - 6 + c] = out[6 * n - 3 + c] = cur[3 * n - 3 + c];
}

template <uint32_t CH>
void ResampleFast(uint8_t *out, const uint8_t *cur, uint32_t m, uint32_t n) {
    if (n >= 2 && m == 2 * n) return CH == 1 ? DoubleGray(out, cur, n) : DoubleRgb(out, cur, n);
    if (n == 0 || m == 0 || m > 65536) return ResamplePlain<CH>(out, cur, m, n);
    for (uint32_t c = 0; c < CH; ++c) {
        out[c] = cur[c];
        out[(size_t)(m - 1) * CH + c] = cur[(size_t)(n - 1) * CH + c];
    }
    if (m < 3) return;
    if (uint32_t done = ResampleSimd(out, cur, m, n, CH)) {
        // The last few pixels (and one the groups ended in), each straight
        // from its position k N / M.
        const uint32_t last = n - 1;
        for (uint32_t k = (CH + done) / CH; k + 1 < m; ++k) {
            const uint64_t position = (uint64_t)k * n;
            const uint32_t s = (uint32_t)(position / m), phase = (uint32_t)(position % m);
            const uint32_t s0 = s < last ? s : last, s1 = s + 1 < last ? s + 1 : last;
            for (uint32_t c = 0; c < CH; ++c)
                out[(size_t)k * CH + c] = (uint8_t)(((m - phase) * cur[(size_t)s0 * CH + c]) / m +
                                                    (phase * cur[(size_t)s1 * CH + c]) / m);
        }
        return;
    }
    Weights w;
    w.k = 0;
    while ((1ull << w.k) < 256ull * m) ++w.k;
    w.one = 1u << w.k;
    w.whole = n / m;
    const uint64_t step = (uint64_t)(n % m) << w.k;
    w.stepQ = (uint32_t)(step / m);
    w.stepR = (uint32_t)(step % m);
    w.s = w.whole;
    w.q = w.stepQ;
    w.r = w.stepR;
    const uint32_t last = n - 1;
    uint8_t *o = out + CH;
    uint32_t i = 1;
    // Both neighbours inside the line.
    for (; i + 1 < m && w.s + 1 < last; ++i, o += CH) {
        const uint8_t *p0 = cur + (size_t)w.s * CH;
        Interpolate<CH>(o, p0, p0 + CH, w);
        Advance(&w, m);
    }
    // The right edge: what lies past the last pixel is the last pixel.
    const uint8_t *lastPixel = cur + (size_t)last * CH;
    for (; i + 1 < m; ++i, o += CH) {
        const uint8_t *p0 = w.s < last ? cur + (size_t)w.s * CH : lastPixel;
        Interpolate<CH>(o, p0, w.s + 1 < last ? p0 + CH : lastPixel, w);
        Advance(&w, m);
    }
}

}  // namespace

void ResampleGray(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n) {
    ResampleFast<1>(out, current, m, n);
}

void ResampleRgb(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n) {
    ResampleFast<3>(out, current, m, n);
}

void ResampleGrayPlain(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n) {
    ResamplePlain<1>(out, current, m, n);
}

void ResampleRgbPlain(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n) {
    ResamplePlain<3>(out, current, m, n);
}

uint64_t ConvertedLineBytes(uint32_t converter, uint32_t m) {
    switch (converter) {
    case LINE_CONVERTER_BITS: return ((uint64_t)m + 7) / 8;
    case LINE_CONVERTER_GRAY: return m;
    case LINE_CONVERTER_RGB: return 3ull * m;
    }
    return 0;
}

uint64_t NativeLineBytes(uint32_t converter, uint32_t n) {
    return converter == LINE_CONVERTER_RGB ? 3ull * n : (uint64_t)n;
}
