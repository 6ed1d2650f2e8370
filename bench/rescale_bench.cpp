// Host benchmark of the line converters of a stretched scan: a whole-bed
// page (8.5 x 11.7 in) stretched from the lens's native resolution to
// twice it, one output line at a time from two native lines as the
// library does, beside memcpy of the same output bytes. Each run times
// memcpy and then the converter over the page; the figures are medians
// over the runs (the machine is shared, single runs swing both ways):
// MB/s of output and the converter's speed as a fraction of memcpy's,
// the median of the runs' ratios with their lowest and highest (target:
// at least 0.10). Not a test: run it by hand.
//
//   rescale_bench [--reps N] [--lines N]
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "rescale.h"

namespace {

double Seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Native lines of a page: smooth gray with some texture.
std::vector<uint8_t> NativeLines(uint32_t bytesPerLine, uint32_t count) {
    std::vector<uint8_t> lines((size_t)bytesPerLine * count);
    uint32_t seed = 12345;
    for (size_t i = 0; i < lines.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        lines[i] = (uint8_t)((i * 7 / 3) + (seed >> 28));
    }
    return lines;
}

struct Result {
    double seconds;
    uint64_t checksum;
};

// Runs `convert` over every output line of the page into a page-sized
// output, so that memcpy and the converters write the same bytes.
template <typename F>
Result RunPage(uint32_t outLines, uint32_t outBytes, std::vector<uint8_t> &out, F convert) {
    uint64_t sum = 0;
    const double t0 = Seconds();
    for (uint32_t k = 0; k < outLines; ++k) convert(out.data() + (size_t)k * outBytes, k);
    const double t = Seconds() - t0;
    for (size_t i = 0; i < out.size(); i += 4093) sum += out[i];
    return {t, sum};
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t h = v.size() / 2;
    return v.size() % 2 ? v[h] : (v[h - 1] + v[h]) / 2;
}

}  // namespace

int main(int argc, char **argv) {
    int reps = 7;
    uint32_t lineLimit = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--reps")) reps = std::max(1, atoi(argv[i + 1]));
        if (!strcmp(argv[i], "--lines")) lineLimit = (uint32_t)std::max(1, atoi(argv[i + 1]));
    }
    struct Case {
        const char *name;
        uint32_t converter;
        uint32_t nativeRes, outRes;
    } cases[] = {
        {"ResampleGray 600 -> 1200 dpi", LINE_CONVERTER_GRAY, 600, 1200},
        {"ResampleRgb 300 -> 600 dpi", LINE_CONVERTER_RGB, 300, 600},
        {"ResampleRgb 300 -> 451 dpi", LINE_CONVERTER_RGB, 300, 451},
        {"ResampleGray 600 -> 1000 dpi", LINE_CONVERTER_GRAY, 600, 1000},
        {"ConvertToBits 600 -> 1200 dpi", LINE_CONVERTER_BITS, 600, 1200},
        {"ConvertToBits 600 -> 1000 dpi", LINE_CONVERTER_BITS, 600, 1000},
        // Ratios of no simple period: barely stretched, odd, and strong.
        {"ConvertToBits 600 -> 601 dpi", LINE_CONVERTER_BITS, 600, 601},
        {"ConvertToBits 300 -> 451 dpi", LINE_CONVERTER_BITS, 300, 451},
        {"ConvertToBits 300 -> 2401 dpi", LINE_CONVERTER_BITS, 300, 2401},
    };
    uint8_t pattern[64];
    memset(pattern, 0x80, sizeof pattern);
    printf("whole bed, 5100 x 7020 in 1/600 inch; medians of %d runs; output MB/s\n", reps);
    uint64_t keep = 0;
    for (const Case &c : cases) {
        const uint32_t n = 5100 * c.nativeRes / 600, m = 5100 * c.outRes / 600;
        uint32_t outLines = 7020 * c.outRes / 600;
        if (lineLimit && outLines > lineLimit) outLines = lineLimit;
        const uint32_t nativeBytes = (uint32_t)NativeLineBytes(c.converter, n);
        const uint32_t outBytes = (uint32_t)ConvertedLineBytes(c.converter, m);
        // Two native lines, as the library holds them.
        std::vector<uint8_t> native = NativeLines(nativeBytes, 2);
        std::vector<uint8_t> out((size_t)outBytes * outLines);
        std::vector<uint8_t> source((size_t)outBytes * 2);
        memcpy(source.data(), native.data(), std::min(source.size(), native.size()));
        std::vector<double> copy, conv, ratio;
        uint32_t position = 0;
        for (int r = 0; r < reps; ++r) {
            Result a = RunPage(outLines, outBytes, out, [&](uint8_t *o, uint32_t k) {
                memcpy(o, source.data() + (k & 1) * outBytes, outBytes);
            });
            Result b = RunPage(outLines, outBytes, out, [&](uint8_t *o, uint32_t k) {
                const uint8_t *line = native.data() + (size_t)(k & 1) * nativeBytes;
                switch (c.converter) {
                case LINE_CONVERTER_GRAY: ResampleGray(o, line, m, n); break;
                case LINE_CONVERTER_RGB: ResampleRgb(o, line, m, n); break;
                default: ConvertToBits(o, line, m, n, c.outRes, c.nativeRes, pattern, &position); break;
                }
            });
            copy.push_back(a.seconds);
            conv.push_back(b.seconds);
            ratio.push_back(a.seconds / b.seconds);
            keep += a.checksum + b.checksum;
        }
        uint64_t bytes = (uint64_t)outBytes * outLines;
        printf("\n%s: %u x %u output pixels, %.1f MB\n", c.name, m, outLines, bytes / 1e6);
        printf("  memcpy of the output               %10.0f MB/s\n", bytes / Median(copy) / 1e6);
        printf("  converter                          %10.0f MB/s   %5.2f of memcpy (runs %.2f .. %.2f)\n",
               bytes / Median(conv) / 1e6, Median(ratio), *std::min_element(ratio.begin(), ratio.end()),
               *std::max_element(ratio.begin(), ratio.end()));
    }
    return keep == 42 ? 1 : 0;
}
