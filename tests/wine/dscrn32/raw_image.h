// Raw source images for the dscrn32 tests and benchmark, and the model of
// the line pipeline: which source lines make each output line, built from
// the reference line routines.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct RawImage {
    uint32_t width = 0, lines = 0, bpp = 1, lineBytes = 0;
    std::vector<uint8_t> bytes;  // lines * lineBytes, top line first
    const uint8_t* line(uint32_t y) const { return bytes.data() + static_cast<size_t>(y) * lineBytes; }
};

RawImage RandomImage(uint32_t width, uint32_t lines, uint32_t bpp, uint32_t padding, uint32_t seed);

// Output lines as the pipeline defines them (pixels only, dstWidth * bpp
// bytes each).  resolution 0 means a kernel mode with `kernel`.
std::vector<std::vector<uint8_t>> ModelOutput(const RawImage& img, const int8_t* kernel,
                                              uint32_t resolution);
// The source lines that yield output lines in a descreen run.
std::vector<uint32_t> DescreenSourceLines(uint32_t srcLines, uint32_t resolution);
