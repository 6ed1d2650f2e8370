// What the dscrn32 benchmarks share: an A4 page at 600 dpi held with the
// ring's border columns, the line routines run over it the way the
// pipeline runs them (but from memory), and timing by medians.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

#include "line_routines.h"

enum : uint32_t { PAGE_WIDTH = 4960, PAGE_LINES = 7016, BENCH_BORDER = 2 };

struct BenchPage {
    uint32_t width = 0, lines = 0, bpp = 1, stride = 0;
    std::vector<uint8_t> bytes;  // each line: BENCH_BORDER copies, pixels, BENCH_BORDER copies
    const uint8_t* pixel0(uint32_t y) const { return bytes.data() + static_cast<size_t>(y) * stride + BENCH_BORDER * bpp; }
    size_t sourceBytes() const { return static_cast<size_t>(width) * bpp * lines; }
};

// A page that looks like a scan: smooth tones, text-like edges and noise.
inline BenchPage MakeBenchPage(uint32_t width, uint32_t lines, uint32_t bpp)
{
    BenchPage p;
    p.width = width;
    p.lines = lines;
    p.bpp = bpp;
    p.stride = (width + 2 * BENCH_BORDER) * bpp;
    p.bytes.resize(static_cast<size_t>(p.stride) * lines);
    std::mt19937 rng(42);
    for (uint32_t y = 0; y < lines; y++) {
        uint8_t* line = p.bytes.data() + static_cast<size_t>(y) * p.stride + BENCH_BORDER * bpp;
        for (uint32_t x = 0; x < width; x++)
            for (uint32_t ch = 0; ch < bpp; ch++) {
                int v = static_cast<int>((x * (ch + 1) + y) & 0xFF);
                if (((x / 7) ^ (y / 11)) % 5 == 0)
                    v = 20;
                v += static_cast<int>(rng() % 9) - 4;
                line[x * bpp + ch] = static_cast<uint8_t>(std::clamp(v, 0, 255));
            }
        for (uint32_t i = 1; i <= BENCH_BORDER; i++) {
            memcpy(line - i * bpp, line, bpp);
            memcpy(line + (width - 1 + i) * bpp, line + (width - 1) * bpp, bpp);
        }
    }
    return p;
}

// The kernel pipeline over the page from memory: pass-through first and
// last lines, filtered lines between.
inline void KernelPage(const LineRoutines* r, const BenchPage& p, const int8_t* kernel, uint8_t* out,
                       size_t outStride)
{
    const uint8_t divisor = KernelDivisor(kernel);
    const size_t lineBytes = static_cast<size_t>(p.width) * p.bpp;
    memcpy(out, p.pixel0(0), lineBytes);
    for (uint32_t y = 1; y + 1 < p.lines; y++) {
        const uint8_t* rows[3] = {p.pixel0(y - 1), p.pixel0(y), p.pixel0(y + 1)};
        r->convolve3x3(rows, out + y * outStride, p.width, p.bpp, kernel, divisor);
    }
    memcpy(out + (p.lines - 1) * outStride, p.pixel0(p.lines - 1), lineBytes);
}

// The descreen pipeline over the page from memory.
inline uint32_t DescreenPage(const LineRoutines* r, const BenchPage& p, uint32_t res, uint8_t* out,
                             size_t outStride)
{
    const uint32_t dstWidth = static_cast<uint32_t>(static_cast<uint64_t>(p.width) * res / 300);
    const uint32_t dstLines = static_cast<uint32_t>(static_cast<uint64_t>(p.lines) * res / 300);
    uint32_t acc = 299, produced = 0;
    for (uint32_t c = 0; c < p.lines && produced < dstLines; c++) {
        acc += res;
        if (acc < 300)
            continue;
        acc -= 300;
        uint8_t* dst = out + produced++ * outStride;
        if (c < 2 || c + 2 >= p.lines) {
            r->copyDecimated(p.pixel0(c), dst, p.width, dstWidth, res, p.bpp);
        } else {
            const uint8_t* rows[5] = {p.pixel0(c - 2), p.pixel0(c - 1), p.pixel0(c), p.pixel0(c + 1),
                                      p.pixel0(c + 2)};
            r->descreen13(rows, dst, p.width, dstWidth, res, p.bpp);
        }
    }
    return produced;
}

// Median seconds of `reps` runs of fn.
template <class F>
double MedianSeconds(int reps, F&& fn)
{
    std::vector<double> t;
    for (int i = 0; i < reps; i++) {
        const auto a = std::chrono::steady_clock::now();
        fn();
        const auto b = std::chrono::steady_clock::now();
        t.push_back(std::chrono::duration<double>(b - a).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

// Medians of two routines timed in turn, so that a change of load on a
// shared machine falls on both alike.
template <class F, class G>
void MedianSecondsPair(int reps, F&& first, G&& second, double* tFirst, double* tSecond)
{
    std::vector<double> a, b;
    for (int i = 0; i < reps; i++) {
        a.push_back(MedianSeconds(1, first));
        b.push_back(MedianSeconds(1, second));
    }
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    *tFirst = a[a.size() / 2];
    *tSecond = b[b.size() / 2];
}

inline double MegabytesPerSecond(size_t bytes, double seconds)
{
    return static_cast<double>(bytes) / 1e6 / seconds;
}
