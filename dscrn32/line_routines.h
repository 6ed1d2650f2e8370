// The arithmetic that turns a window of ring lines into one output line.
// Platform-free: built into dscrn32.dll and into the host build.
//
// A window row is given by the address of its pixel 0; the ring keeps
// `border` copies of the first and last pixel on either side, so pixel x
// may be read for -border <= x < width + border.  bpp is 1 (gray) or 3.
#pragma once

#include <stdint.h>

extern const int8_t BuiltinKernels[6][9];

// Low 8 bits of the sum of a kernel's nine weights.
uint8_t KernelDivisor(const int8_t* kernel);

// floor(s / d) for 0 <= s < 32768 as mulhi16(s << pre, mul) >> shift.
struct DivisorReciprocal {
    uint16_t mul;
    uint8_t pre;
    uint8_t shift;
};
extern const DivisorReciprocal DivisorReciprocals[256];  // entry 0 unused

// Plain reference forms, written to be read, not to be fast.
void RefConvolve3x3(const uint8_t* const rows[3], uint8_t* dst, uint32_t width, uint32_t bpp,
                    const int8_t* kernel, uint8_t divisor);
void RefDescreen13(const uint8_t* const rows[5], uint8_t* dst, uint32_t srcWidth,
                   uint32_t dstWidth, uint32_t resolution, uint32_t bpp);
void RefCopyDecimated(const uint8_t* line, uint8_t* dst, uint32_t srcWidth, uint32_t dstWidth,
                      uint32_t resolution, uint32_t bpp);

// The fast forms: the same bytes, one set per instruction-set level.
enum : int {
    LINE_SCALAR = 0,
    LINE_SSE2 = 1,
    LINE_AVX2 = 2,
    LINE_LEVELS = 3,
};

struct LineRoutines {
    void (*convolve3x3)(const uint8_t* const rows[3], uint8_t* dst, uint32_t width, uint32_t bpp,
                        const int8_t* kernel, uint8_t divisor);
    void (*descreen13)(const uint8_t* const rows[5], uint8_t* dst, uint32_t srcWidth,
                       uint32_t dstWidth, uint32_t resolution, uint32_t bpp);
    void (*copyDecimated)(const uint8_t* line, uint8_t* dst, uint32_t srcWidth, uint32_t dstWidth,
                          uint32_t resolution, uint32_t bpp);
};

// The routines of a level, or null when this processor (or build) lacks it.
const LineRoutines* LineRoutinesFor(int level);
// The fastest level this processor runs, chosen once from cpuid.
int BestLineLevel();
const char* LineLevelName(int level);

