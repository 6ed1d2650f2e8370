// Software stretching of scan lines: the horizontal converters and the
// vertical stepping of a rescaled scan. Platform-free.
//
// A line is stretched from N native pixels to M output pixels. The
// converters never read past the native line's last pixel: a source index
// that would land beyond it (right edge of a strong stretch, or native
// lines that end in padding) takes the last pixel instead.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Vertical stepping: how many output lines the newest native line yields.
struct VerticalStep {
    uint32_t accumulator;
    uint32_t repeatCount;  // output lines still to make from the newest native line
};

// If repeatCount is 0: adds Ry (requested) to the accumulator, then takes
// Qy (native) off it as often as it goes, one output line each. With Ry
// below Qy a native line may yield none (repeatCount stays 0): the caller
// then moves on to the next native line. A Qy of 0 yields nothing.
void StepVertical(VerticalStep *step, uint32_t ry, uint32_t qy);

// current[i] = (current[i] + next[i]) / 2, rounded down, over `bytes`.
void AverageLines(uint8_t *current, const uint8_t *next, size_t bytes);

// 1-bit output (most significant bit first, 1 where the gray value is at or
// above the pattern's entry) of M pixels from N 8-bit native pixels, by
// pixel repetition from Qx to Rx. The pattern row is *halftonePosition
// (0, 8, .. 56); it moves on by one row. A last byte of fewer than 8
// pixels holds them in its high bits; nothing past (M + 7) / 8 bytes is
// written.
void ConvertToBits(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n, uint32_t rx, uint32_t qx,
                   const uint8_t pattern[64], uint32_t *halftonePosition);

// The same written plainly: the reference of the fast forms.
void ConvertToBitsPlain(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n, uint32_t rx, uint32_t qx,
                        const uint8_t pattern[64], uint32_t *halftonePosition);

// 8-bit and 24-bit linear interpolation from N to M pixels: the first and
// last pixels are taken as they are, pixel k lies at k x N / M.
void ResampleGray(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n);
void ResampleRgb(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n);

// The same interpolation written plainly, one division per term: the
// reference the fast forms above must match byte for byte.
void ResampleGrayPlain(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n);
void ResampleRgbPlain(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n);

// The fast forms keep a table of where each output pixel lies, made once
// for the line widths of a scan; this gives it up at the end of a scan.
void ReleaseConverterTables();

// Output bytes of one line of M pixels for each converter.
enum : uint32_t { LINE_CONVERTER_NONE = 0, LINE_CONVERTER_BITS = 1, LINE_CONVERTER_GRAY = 2, LINE_CONVERTER_RGB = 3 };
uint64_t ConvertedLineBytes(uint32_t converter, uint32_t m);
// Native bytes one line of N pixels must hold for the converter.
uint64_t NativeLineBytes(uint32_t converter, uint32_t n);
