// Reference forms of the line routines: one pixel and one channel at a
// time, exactly as the arithmetic is defined.  The fast forms are tested
// against these.
#include "line_routines.h"

const int8_t BuiltinKernels[6][9] = {
    {1, 1, 1, 1, 1, 1, 1, 1, 1},      // box smoothing
    {1, 1, 1, 1, 2, 1, 1, 1, 1},      // smoothing, centre weighted
    {1, 2, 1, 2, 4, 2, 1, 2, 1},      // binomial smoothing
    {0, -1, 0, -1, 7, -1, 0, -1, 0},  // mild sharpening
    {0, -1, 0, -1, 5, -1, 0, -1, 0},  // strong sharpening
    {1, 1, 1, 1, 1, 1, 1, 1, 1},      // box smoothing again
};

uint8_t KernelDivisor(const int8_t* kernel)
{
    int sum = 0;
    for (int i = 0; i < 9; i++)
        sum += kernel[i];
    return static_cast<uint8_t>(sum & 0xFF);
}

void RefConvolve3x3(const uint8_t* const rows[3], uint8_t* dst, uint32_t width, uint32_t bpp,
                    const int8_t* kernel, uint8_t divisor)
{
    const int32_t w = static_cast<int32_t>(width);
    const int32_t b = static_cast<int32_t>(bpp);
    for (int32_t x = 0; x < w; x++) {
        for (int32_t ch = 0; ch < b; ch++) {
            int16_t sum = 0;  // 16-bit running sum, wraps modulo 65536
            for (int32_t r = 0; r < 3; r++) {
                for (int32_t k = 0; k < 3; k++) {
                    const int32_t px = x - 1 + k;
                    const int16_t p = rows[r][px * b + ch];
                    const int16_t product = static_cast<int16_t>(kernel[3 * r + k] * p);
                    sum = static_cast<int16_t>(sum + product);
                }
            }
            uint8_t out;
            if (sum <= 0) {
                out = 0;
            } else {
                const int32_t q = sum / divisor;
                out = q < 255 ? static_cast<uint8_t>(q) : 255;
            }
            dst[x * b + ch] = out;
        }
    }
}

void RefDescreen13(const uint8_t* const rows[5], uint8_t* dst, uint32_t srcWidth,
                   uint32_t dstWidth, uint32_t resolution, uint32_t bpp)
{
    const int32_t b = static_cast<int32_t>(bpp);
    uint16_t n = 300;
    uint32_t j = 0;
    for (uint32_t ux = 0; ux < srcWidth; ux++) {
        if (j == dstWidth)
            break;
        if (n >= 300) {
            const int32_t x = static_cast<int32_t>(ux);
            for (int32_t ch = 0; ch < b; ch++) {
                auto at = [&](int32_t r, int32_t px) -> uint32_t { return rows[r][px * b + ch]; };
                const uint32_t sum = at(0, x) +
                                     at(1, x - 1) + at(1, x) + at(1, x + 1) +
                                     at(2, x - 2) + at(2, x - 1) + at(2, x) + at(2, x + 1) + at(2, x + 2) +
                                     at(3, x - 1) + at(3, x) + at(3, x + 1) +
                                     at(4, x);
                const uint32_t out = bpp == 1 ? sum >> 4 : sum / 13;
                dst[j * bpp + static_cast<uint32_t>(ch)] = static_cast<uint8_t>(out);
            }
            n = static_cast<uint16_t>(n - 300);
            j++;
        }
        n = static_cast<uint16_t>(n + resolution);
    }
}

void RefCopyDecimated(const uint8_t* line, uint8_t* dst, uint32_t srcWidth, uint32_t dstWidth,
                      uint32_t resolution, uint32_t bpp)
{
    uint16_t n = 300;
    uint32_t j = 0;
    for (uint32_t x = 0; x < srcWidth; x++) {
        if (j == dstWidth)
            break;
        if (n >= 300) {
            for (uint32_t ch = 0; ch < bpp; ch++)
                dst[j * bpp + ch] = line[x * bpp + ch];
            n = static_cast<uint16_t>(n - 300);
            j++;
        }
        n = static_cast<uint16_t>(n + resolution);
    }
}
