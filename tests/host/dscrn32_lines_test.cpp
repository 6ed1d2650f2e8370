// The line routines of dscrn32: known results of the reference forms, and
// every fast form (scalar, SSE2, AVX2 where the processor has them) byte
// for byte against the reference on random images.
#include <gtest/gtest.h>

#include <stdint.h>

#include <random>
#include <vector>

#include "line_routines.h"

namespace {

// One line as the ring holds it: `border` copies of the first pixel before
// it and of the last after it.  Allocated to the exact size, so that the
// sanitizer catches a read outside it.
struct RingLine {
    std::vector<uint8_t> bytes;
    uint32_t border = 0, bpp = 1;
    const uint8_t* pixel0() const { return bytes.data() + border * bpp; }
};

RingLine MakeLine(const std::vector<uint8_t>& pixels, uint32_t bpp, uint32_t border)
{
    RingLine line;
    line.border = border;
    line.bpp = bpp;
    const size_t width = pixels.size() / bpp;
    line.bytes.resize((width + 2 * border) * bpp);
    for (size_t x = 0; x < width + 2 * border; x++) {
        size_t src = x < border ? 0 : x - border;
        if (src >= width)
            src = width - 1;
        for (uint32_t ch = 0; ch < bpp; ch++)
            line.bytes[x * bpp + ch] = pixels[src * bpp + ch];
    }
    return line;
}

std::vector<uint8_t> RandomPixels(std::mt19937& rng, size_t bytes, int style)
{
    std::vector<uint8_t> v(bytes);
    for (auto& b : v) {
        const uint32_t r = rng();
        switch (style) {
        case 0:  // noise
            b = static_cast<uint8_t>(r);
            break;
        case 1:  // extremes, which drive the 16-bit sums furthest
            b = (r & 1) ? 255 : 0;
            break;
        default:  // mostly flat with spikes
            b = (r % 7 == 0) ? static_cast<uint8_t>(r >> 8) : 128;
            break;
        }
    }
    return v;
}

std::vector<const LineRoutines*> FastForms()
{
    std::vector<const LineRoutines*> forms;
    for (int level = 0; level < LINE_LEVELS; level++)
        if (const LineRoutines* r = LineRoutinesFor(level))
            forms.push_back(r);
    return forms;
}

const uint32_t WIDTHS[] = {1, 2, 3, 5, 6, 7, 15, 16, 17, 31, 33, 47, 64, 65, 101, 513, 1031};

// --- arithmetic pieces ---------------------------------------------------

TEST(DscrnDivision, ReciprocalMatchesDivisionForEveryDivisorAndSum)
{
    for (uint32_t d = 1; d < 256; d++) {
        const DivisorReciprocal rc = DivisorReciprocals[d];
        for (uint32_t s = 0; s < 32768; s++) {
            const uint32_t hi = ((s << rc.pre) * rc.mul) >> 16;
            ASSERT_EQ(hi >> rc.shift, s / d) << "divisor " << d << " sum " << s;
        }
    }
}

TEST(DscrnDivision, KernelDivisorIsLowByteOfWeightSum)
{
    const int8_t minus3[9] = {-1, -1, -1, 0, 0, 0, 0, 0, 0};
    const int8_t wraps[9] = {127, 127, 2, 0, 0, 0, 0, 0, 0};  // 256
    const int8_t big[9] = {127, 127, 127, 127, 127, 127, 127, 127, 127};
    EXPECT_EQ(KernelDivisor(minus3), 253);
    EXPECT_EQ(KernelDivisor(wraps), 0);
    EXPECT_EQ(KernelDivisor(big), (127 * 9) & 0xFF);
    const uint8_t builtin[6] = {9, 10, 16, 3, 1, 9};
    for (int m = 0; m < 6; m++)
        EXPECT_EQ(KernelDivisor(BuiltinKernels[m]), builtin[m]) << "mode " << m;
}

// --- known results of the reference --------------------------------------

struct Window3 {
    RingLine l[3];
    const uint8_t* rows[3];
};

Window3 Uniform3(uint8_t v, uint32_t width, uint32_t bpp)
{
    Window3 w;
    for (auto& l : w.l)
        l = MakeLine(std::vector<uint8_t>(width * bpp, v), bpp, 1);
    for (int r = 0; r < 3; r++)
        w.rows[r] = w.l[r].pixel0();
    return w;
}

TEST(DscrnConvolve, UniformAreaKeepsItsValueUnderEveryBuiltinKernel)
{
    for (uint32_t bpp : {1u, 3u})
        for (int mode = 0; mode < 6; mode++)
            for (int v : {0, 1, 37, 128, 200, 254, 255}) {
                Window3 w = Uniform3(static_cast<uint8_t>(v), 9, bpp);
                std::vector<uint8_t> out(9 * bpp);
                RefConvolve3x3(w.rows, out.data(), 9, bpp, BuiltinKernels[mode],
                               KernelDivisor(BuiltinKernels[mode]));
                for (uint8_t o : out)
                    ASSERT_EQ(o, v) << "mode " << mode << " bpp " << bpp;
                for (const LineRoutines* f : FastForms()) {
                    std::vector<uint8_t> fast(9 * bpp);
                    f->convolve3x3(w.rows, fast.data(), 9, bpp, BuiltinKernels[mode],
                                   KernelDivisor(BuiltinKernels[mode]));
                    ASSERT_EQ(fast, out);
                }
            }
}

TEST(DscrnConvolve, SharpeningClipsAtBothEnds)
{
    // Kernel 3 at a white pixel on black: centre 7*255/3 clips to 255, the
    // four direct neighbours sum to -255 and give 0.
    Window3 w = Uniform3(0, 5, 1);
    std::vector<uint8_t> mid = {0, 0, 255, 0, 0};
    w.l[1] = MakeLine(mid, 1, 1);
    w.rows[1] = w.l[1].pixel0();
    std::vector<uint8_t> out(5);
    RefConvolve3x3(w.rows, out.data(), 5, 1, BuiltinKernels[3], 3);
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 255, 0, 0}));
    // The rows above and below see the pixel only through weight -1.
    const uint8_t* shifted[3] = {w.rows[1], w.rows[0], w.rows[0]};
    RefConvolve3x3(shifted, out.data(), 5, 1, BuiltinKernels[3], 3);
    EXPECT_EQ(out[2], 0);

    // Kernel 4 at 100 among 200: 5*100 - 4*200 = -300 gives 0; the
    // neighbours 5*200 - 100 - 3*200 = 300 clip to 255.
    Window3 g = Uniform3(200, 3, 1);
    g.l[1] = MakeLine({200, 100, 200}, 1, 1);
    g.rows[1] = g.l[1].pixel0();
    RefConvolve3x3(g.rows, out.data(), 3, 1, BuiltinKernels[4], 1);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[0], 255);
}

TEST(DscrnConvolve, LineEndsAreConvolvedWithCopiesOfThemselves)
{
    // Box kernel over three equal rows {10, 100, 250}: pixel 0 sees 10, 10,
    // 100 in each row, pixel 2 sees 100, 250, 250.
    Window3 w;
    for (int r = 0; r < 3; r++) {
        w.l[r] = MakeLine({10, 100, 250}, 1, 1);
        w.rows[r] = w.l[r].pixel0();
    }
    std::vector<uint8_t> out(3);
    RefConvolve3x3(w.rows, out.data(), 3, 1, BuiltinKernels[0], 9);
    EXPECT_EQ(out, (std::vector<uint8_t>{40, 120, 200}));
}

TEST(DscrnConvolve, SixteenBitSumWrapsBeforeTheSignTest)
{
    // Nine weights of 127 over white: 9 * 127 * 255 = 291465, which is
    // 291465 - 4 * 65536 = 29321 as a 16-bit value; the divisor is
    // 1143 & 255 = 119, so 29321 / 119 = 246.
    const int8_t k[9] = {127, 127, 127, 127, 127, 127, 127, 127, 127};
    Window3 w = Uniform3(255, 4, 1);
    std::vector<uint8_t> out(4);
    RefConvolve3x3(w.rows, out.data(), 4, 1, k, KernelDivisor(k));
    EXPECT_EQ(out[0], 29321 / 119);
    // Nine weights of -128 over white: -293760 is 33920 modulo 65536,
    // negative as a signed 16-bit value, so 0.
    const int8_t n[9] = {-128, -128, -128, -128, -128, -128, -128, -128, -128};
    RefConvolve3x3(w.rows, out.data(), 4, 1, n, KernelDivisor(n));
    EXPECT_EQ(out[0], 0);
    // Weights summing to -3 divide by 253; only the bottom row sees light.
    const int8_t m3[9] = {-1, -1, -1, 0, 0, 0, 1, -1, 0};
    Window3 v = Uniform3(0, 3, 1);
    v.l[2] = MakeLine({255, 255, 0}, 1, 1);
    v.rows[2] = v.l[2].pixel0();
    // Pixel 0 sees 255, 255, 255 below: 255 - 255 = 0.  Pixel 2 sees 255, 0, 0: 255 / 253 = 1.
    RefConvolve3x3(v.rows, out.data(), 3, 1, m3, KernelDivisor(m3));
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[2], 1);
}

struct Window5 {
    RingLine l[5];
    const uint8_t* rows[5];
};

Window5 Uniform5(uint8_t v, uint32_t width, uint32_t bpp)
{
    Window5 w;
    for (int r = 0; r < 5; r++) {
        w.l[r] = MakeLine(std::vector<uint8_t>(width * bpp, v), bpp, 2);
        w.rows[r] = w.l[r].pixel0();
    }
    return w;
}

TEST(DscrnDescreen, UniformAreasInGrayAndColour)
{
    // Gray divides the 13-point sum by 16, colour by 13.
    struct Case { uint32_t bpp; uint8_t in, out; } cases[] = {
        {1, 255, 207}, {1, 100, 81}, {1, 0, 0}, {3, 255, 255}, {3, 100, 100}, {3, 1, 1},
    };
    for (const auto& c : cases) {
        Window5 w = Uniform5(c.in, 20, c.bpp);
        std::vector<uint8_t> out(20 * c.bpp);
        RefDescreen13(w.rows, out.data(), 20, 20, 300, c.bpp);
        for (uint8_t o : out)
            ASSERT_EQ(o, c.out) << "bpp " << c.bpp << " in " << int(c.in);
        for (const LineRoutines* f : FastForms()) {
            std::vector<uint8_t> fast(20 * c.bpp);
            f->descreen13(w.rows, fast.data(), 20, 20, 300, c.bpp);
            ASSERT_EQ(fast, out);
        }
    }
}

TEST(DscrnDescreen, DiamondPointsAndResampledColumns)
{
    // A single 255 at (row 2, x) reaches exactly the 13 points of the
    // diamond; in colour each is 255 / 13 = 19 in channel 1 only.
    const uint32_t width = 9;
    Window5 w = Uniform5(0, width, 3);
    std::vector<uint8_t> centre(width * 3, 0);
    centre[4 * 3 + 1] = 255;
    w.l[2] = MakeLine(centre, 3, 2);
    w.rows[2] = w.l[2].pixel0();
    std::vector<uint8_t> out(width * 3);
    RefDescreen13(w.rows, out.data(), width, width, 300, 3);
    for (uint32_t x = 0; x < width; x++) {
        const bool reached = x >= 2 && x <= 6;
        EXPECT_EQ(out[x * 3 + 1], reached ? 19 : 0) << x;
        EXPECT_EQ(out[x * 3], 0);
        EXPECT_EQ(out[x * 3 + 2], 0);
    }

    // At 150, 9 pixels give dstWidth 4 from pixels 0, 2, 4 and 6.
    std::vector<uint8_t> ramp = {0, 16, 32, 48, 64, 80, 96, 112, 128};
    Window5 g;
    for (int r = 0; r < 5; r++) {
        g.l[r] = MakeLine(ramp, 1, 2);
        g.rows[r] = g.l[r].pixel0();
    }
    std::vector<uint8_t> dec(4);
    RefDescreen13(g.rows, dec.data(), 9, 4, 150, 1);
    std::vector<uint8_t> copy(4);
    RefCopyDecimated(g.rows[2], copy.data(), 9, 4, 150, 1);
    EXPECT_EQ(copy, (std::vector<uint8_t>{0, 32, 64, 96}));
    // Along a ramp every row's own points average to the pixel itself:
    // 13 * v / 16 in gray, except at the left end where copies of pixel 0 stand in.
    EXPECT_EQ(dec[1], (13 * 32) / 16);
    EXPECT_EQ(dec[2], (13 * 64) / 16);
    EXPECT_EQ(dec[3], (13 * 96) / 16);
    // At 100, pixels 0, 3 and 6.
    std::vector<uint8_t> at100(3);
    RefCopyDecimated(g.rows[2], at100.data(), 9, 3, 100, 1);
    EXPECT_EQ(at100, (std::vector<uint8_t>{0, 48, 96}));
}

// --- fast forms against the reference -------------------------------------

void CheckConvolve(std::mt19937& rng, const int8_t* kernel, uint32_t width, uint32_t bpp, int style)
{
    Window3 w;
    for (int r = 0; r < 3; r++) {
        w.l[r] = MakeLine(RandomPixels(rng, width * bpp, style), bpp, 1);
        w.rows[r] = w.l[r].pixel0();
    }
    const uint8_t divisor = KernelDivisor(kernel);
    std::vector<uint8_t> ref(width * bpp);
    RefConvolve3x3(w.rows, ref.data(), width, bpp, kernel, divisor);
    for (int level = 0; level < LINE_LEVELS; level++) {
        const LineRoutines* f = LineRoutinesFor(level);
        if (!f)
            continue;
        std::vector<uint8_t> fast(width * bpp);
        f->convolve3x3(w.rows, fast.data(), width, bpp, kernel, divisor);
        ASSERT_EQ(fast, ref) << LineLevelName(level) << " width " << width << " bpp " << bpp
                             << " divisor " << int(divisor) << " style " << style;
    }
}

TEST(DscrnFastForms, ConvolveBuiltinKernels)
{
    std::mt19937 rng(1);
    for (int mode = 0; mode < 6; mode++)
        for (uint32_t bpp : {1u, 3u})
            for (uint32_t width : WIDTHS)
                for (int style = 0; style < 3; style++)
                    CheckConvolve(rng, BuiltinKernels[mode], width, bpp, style);
}

TEST(DscrnFastForms, ConvolveEveryDivisorWithWrappingCustomKernels)
{
    std::mt19937 rng(2);
    for (uint32_t d = 1; d < 256; d++) {
        // Random weights, the centre one chosen so that the sum is d modulo 256.
        int8_t k[9];
        int sum = 0;
        for (int i = 0; i < 9; i++) {
            k[i] = static_cast<int8_t>(rng());
            if (i != 4)
                sum += k[i];
        }
        k[4] = static_cast<int8_t>(static_cast<uint8_t>(d - sum));
        ASSERT_EQ(KernelDivisor(k), d);
        for (uint32_t bpp : {1u, 3u})
            for (uint32_t width : {1u, 7u, 17u, 63u, 101u})
                for (int style = 0; style < 3; style++)
                    CheckConvolve(rng, k, width, bpp, style);
    }
}

TEST(DscrnFastForms, ConvolveExtremeAndNegativeSumKernels)
{
    std::mt19937 rng(3);
    const int8_t kernels[][9] = {
        {127, 127, 127, 127, 127, 127, 127, 127, 127},
        {-128, -128, -128, -128, 127, -128, -128, -128, -128},
        {-1, -1, -1, 0, 0, 0, 0, 0, 0},        // -3: divides by 253
        {-128, 127, -128, 127, -3, 127, -128, 127, -128},
        {0, 0, 0, 0, 1, 0, 0, 0, 0},           // identity
        {1, 1, 1, 1, 1, 1, 1, 1, 1},
    };
    for (const auto& k : kernels)
        for (uint32_t bpp : {1u, 3u})
            for (uint32_t width : WIDTHS)
                for (int style = 0; style < 3; style++)
                    CheckConvolve(rng, k, width, bpp, style);
}

TEST(DscrnFastForms, DescreenAndCopyAtEveryResolution)
{
    std::mt19937 rng(4);
    for (uint32_t res = 1; res <= 300; res++)
        for (uint32_t bpp : {1u, 3u})
            for (uint32_t width : {1u, 3u, 9u, 17u, 33u, 301u, 1031u}) {
                Window5 w;
                for (int r = 0; r < 5; r++) {
                    w.l[r] = MakeLine(RandomPixels(rng, width * bpp, res % 3), bpp, 2);
                    w.rows[r] = w.l[r].pixel0();
                }
                const uint32_t full = width * res / 300;
                // dstWidth as GetDescreenSize gives it, and a smaller one.
                for (uint32_t dstWidth : {full, full / 2}) {
                    std::vector<uint8_t> ref(dstWidth * bpp), refCopy(dstWidth * bpp);
                    RefDescreen13(w.rows, ref.data(), width, dstWidth, res, bpp);
                    RefCopyDecimated(w.rows[2], refCopy.data(), width, dstWidth, res, bpp);
                    for (int level = 0; level < LINE_LEVELS; level++) {
                        const LineRoutines* f = LineRoutinesFor(level);
                        if (!f)
                            continue;
                        std::vector<uint8_t> fast(dstWidth * bpp), copy(dstWidth * bpp);
                        f->descreen13(w.rows, fast.data(), width, dstWidth, res, bpp);
                        f->copyDecimated(w.rows[2], copy.data(), width, dstWidth, res, bpp);
                        ASSERT_EQ(fast, ref) << LineLevelName(level) << " res " << res
                                             << " width " << width << " bpp " << bpp;
                        ASSERT_EQ(copy, refCopy) << LineLevelName(level) << " res " << res;
                    }
                }
            }
}

TEST(DscrnFastForms, ResolutionsNoRunUsesStillMatch)
{
    // 0 and values above 300 never reach the fast forms from the DLL, but
    // the forms give the reference's bytes for them too (the 16-bit
    // accumulator wraps past 600 pixels at 400).
    std::mt19937 rng(8);
    for (uint32_t res : {0u, 301u, 400u, 1000u})
        for (uint32_t bpp : {1u, 3u}) {
            const uint32_t width = 1500;
            Window5 w;
            for (int r = 0; r < 5; r++) {
                w.l[r] = MakeLine(RandomPixels(rng, width * bpp, 0), bpp, 2);
                w.rows[r] = w.l[r].pixel0();
            }
            std::vector<uint8_t> ref(width * bpp), refCopy(width * bpp);
            RefDescreen13(w.rows, ref.data(), width, width, res, bpp);
            RefCopyDecimated(w.rows[2], refCopy.data(), width, width, res, bpp);
            for (const LineRoutines* f : FastForms()) {
                std::vector<uint8_t> fast(width * bpp), copy(width * bpp);
                f->descreen13(w.rows, fast.data(), width, width, res, bpp);
                f->copyDecimated(w.rows[2], copy.data(), width, width, res, bpp);
                ASSERT_EQ(fast, ref) << "res " << res;
                ASSERT_EQ(copy, refCopy) << "res " << res;
            }
        }
}

TEST(DscrnFastForms, LevelsFollowTheProcessor)
{
    // The scalar forms are always there; a level is offered only when the
    // processor has everything below it too.
    ASSERT_NE(LineRoutinesFor(LINE_SCALAR), nullptr);
    const int best = BestLineLevel();
    for (int level = 0; level < LINE_LEVELS; level++)
        EXPECT_EQ(LineRoutinesFor(level) != nullptr, level <= best) << LineLevelName(level);
    EXPECT_EQ(LineRoutinesFor(LINE_LEVELS), nullptr);
#if defined(__x86_64__)
    EXPECT_GE(best, LINE_SSE2);  // every x86-64 processor has SSE2
#endif
}

}  // namespace
