// AVX2 forms of the line routines: sixteen channels at a time in 16-bit
// lanes, which wrap exactly like the defined 16-bit sum.
#include "line_fast.h"

#if defined(DSCRN_HAVE_X86)
#include <immintrin.h>

#define AVX2_FN __attribute__((target("avx2")))

namespace {

AVX2_FN inline __m256i Widen(const uint8_t* p)
{
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

AVX2_FN inline __m128i Narrow(__m256i v)
{
    return _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

AVX2_FN void Convolve3x3Avx2(const uint8_t* const rows[3], uint8_t* dst, uint32_t width,
                             uint32_t bpp, const int8_t* kernel, uint8_t divisor)
{
    const size_t n = static_cast<size_t>(width) * bpp;
    if (n < 16) {
        ConvolveBytesScalar(rows, dst, 0, n, bpp, kernel, divisor);
        return;
    }
    const DivisorReciprocal rc = DivisorReciprocals[divisor];
    const __m256i mul = _mm256_set1_epi16(static_cast<int16_t>(rc.mul));
    const __m128i pre = _mm_cvtsi32_si128(rc.pre);
    const __m128i shift = _mm_cvtsi32_si128(rc.shift);
    const __m256i zero = _mm256_setzero_si256();
    __m256i w[9];
    for (int k = 0; k < 9; k++)
        w[k] = _mm256_set1_epi16(kernel[k]);
    const size_t s = bpp;
    const uint8_t* a = rows[0];
    const uint8_t* b = rows[1];
    const uint8_t* c = rows[2];
    for (size_t i = 0;;) {
        __m256i acc = _mm256_mullo_epi16(Widen(a + i - s), w[0]);
        acc = _mm256_add_epi16(acc, _mm256_mullo_epi16(Widen(a + i), w[1]));
        acc = _mm256_add_epi16(acc, _mm256_mullo_epi16(Widen(a + i + s), w[2]));
        acc = _mm256_add_epi16(acc, _mm256_mullo_epi16(Widen(b + i - s), w[3]));
        acc = _mm256_add_epi16(acc, _mm256_mullo_epi16(Widen(b + i), w[4]));
        acc = _mm256_add_epi16(acc, _mm256_mullo_epi16(Widen(b + i + s), w[5]));
        acc = _mm256_add_epi16(acc, _mm256_mullo_epi16(Widen(c + i - s), w[6]));
        acc = _mm256_add_epi16(acc, _mm256_mullo_epi16(Widen(c + i), w[7]));
        acc = _mm256_add_epi16(acc, _mm256_mullo_epi16(Widen(c + i + s), w[8]));
        acc = _mm256_sll_epi16(_mm256_max_epi16(acc, zero), pre);
        acc = _mm256_srl_epi16(_mm256_mulhi_epu16(acc, mul), shift);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), Narrow(acc));
        if (i + 16 >= n)
            break;
        // The last vector overlaps the one before rather than running past the line.
        i = i + 32 <= n ? i + 16 : n - 16;
    }
}

AVX2_FN void DescreenSpanAvx2(const uint8_t* const rows[5], uint8_t* out, size_t begin,
                              size_t end, size_t step, bool gray)
{
    if (end - begin < 16) {
        DescreenBytesScalar(rows, out, begin, end, step, gray);
        return;
    }
    const __m256i div13 = _mm256_set1_epi16(static_cast<int16_t>(DIV13_MUL));
    const size_t s = step;
    const uint8_t* r0 = rows[0];
    const uint8_t* r1 = rows[1];
    const uint8_t* r2 = rows[2];
    const uint8_t* r3 = rows[3];
    const uint8_t* r4 = rows[4];
    for (size_t i = begin;;) {
        __m256i sum = _mm256_add_epi16(Widen(r0 + i), Widen(r4 + i));
        sum = _mm256_add_epi16(sum, _mm256_add_epi16(Widen(r1 + i - s), Widen(r1 + i)));
        sum = _mm256_add_epi16(sum, _mm256_add_epi16(Widen(r1 + i + s), Widen(r3 + i - s)));
        sum = _mm256_add_epi16(sum, _mm256_add_epi16(Widen(r3 + i), Widen(r3 + i + s)));
        sum = _mm256_add_epi16(sum, _mm256_add_epi16(Widen(r2 + i - 2 * s), Widen(r2 + i - s)));
        sum = _mm256_add_epi16(sum, _mm256_add_epi16(Widen(r2 + i), Widen(r2 + i + s)));
        sum = _mm256_add_epi16(sum, Widen(r2 + i + 2 * s));
        sum = gray ? _mm256_srli_epi16(sum, 4) : _mm256_mulhi_epu16(sum, div13);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + (i - begin)), Narrow(sum));
        if (i + 16 >= end)
            break;
        i = i + 32 <= end ? i + 16 : end - 16;
    }
}

void Descreen13Avx2(const uint8_t* const rows[5], uint8_t* dst, uint32_t srcWidth,
                    uint32_t dstWidth, uint32_t resolution, uint32_t bpp)
{
    DescreenBySpans(DescreenSpanAvx2, rows, dst, srcWidth, dstWidth, resolution, bpp);
}

}  // namespace

const LineRoutines LineRoutinesAvx2 = {Convolve3x3Avx2, Descreen13Avx2, CopyDecimatedFast};

#endif
