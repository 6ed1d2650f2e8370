// The converters' fast forms for any ratio (rescale_simd.cpp), used by
// rescale.cpp where the processor has SSSE3 (1-bit lines: AVX2 or AVX-512
// VBMI where it has them too). Platform-free.
#pragma once

#include <stdint.h>

// The leading *doneBytes bytes of a 1-bit line; the plain form goes on from
// there with its accumulator *tailA and source index *tailS. `row` is the
// pattern row of the line. False: nothing done.
bool ConvertToBitsSimd(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n, uint32_t rx, uint32_t qx,
                       const uint8_t *row, uint32_t *tailA, uint32_t *tailS, uint32_t *doneBytes);
// The returned count of bytes of an 8-bit (ch 1) or 24-bit (ch 3) line
// from the second pixel on (0: nothing done).
uint32_t ResampleSimd(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n, uint32_t ch);

// The widest instruction set the fast forms may use (all the processor
// has unless limited), so that tests reach each form where it runs.
enum : uint32_t {
    CONVERTER_SIMD_NONE = 0,
    CONVERTER_SIMD_SSSE3 = 1,
    CONVERTER_SIMD_AVX2 = 2,
    CONVERTER_SIMD_AVX512 = 3  // F, BW and VBMI
};
void LimitConverterSimd(uint32_t level);
