// SSE2 forms of the line routines: eight or sixteen channels at a time in
// 16-bit lanes, which wrap exactly like the defined 16-bit sum.
#include "line_fast.h"

#if defined(DSCRN_HAVE_X86)
#include <emmintrin.h>

#define SSE2_FN __attribute__((target("sse2")))

namespace {

SSE2_FN inline __m128i Widen(const uint8_t* p, __m128i* hi)
{
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i zero = _mm_setzero_si128();
    *hi = _mm_unpackhi_epi8(v, zero);
    return _mm_unpacklo_epi8(v, zero);
}

SSE2_FN void Convolve3x3Sse2(const uint8_t* const rows[3], uint8_t* dst, uint32_t width,
                             uint32_t bpp, const int8_t* kernel, uint8_t divisor)
{
    const size_t n = static_cast<size_t>(width) * bpp;
    if (n < 16) {
        ConvolveBytesScalar(rows, dst, 0, n, bpp, kernel, divisor);
        return;
    }
    const DivisorReciprocal rc = DivisorReciprocals[divisor];
    const __m128i mul = _mm_set1_epi16(static_cast<int16_t>(rc.mul));
    const __m128i pre = _mm_cvtsi32_si128(rc.pre);
    const __m128i shift = _mm_cvtsi32_si128(rc.shift);
    const __m128i zero = _mm_setzero_si128();
    __m128i w[9];
    for (int k = 0; k < 9; k++)
        w[k] = _mm_set1_epi16(kernel[k]);
    const size_t s = bpp;
    for (size_t i = 0;;) {
        __m128i lo = zero, hi = zero;
        for (int r = 0; r < 3; r++) {
            const uint8_t* p = rows[r] + i;
            __m128i vh;
            __m128i vl = Widen(p - s, &vh);
            lo = _mm_add_epi16(lo, _mm_mullo_epi16(vl, w[3 * r]));
            hi = _mm_add_epi16(hi, _mm_mullo_epi16(vh, w[3 * r]));
            vl = Widen(p, &vh);
            lo = _mm_add_epi16(lo, _mm_mullo_epi16(vl, w[3 * r + 1]));
            hi = _mm_add_epi16(hi, _mm_mullo_epi16(vh, w[3 * r + 1]));
            vl = Widen(p + s, &vh);
            lo = _mm_add_epi16(lo, _mm_mullo_epi16(vl, w[3 * r + 2]));
            hi = _mm_add_epi16(hi, _mm_mullo_epi16(vh, w[3 * r + 2]));
        }
        lo = _mm_srl_epi16(_mm_mulhi_epu16(_mm_sll_epi16(_mm_max_epi16(lo, zero), pre), mul), shift);
        hi = _mm_srl_epi16(_mm_mulhi_epu16(_mm_sll_epi16(_mm_max_epi16(hi, zero), pre), mul), shift);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(lo, hi));
        if (i + 16 >= n)
            break;
        // The last vector overlaps the one before rather than running past the line.
        i = i + 32 <= n ? i + 16 : n - 16;
    }
}

SSE2_FN void DescreenSpanSse2(const uint8_t* const rows[5], uint8_t* out, size_t begin,
                              size_t end, size_t step, bool gray)
{
    if (end - begin < 16) {
        DescreenBytesScalar(rows, out, begin, end, step, gray);
        return;
    }
    const __m128i div13 = _mm_set1_epi16(static_cast<int16_t>(DIV13_MUL));
    const size_t s = step;
    for (size_t i = begin;;) {
        __m128i h, lo, hi;
        lo = Widen(rows[0] + i, &hi);
        const uint8_t* r1 = rows[1] + i;
        __m128i l2 = Widen(r1 - s, &h);
        lo = _mm_add_epi16(lo, l2), hi = _mm_add_epi16(hi, h);
        l2 = Widen(r1, &h), lo = _mm_add_epi16(lo, l2), hi = _mm_add_epi16(hi, h);
        l2 = Widen(r1 + s, &h), lo = _mm_add_epi16(lo, l2), hi = _mm_add_epi16(hi, h);
        const uint8_t* r2 = rows[2] + i;
        l2 = Widen(r2 - 2 * s, &h), lo = _mm_add_epi16(lo, l2), hi = _mm_add_epi16(hi, h);
        l2 = Widen(r2 - s, &h), lo = _mm_add_epi16(lo, l2), hi = _mm_add_epi16(hi, h);
        l2 = Widen(r2, &h), lo = _mm_add_epi16(lo, l2), hi = _mm_add_epi16(hi, h);
        l2 = Widen(r2 + s, &h), lo = _mm_add_epi16(lo, l2), hi = _mm_add_epi16(hi, h);
        l2 = Widen(r2 + 2 * s, &h), lo = _mm_add_epi16(lo, l2), hi = _mm_add_epi16(hi, h);
        const uint8_t* r3 = rows[3] + i;
        l2 = Widen(r3 - s, &h), lo = _mm_add_epi16(lo, l2), hi = _mm_add_epi16(hi, h);
        l2 = Widen(r3, &h), lo = _mm_add_epi16(lo, l2), hi = _mm_add_epi16(hi, h);
        l2 = Widen(r3 + s, &h), lo = _mm_add_epi16(lo, l2), hi = _mm_add_epi16(hi, h);
        l2 = Widen(rows[4] + i, &h), lo = _mm_add_epi16(lo, l2), hi = _mm_add_epi16(hi, h);
        if (gray) {
            lo = _mm_srli_epi16(lo, 4);
            hi = _mm_srli_epi16(hi, 4);
        } else {
            lo = _mm_mulhi_epu16(lo, div13);
            hi = _mm_mulhi_epu16(hi, div13);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + (i - begin)), _mm_packus_epi16(lo, hi));
        if (i + 16 >= end)
            break;
        i = i + 32 <= end ? i + 16 : end - 16;
    }
}

void Descreen13Sse2(const uint8_t* const rows[5], uint8_t* dst, uint32_t srcWidth,
                    uint32_t dstWidth, uint32_t resolution, uint32_t bpp)
{
    DescreenBySpans(DescreenSpanSse2, rows, dst, srcWidth, dstWidth, resolution, bpp);
}

}  // namespace

const LineRoutines LineRoutinesSse2 = {Convolve3x3Sse2, Descreen13Sse2, CopyDecimatedFast};

#endif
