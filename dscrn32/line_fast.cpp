// The scalar fast forms, the pieces the SIMD forms share, and the choice
// of the instruction-set level from cpuid.
#include "line_fast.h"

#include <string.h>

#if defined(DSCRN_HAVE_X86)
#include <cpuid.h>
#endif

namespace {

// floor(s / d) for every 0 <= s < 32768 with one 16x16 high multiply:
// with l = ceil(log2 d), mul = ceil(2^(15 + l) / d) stays below 2^16 and
// its error times 2^15 stays below 2^(15 + l).  d = 1 doubles s first.
constexpr DivisorReciprocal MakeReciprocal(uint32_t d)
{
    if (d <= 1)
        return DivisorReciprocal{0x8000, 1, 0};
    uint32_t l = 0;
    while ((1u << l) < d)
        l++;
    const uint32_t mul = ((1u << (15 + l)) + d - 1) / d;
    return DivisorReciprocal{static_cast<uint16_t>(mul), 0, static_cast<uint8_t>(l - 1)};
}

struct ReciprocalTable {
    DivisorReciprocal entries[256];
};

constexpr ReciprocalTable MakeReciprocalTable()
{
    ReciprocalTable t{};
    for (uint32_t d = 0; d < 256; d++)
        t.entries[d] = MakeReciprocal(d);
    return t;
}

constexpr ReciprocalTable RECIPROCALS = MakeReciprocalTable();

}  // namespace

const DivisorReciprocal DivisorReciprocals[256] = {
#define R4(i) RECIPROCALS.entries[i], RECIPROCALS.entries[i + 1], RECIPROCALS.entries[i + 2], RECIPROCALS.entries[i + 3]
#define R16(i) R4(i), R4(i + 4), R4(i + 8), R4(i + 12)
#define R64(i) R16(i), R16(i + 16), R16(i + 32), R16(i + 48)
    R64(0), R64(64), R64(128), R64(192)
#undef R64
#undef R16
#undef R4
};

void ConvolveBytesScalar(const uint8_t* const rows[3], uint8_t* dst, size_t begin, size_t end,
                         size_t step, const int8_t* kernel, uint8_t divisor)
{
    const DivisorReciprocal rc = DivisorReciprocals[divisor];
    const int32_t w0 = kernel[0], w1 = kernel[1], w2 = kernel[2];
    const int32_t w3 = kernel[3], w4 = kernel[4], w5 = kernel[5];
    const int32_t w6 = kernel[6], w7 = kernel[7], w8 = kernel[8];
    const uint8_t* a = rows[0];
    const uint8_t* b = rows[1];
    const uint8_t* c = rows[2];
    for (size_t i = begin; i < end; i++) {
        const int32_t full = w0 * a[i - step] + w1 * a[i] + w2 * a[i + step] +
                             w3 * b[i - step] + w4 * b[i] + w5 * b[i + step] +
                             w6 * c[i - step] + w7 * c[i] + w8 * c[i + step];
        // The sum wraps as a 16-bit signed value; <= 0 clips to black.
        int32_t s = static_cast<int16_t>(static_cast<uint16_t>(full));
        s = s > 0 ? s : 0;
        const uint32_t q = ((static_cast<uint32_t>(s) << rc.pre) * rc.mul) >> (16 + rc.shift);
        dst[i] = static_cast<uint8_t>(q < 255 ? q : 255);
    }
}

void DescreenBytesScalar(const uint8_t* const rows[5], uint8_t* out, size_t begin, size_t end,
                         size_t step, bool gray)
{
    const uint8_t* r0 = rows[0];
    const uint8_t* r1 = rows[1];
    const uint8_t* r2 = rows[2];
    const uint8_t* r3 = rows[3];
    const uint8_t* r4 = rows[4];
    for (size_t i = begin; i < end; i++) {
        const uint32_t sum = r0[i] + r1[i - step] + r1[i] + r1[i + step] + r2[i - 2 * step] +
                             r2[i - step] + r2[i] + r2[i + step] + r2[i + 2 * step] +
                             r3[i - step] + r3[i] + r3[i + step] + r4[i];
        out[i - begin] = static_cast<uint8_t>(gray ? sum >> 4 : (sum * DIV13_MUL) >> 16);
    }
}

namespace {

// The resampling repeats every `period` = 300 / gcd(resolution, 300)
// source pixels, where the accumulator is back at 300; within a period
// the `perPeriod` output pixels come from the source pixels at `offset`.
struct Decimation {
    uint32_t period, perPeriod;
    uint16_t offset[300];
};

void MakeDecimation(uint32_t resolution, Decimation* d)
{
    uint32_t a = resolution, b = 300;
    while (b) {
        const uint32_t t = a % b;
        a = b;
        b = t;
    }
    d->period = 300 / a;
    d->perPeriod = 0;
    uint32_t n = 300;
    for (uint32_t x = 0; x < d->period; x++) {
        if (n >= 300) {
            d->offset[d->perPeriod++] = static_cast<uint16_t>(x);
            n -= 300;
        }
        n += resolution;
    }
}

// Output pixels from `first` on taken from `pixels` source pixels at
// `src` (results of the source pixels from x0 on, x0 a multiple of the
// period); returns the next output pixel.
uint32_t PickDecimated(const Decimation& d, const uint8_t* src, uint32_t pixels, uint32_t bpp,
                       uint32_t first, uint32_t dstWidth, uint8_t* dst)
{
    uint32_t j = first;
    if (d.perPeriod == 1) {  // resolution divides 300: every period-th pixel
        const uint32_t step = d.period;
        const uint32_t count = (pixels + step - 1) / step;
        const uint32_t end = dstWidth - j < count ? dstWidth : j + count;
        if (bpp == 1) {
            for (uint32_t i = 0; j < end; i++, j++)
                dst[j] = src[i * step];
        } else {
            for (uint32_t i = 0; j < end; i++, j++) {
                const uint8_t* s = src + 3 * i * step;
                uint8_t* o = dst + 3 * j;
                o[0] = s[0];
                o[1] = s[1];
                o[2] = s[2];
            }
        }
        return j;
    }
    for (uint32_t base = 0; base < pixels && j < dstWidth; base += d.period) {
        for (uint32_t q = 0; q < d.perPeriod && j < dstWidth; q++) {
            const uint32_t x = base + d.offset[q];
            if (x >= pixels)
                break;
            for (uint32_t ch = 0; ch < bpp; ch++)
                dst[j * bpp + ch] = src[x * bpp + ch];
            j++;
        }
    }
    return j;
}

}  // namespace

void DescreenBySpans(DescreenSpanProc span, const uint8_t* const rows[5], uint8_t* dst,
                     uint32_t srcWidth, uint32_t dstWidth, uint32_t resolution, uint32_t bpp)
{
    const bool gray = bpp == 1;
    if (resolution == 0 || resolution > 300) {  // no run uses these; the plain form still defines them
        RefDescreen13(rows, dst, srcWidth, dstWidth, resolution, bpp);
        return;
    }
    if (resolution == 300) {
        const uint32_t w = srcWidth < dstWidth ? srcWidth : dstWidth;
        span(rows, dst, 0, static_cast<size_t>(w) * bpp, bpp, gray);
        return;
    }
    // Results of a chunk of whole periods go through a small buffer.
    Decimation d;
    MakeDecimation(resolution, &d);
    enum : uint32_t { CHUNK_PIXELS = 600 };
    uint8_t full[CHUNK_PIXELS * 3];
    const uint32_t chunk = (CHUNK_PIXELS / d.period) * d.period;
    uint32_t j = 0;
    for (uint32_t x = 0; x < srcWidth && j < dstWidth; x += chunk) {
        const uint32_t count = srcWidth - x < chunk ? srcWidth - x : chunk;
        span(rows, full, static_cast<size_t>(x) * bpp, static_cast<size_t>(x + count) * bpp, bpp,
             gray);
        j = PickDecimated(d, full, count, bpp, j, dstWidth, dst);
    }
}

void CopyDecimatedFast(const uint8_t* line, uint8_t* dst, uint32_t srcWidth, uint32_t dstWidth,
                       uint32_t resolution, uint32_t bpp)
{
    if (resolution == 300) {
        const uint32_t w = srcWidth < dstWidth ? srcWidth : dstWidth;
        if (w > 0)
            memcpy(dst, line, static_cast<size_t>(w) * bpp);
        return;
    }
    if (resolution == 0 || resolution > 300) {
        RefCopyDecimated(line, dst, srcWidth, dstWidth, resolution, bpp);
        return;
    }
    Decimation d;
    MakeDecimation(resolution, &d);
    PickDecimated(d, line, srcWidth, bpp, 0, dstWidth, dst);
}

namespace {

void Convolve3x3Scalar(const uint8_t* const rows[3], uint8_t* dst, uint32_t width, uint32_t bpp,
                       const int8_t* kernel, uint8_t divisor)
{
    ConvolveBytesScalar(rows, dst, 0, static_cast<size_t>(width) * bpp, bpp, kernel, divisor);
}

void Descreen13Scalar(const uint8_t* const rows[5], uint8_t* dst, uint32_t srcWidth,
                      uint32_t dstWidth, uint32_t resolution, uint32_t bpp)
{
    DescreenBySpans(DescreenBytesScalar, rows, dst, srcWidth, dstWidth, resolution, bpp);
}

#if defined(DSCRN_HAVE_X86)
bool OsSavesAvxState()
{
    uint32_t lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    (void)hi;
    return (lo & 6) == 6;  // XMM and YMM state
}

int DetectLevel()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return LINE_SCALAR;
    const bool sse2 = (d & bit_SSE2) != 0;
    const bool osxsave = (c & bit_OSXSAVE) != 0;
    const bool avx = (c & bit_AVX) != 0;
    if (!sse2)
        return LINE_SCALAR;
    if (!osxsave || !avx || !OsSavesAvxState())
        return LINE_SSE2;
    if (__get_cpuid_max(0, nullptr) < 7)
        return LINE_SSE2;
    __cpuid_count(7, 0, a, b, c, d);
    return (b & bit_AVX2) != 0 ? LINE_AVX2 : LINE_SSE2;
}
#else
int DetectLevel()
{
    return LINE_SCALAR;
}
#endif

int detectedLevel = -1;

}  // namespace

const LineRoutines LineRoutinesScalar = {Convolve3x3Scalar, Descreen13Scalar, CopyDecimatedFast};

int BestLineLevel()
{
    if (detectedLevel < 0)
        detectedLevel = DetectLevel();
    return detectedLevel;
}

const LineRoutines* LineRoutinesFor(int level)
{
    if (level < 0 || level > BestLineLevel())
        return nullptr;
    switch (level) {
    case LINE_SCALAR:
        return &LineRoutinesScalar;
#if defined(DSCRN_HAVE_X86)
    case LINE_SSE2:
        return &LineRoutinesSse2;
    case LINE_AVX2:
        return &LineRoutinesAvx2;
#endif
    default:
        return nullptr;
    }
}

const char* LineLevelName(int level)
{
    static const char* const names[LINE_LEVELS] = {"scalar", "sse2", "avx2"};
    return level >= 0 && level < LINE_LEVELS ? names[level] : "?";
}
