// Pieces shared by the fast forms of the line routines (scalar, SSE2,
// AVX2).  Internal to the line routines.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "line_routines.h"

// floor(s / 13) for s <= 13 * 255, as (s * DIV13_MUL) >> 16.
enum : uint32_t { DIV13_MUL = 5042 };

// Kernel convolution of the bytes [begin, end) of a line; neighbours are
// `step` bytes apart (bpp), the channels of a colour pixel run alike.
void ConvolveBytesScalar(const uint8_t* const rows[3], uint8_t* dst, size_t begin, size_t end,
                         size_t step, const int8_t* kernel, uint8_t divisor);
// 13-point sums of the bytes [begin, end), written to out[0 ..).
void DescreenBytesScalar(const uint8_t* const rows[5], uint8_t* out, size_t begin, size_t end,
                         size_t step, bool gray);

// Descreen13 from a routine that fills every source pixel's result of a
// byte span: straight into dst at resolution 300, below it through a
// small buffer from which the resampled pixels are picked.
typedef void (*DescreenSpanProc)(const uint8_t* const rows[5], uint8_t* out, size_t begin,
                                 size_t end, size_t step, bool gray);
void DescreenBySpans(DescreenSpanProc span, const uint8_t* const rows[5], uint8_t* dst,
                     uint32_t srcWidth, uint32_t dstWidth, uint32_t resolution, uint32_t bpp);
void CopyDecimatedFast(const uint8_t* line, uint8_t* dst, uint32_t srcWidth, uint32_t dstWidth,
                       uint32_t resolution, uint32_t bpp);

extern const LineRoutines LineRoutinesScalar;
#if defined(__i386__) || defined(__x86_64__)
#define DSCRN_HAVE_X86 1
extern const LineRoutines LineRoutinesSse2;
extern const LineRoutines LineRoutinesAvx2;
#endif
