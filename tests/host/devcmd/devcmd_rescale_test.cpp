// The line converters and the vertical stepping of a stretched scan.
#include <gtest/gtest.h>

#include <string.h>

#include <random>
#include <vector>

#include "rescale.h"
#include "rescale_simd.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A native line followed by bytes that must never reach the output.
Bytes WithTail(Bytes line, uint8_t tail = 0xEE, size_t count = 8) {
    line.insert(line.end(), count, tail);
    return line;
}

TEST(ResampleGray, SameWidthIsUnchangedAndDoublingInterpolates) {
    Bytes line = {0, 17, 34, 200, 255, 3, 99};
    Bytes out(line.size());
    ResampleGray(out.data(), line.data(), 7, 7);
    EXPECT_EQ(out, line);

    Bytes two = WithTail({10, 30});
    Bytes four(4);
    ResampleGray(four.data(), two.data(), 4, 2);
    EXPECT_EQ(four, (Bytes{10, 20, 30, 30}));
}

TEST(ResampleGray, RightEdgeOfStrongStretchNeverReadsPastTheLine) {
    // M = 5 from N = 2: pixel 3 lies at 1.2, beyond the last pixel's centre.
    Bytes line = WithTail({10, 30}, 200);
    Bytes out(5 + 4, 0x5A);
    ResampleGray(out.data(), line.data(), 5, 2);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), (Bytes{10, 18, 26, 30, 30}));
    EXPECT_EQ(Bytes(out.begin() + 5, out.end()), Bytes(4, 0x5A)) << "written past the line";
}

TEST(ResampleGray, FewerThanTwoOutputPixels) {
    Bytes line = {7, 8, 9};
    uint8_t out[3] = {0x5A, 0x5A, 0x5A};
    ResampleGray(out + 1, line.data(), 1, 3);
    EXPECT_EQ(out[1], 9);  // first and last pixel are the same one: the last wins
    EXPECT_EQ(out[0], 0x5A);
    EXPECT_EQ(out[2], 0x5A);
    ResampleGray(out + 1, line.data(), 0, 3);
    EXPECT_EQ(out[2], 0x5A);
    ResampleGray(out + 1, line.data(), 2, 0);  // no native pixels: nothing to take
    EXPECT_EQ(out[1], 9);
}

TEST(ResampleRgb, ChannelsInterpolateApartWithTheGrayWeights) {
    std::mt19937 random(7);
    const uint32_t n = 37, m = 101;
    Bytes rgb(3 * n);
    for (uint8_t &b : rgb) b = (uint8_t)random();
    Bytes out(3 * m);
    ResampleRgb(out.data(), rgb.data(), m, n);
    for (int c = 0; c < 3; ++c) {
        Bytes plane(n), expect(m);
        for (uint32_t i = 0; i < n; ++i) plane[i] = rgb[3 * i + c];
        ResampleGray(expect.data(), plane.data(), m, n);
        for (uint32_t k = 0; k < m; ++k) ASSERT_EQ(out[3 * k + c], expect[k]) << "channel " << c << " pixel " << k;
    }
}

// The fast forms against the plain one on random lines: stretches of every
// kind, shrinking, and widths where the divider's bounds are tight.
TEST(Resample, FastFormsMatchThePlainOneByteForByte) {
    std::mt19937 random(11);
    const uint32_t sizes[][2] = {{1, 1},     {2, 1},     {3, 2},     {4, 2},      {5, 2},   {600, 300},
                                 {602, 300}, {1275, 638}, {2550, 1275}, {5100, 2550}, {7, 30}, {300, 601},
                                 {9999, 4001}, {20400, 10200}, {3, 3},  {64, 63}, {4, 2}, {6, 3}, {34, 17}, {66, 33}, {10200, 5100}, {8, 4},
                                 {8500, 5100}, {5107, 5100}, {3833, 2550}, {255, 100}, {256, 100}, {65536, 30000}, {40, 17}};
    for (const auto &size : sizes) {
        const uint32_t m = size[0], n = size[1];
        Bytes gray(n + 4), rgb(3 * n + 4);
        for (uint8_t &b : gray) b = (uint8_t)random();
        for (uint8_t &b : rgb) b = (uint8_t)random();
        // Extremes where rounding is tightest.
        gray[0] = 255;
        if (n > 1) gray[n - 2] = 255;
        Bytes a(m), b(m), c(3 * m), d(3 * m);
        ResampleGray(a.data(), gray.data(), m, n);
        ResampleGrayPlain(b.data(), gray.data(), m, n);
        EXPECT_EQ(a, b) << m << " from " << n;
        ResampleRgb(c.data(), rgb.data(), m, n);
        ResampleRgbPlain(d.data(), rgb.data(), m, n);
        EXPECT_EQ(c, d) << m << " from " << n;
    }
}

TEST(Resample, AllWhiteStaysWhite) {
    // (M - p) x 255 / M + p x 255 / M may lose one to truncation, never more.
    const uint32_t m = 997, n = 401;
    Bytes white(n, 255), out(m);
    ResampleGray(out.data(), white.data(), m, n);
    for (uint32_t k = 0; k < m; ++k) ASSERT_GE(out[k], 254) << k;
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[m - 1], 255);
}

const uint8_t kThreshold80[64] = {
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
};

TEST(ConvertToBits, ThresholdRepetitionAndShortLastByte) {
    // Doubling: every native pixel gives two output pixels.
    Bytes line = WithTail({128, 127, 255, 0, 200, 129});
    uint8_t out[3] = {0x5A, 0x5A, 0x5A};
    uint32_t position = 0;
    ConvertToBits(out, line.data(), 12, 6, 600, 300, kThreshold80, &position);
    EXPECT_EQ(out[0], 0xCC);  // 11 00 11 00
    EXPECT_EQ(out[1], 0xF0);  // 11 11 then four zero bits below
    EXPECT_EQ(out[2], 0x5A) << "written past the line";
    EXPECT_EQ(position, 8u);
}

TEST(ConvertToBits, OddRatiosRepeatBySourcePosition) {
    // 601 from 300 dpi over 601/600 inch: M 602, N 300. Output pixel i
    // takes source ceil(Qx (i + 1) / Rx) - 1, which for the last pixel is
    // one past the line: that pixel takes the last native pixel.
    const uint32_t m = 602, n = 300, rx = 601, qx = 300;
    Bytes line(n);
    for (uint32_t i = 0; i < n; ++i) line[i] = (i % 3 == 0) ? 200 : 20;
    line[n - 1] = 200;
    line.push_back(0);  // the next line's first pixel, dark
    Bytes out((m + 7) / 8 + 1, 0x5A);
    uint32_t position = 0;
    ConvertToBits(out.data(), line.data(), m, n, rx, qx, kThreshold80, &position);
    for (uint32_t i = 0; i < m; ++i) {
        uint32_t s = (uint32_t)(((uint64_t)qx * (i + 1) + rx - 1) / rx) - 1;
        if (s > n - 1) s = n - 1;
        const int expect = line[s] >= 0x80;
        ASSERT_EQ((out[i / 8] >> (7 - i % 8)) & 1, expect) << "pixel " << i;
    }
    EXPECT_EQ(out.back(), 0x5A);
    // The last pixel is light, as the last native one, not dark as the next line.
    EXPECT_EQ((out[(m - 1) / 8] >> (7 - (m - 1) % 8)) & 1, 1);
}

TEST(ConvertToBits, FastFormMatchesThePlainOne) {
    std::mt19937 random(5);
    uint8_t pattern[64];
    for (uint8_t &t : pattern) t = (uint8_t)random();
    // Doubling with every kind of line end, and ratios that are not 2.
    const uint32_t cases[][4] = {{12, 6, 600, 300},     {13, 6, 600, 300},     {10200, 5100, 1200, 600},
                                 {1202, 601, 1200, 600}, {1203, 601, 1200, 600}, {37, 17, 1200, 600},
                                 {64, 33, 1200, 600},   {602, 300, 601, 300},  {4800, 1200, 2400, 600},
                                 {7, 3, 600, 300},      {1, 1, 600, 300},      {300, 600, 300, 600}, {1700, 1000, 1020, 600},
                                 {8500, 5100, 1000, 600}, {5107, 5100, 601, 600}, {250, 99, 1517, 600}, {40, 17, 1000, 420}};
    for (const auto &c : cases) {
        const uint32_t m = c[0], n = c[1];
        Bytes line(n + 16);
        for (uint8_t &b : line) b = (uint8_t)random();
        for (uint32_t start = 0; start < 64; start += 24) {
            Bytes a((m + 7) / 8 + 2, 0x5A), b((m + 7) / 8 + 2, 0x5A);
            uint32_t pa = start, pb = start;
            ConvertToBits(a.data(), line.data(), m, n, c[2], c[3], pattern, &pa);
            ConvertToBitsPlain(b.data(), line.data(), m, n, c[2], c[3], pattern, &pb);
            EXPECT_EQ(a, b) << m << " from " << n << " at " << c[2] << "/" << c[3] << ", row " << start / 8;
            EXPECT_EQ(pa, pb);
        }
    }
}

// Random widths and ratios: every line end from 1 to 15 pixels past a
// whole pair of bytes, native lines from below one window (16 pixels) up,
// stretches from barely to 16 times and shrinking, every pattern row, and
// patterns with 0 (always on) and 255 entries. The bytes after the native
// line differ from its last pixel, so a read of them shows.
class ConvertToBitsEachForm : public testing::TestWithParam<uint32_t> {
protected:
    void SetUp() override { LimitConverterSimd(GetParam()); }
    void TearDown() override {
        LimitConverterSimd(CONVERTER_SIMD_AVX512);
        ReleaseConverterTables();
    }
};

TEST_P(ConvertToBitsEachForm, MatchesThePlainOneOnRandomRatiosAndLineEnds) {
    std::mt19937 random(23);
    auto below = [&](uint32_t k) { return (uint32_t)(random() % k); };
    for (int round = 0; round < 600; ++round) {
        uint32_t n, rx, qx;
        switch (round % 4) {
        case 0: n = 1 + below(40); break;    // around one window
        case 1: n = 16 + below(3); break;    // exactly one window and just above
        default: n = 1 + below(3000); break;
        }
        qx = 50 + below(1200);
        switch (round % 5) {
        case 0: rx = qx + 1 + below(3); break;       // barely stretched
        case 1: rx = qx * (2 + below(15)); break;    // whole multiples up to 16
        case 2: rx = qx / 2 + below(qx); break;      // shrinking or near 1
        default: rx = qx + below(3 * qx); break;
        }
        // M as the layout makes it, or a little off, to reach every line end.
        uint32_t m = (uint32_t)((uint64_t)n * rx / qx);
        if (round % 3 == 0) m = (m & ~15u) + below(16);
        if (m == 0) m = 1 + below(15);
        // Half the lines end exactly at their last pixel (the sanitizer
        // catches a read past it).
        Bytes line(round % 2 ? n : n + 32);
        for (uint8_t &b : line) b = (uint8_t)random();
        for (uint32_t i = n; i < line.size(); ++i) line[i] = (uint8_t)(line[n - 1] ^ 0x80);
        uint8_t pattern[64];
        for (uint8_t &t : pattern) t = (uint8_t)random();
        pattern[below(64)] = 0;
        pattern[below(64)] = 255;
        const uint32_t start = 8 * below(8);
        Bytes a((m + 7) / 8 + 3, 0x5A), b((m + 7) / 8 + 3, 0x5A);
        uint32_t pa = start, pb = start;
        ConvertToBits(a.data(), line.data(), m, n, rx, qx, pattern, &pa);
        ConvertToBitsPlain(b.data(), line.data(), m, n, rx, qx, pattern, &pb);
        ASSERT_EQ(a, b) << m << " from " << n << " at " << rx << "/" << qx << ", row " << start / 8;
        ASSERT_EQ(pa, pb);
        if (round % 50 == 0) ReleaseConverterTables();
    }
}

// The same widths line after line: the table made for the first line
// serves them all, through every pattern row and back to row 0.
TEST_P(ConvertToBitsEachForm, LineAfterLineThroughThePatternRows) {
    std::mt19937 random(31);
    uint8_t pattern[64];
    for (uint8_t &t : pattern) t = (uint8_t)random();
    const uint32_t m = 8501, n = 5100, rx = 1000, qx = 600;
    uint32_t pa = 0, pb = 0;
    for (int k = 0; k < 17; ++k) {
        Bytes line(n + 16);
        for (uint8_t &b : line) b = (uint8_t)random();
        Bytes a((m + 7) / 8 + 1, 0x5A), b((m + 7) / 8 + 1, 0x5A);
        ConvertToBits(a.data(), line.data(), m, n, rx, qx, pattern, &pa);
        ConvertToBitsPlain(b.data(), line.data(), m, n, rx, qx, pattern, &pb);
        ASSERT_EQ(a, b) << "line " << k;
        ASSERT_EQ(pa, pb);
    }
    EXPECT_EQ(pa, 8u);
}

// The vector forms run only where the processor has them; the scalar forms
// (plain steps and doubling) everywhere.
INSTANTIATE_TEST_SUITE_P(Forms, ConvertToBitsEachForm,
                         testing::Values(CONVERTER_SIMD_NONE, CONVERTER_SIMD_SSSE3, CONVERTER_SIMD_AVX2,
                                         CONVERTER_SIMD_AVX512));

TEST(ConvertToBits, PatternRowFollowsTheOutputLine) {
    uint8_t pattern[64];
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) pattern[r * 8 + c] = (uint8_t)(r * 8 + c + 1);
    // Gray 9 is at or above the entries 1 .. 9 only: row 0 all on, row 1
    // one on (entry 9), rows 2 .. 7 all off.
    Bytes line(8, 9);
    uint32_t position = 0;
    uint8_t expect[9] = {0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0xFF};
    for (int k = 0; k < 9; ++k) {
        uint8_t out = 0x5A;
        ConvertToBits(&out, line.data(), 8, 8, 300, 300, pattern, &position);
        EXPECT_EQ(out, expect[k]) << "line " << k;
    }
    EXPECT_EQ(position, 8u);
}

TEST(AverageLines, RoundsDown) {
    Bytes current = {0, 1, 255, 100}, next = {1, 1, 254, 201};
    AverageLines(current.data(), next.data(), current.size());
    EXPECT_EQ(current, (Bytes{0, 1, 254, 150}));
}

// Output lines yielded by each native line.
std::vector<uint32_t> Yields(uint32_t ry, uint32_t qy, int lines) {
    VerticalStep step = {0, 0};
    std::vector<uint32_t> yields;
    for (int k = 0; k < lines; ++k) {
        StepVertical(&step, ry, qy);
        yields.push_back(step.repeatCount);
        step.repeatCount = 0;
    }
    return yields;
}

TEST(StepVertical, RatiosSpreadOutputLinesOverNativeLines) {
    EXPECT_EQ(Yields(600, 600, 4), (std::vector<uint32_t>{1, 1, 1, 1}));
    EXPECT_EQ(Yields(1200, 600, 4), (std::vector<uint32_t>{2, 2, 2, 2}));
    EXPECT_EQ(Yields(900, 600, 4), (std::vector<uint32_t>{1, 2, 1, 2}));
    EXPECT_EQ(Yields(2400, 300, 2), (std::vector<uint32_t>{8, 8}));
    // Below the native resolution a native line may yield nothing.
    EXPECT_EQ(Yields(200, 600, 6), (std::vector<uint32_t>{0, 0, 1, 0, 0, 1}));
    // Over many lines the output count is exact.
    uint32_t total = 0;
    for (uint32_t y : Yields(1201, 600, 600)) total += y;
    EXPECT_EQ(total, 1201u);
}

TEST(StepVertical, PendingRepeatsAndZeroNativeLeaveItAlone) {
    VerticalStep step = {123, 2};
    StepVertical(&step, 1200, 600);
    EXPECT_EQ(step.repeatCount, 2u);
    EXPECT_EQ(step.accumulator, 123u);
    step = {0, 0};
    StepVertical(&step, 1200, 0);
    EXPECT_EQ(step.repeatCount, 0u);
}

}  // namespace
