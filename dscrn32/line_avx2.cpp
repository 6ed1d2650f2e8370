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

// The pixel step S is a constant, so that in 32-bit code the neighbours
// are address displacements and the loop keeps its pointers in registers.
// Rows b and c and the output are addressed from row a's pointer.
template <size_t S>
AVX2_FN inline void ConvolveLineAvx2(const uint8_t* const rows[3], uint8_t* dst, size_t n,
                                     const int8_t* kernel, uint8_t divisor)
{
    const DivisorReciprocal rc = DivisorReciprocals[divisor];
    const __m256i mul = _mm256_set1_epi16(static_cast<int16_t>(rc.mul));
    const __m128i pre = _mm_cvtsi32_si128(rc.pre);
    const __m128i shift = _mm_cvtsi32_si128(rc.shift);
    __m256i w[9];
    for (int k = 0; k < 9; k++)
        w[k] = _mm256_set1_epi16(kernel[k]);
    const uint8_t* a = rows[0];
    const ptrdiff_t toB = rows[1] - a, toC = rows[2] - a, toDst = dst - a;
    auto vector = [&](const uint8_t* p) AVX2_FN {
        // Two sums, so that the adds do not wait on each other; 16-bit
        // lanes wrap alike in either order.
        __m256i even = _mm256_mullo_epi16(Widen(p - S), w[0]);
        __m256i odd = _mm256_mullo_epi16(Widen(p), w[1]);
        even = _mm256_add_epi16(even, _mm256_mullo_epi16(Widen(p + S), w[2]));
        odd = _mm256_add_epi16(odd, _mm256_mullo_epi16(Widen(p + toB - S), w[3]));
        even = _mm256_add_epi16(even, _mm256_mullo_epi16(Widen(p + toB), w[4]));
        odd = _mm256_add_epi16(odd, _mm256_mullo_epi16(Widen(p + toB + S), w[5]));
        even = _mm256_add_epi16(even, _mm256_mullo_epi16(Widen(p + toC - S), w[6]));
        odd = _mm256_add_epi16(odd, _mm256_mullo_epi16(Widen(p + toC), w[7]));
        even = _mm256_add_epi16(even, _mm256_mullo_epi16(Widen(p + toC + S), w[8]));
        __m256i acc = _mm256_max_epi16(_mm256_add_epi16(even, odd), _mm256_setzero_si256());
        acc = _mm256_srl_epi16(_mm256_mulhi_epu16(_mm256_sll_epi16(acc, pre), mul), shift);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(const_cast<uint8_t*>(p) + toDst), Narrow(acc));
    };
    const uint8_t* last = a + n - 16;
    for (const uint8_t* p = a; p < last; p += 16)
        vector(p);
    vector(last);  // overlaps the one before rather than running past the line
}

AVX2_FN void Convolve3x3Avx2(const uint8_t* const rows[3], uint8_t* dst, uint32_t width,
                             uint32_t bpp, const int8_t* kernel, uint8_t divisor)
{
    const size_t n = static_cast<size_t>(width) * bpp;
    if (n < 16)
        ConvolveBytesScalar(rows, dst, 0, n, bpp, kernel, divisor);
    else if (bpp == 1)
        ConvolveLineAvx2<1>(rows, dst, n, kernel, divisor);
    else
        ConvolveLineAvx2<3>(rows, dst, n, kernel, divisor);
}

template <size_t S>
AVX2_FN inline void DescreenSpanAvx2(const uint8_t* const rows[5], uint8_t* out, size_t begin,
                                     size_t end, bool gray)
{
    const __m256i div13 = _mm256_set1_epi16(static_cast<int16_t>(DIV13_MUL));
    const uint8_t* mid = rows[2];
    const ptrdiff_t to0 = rows[0] - mid, to1 = rows[1] - mid, to3 = rows[3] - mid, to4 = rows[4] - mid;
    const ptrdiff_t toOut = out - (mid + begin);
    auto vector = [&](const uint8_t* p) AVX2_FN {
        __m256i left = _mm256_add_epi16(Widen(p + to0), Widen(p + to4));
        __m256i right = _mm256_add_epi16(Widen(p - 2 * S), Widen(p + 2 * S));
        left = _mm256_add_epi16(left, _mm256_add_epi16(Widen(p - S), Widen(p)));
        right = _mm256_add_epi16(right, Widen(p + S));
        left = _mm256_add_epi16(left, _mm256_add_epi16(Widen(p + to1 - S), Widen(p + to1)));
        right = _mm256_add_epi16(right, Widen(p + to1 + S));
        left = _mm256_add_epi16(left, _mm256_add_epi16(Widen(p + to3 - S), Widen(p + to3)));
        right = _mm256_add_epi16(right, Widen(p + to3 + S));
        __m256i sum = _mm256_add_epi16(left, right);
        sum = gray ? _mm256_srli_epi16(sum, 4) : _mm256_mulhi_epu16(sum, div13);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(const_cast<uint8_t*>(p) + toOut), Narrow(sum));
    };
    const uint8_t* last = mid + end - 16;
    for (const uint8_t* p = mid + begin; p < last; p += 16)
        vector(p);
    vector(last);
}

AVX2_FN void DescreenSpanAvx2(const uint8_t* const rows[5], uint8_t* out, size_t begin,
                              size_t end, size_t step, bool gray)
{
    if (end - begin < 16)
        DescreenBytesScalar(rows, out, begin, end, step, gray);
    else if (step == 1)
        DescreenSpanAvx2<1>(rows, out, begin, end, gray);
    else
        DescreenSpanAvx2<3>(rows, out, begin, end, gray);
}

void Descreen13Avx2(const uint8_t* const rows[5], uint8_t* dst, uint32_t srcWidth,
                    uint32_t dstWidth, uint32_t resolution, uint32_t bpp)
{
    DescreenBySpans(DescreenSpanAvx2, rows, dst, srcWidth, dstWidth, resolution, bpp);
}

}  // namespace

const LineRoutines LineRoutinesAvx2 = {Convolve3x3Avx2, Descreen13Avx2, CopyDecimatedFast};

#endif
