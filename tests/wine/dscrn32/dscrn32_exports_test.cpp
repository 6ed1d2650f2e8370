// dscrn32.dll through its four exports, loaded as a data source loads it,
// over raw image files: which source lines feed each output line, the
// output placement, the end of a run and the refusals.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dscrn32.h"
#include "line_routines.h"
#include "raw_image.h"

namespace {

struct Library {
    HMODULE module = nullptr;
    GetDescreenSizeProc getDescreenSize = nullptr;
    FilterBeginProc filterBegin = nullptr;
    DoFilterProc doFilter = nullptr;
    FilterEndProc filterEnd = nullptr;
};

template <class T>
T Proc(HMODULE module, const char* name)
{
    return reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

const Library& Lib()
{
    static Library lib = [] {
        Library l;
        l.module = LoadLibraryA("dscrn32.dll");
        if (l.module) {
            l.getDescreenSize = Proc<GetDescreenSizeProc>(l.module, "GetDescreenSize");
            l.filterBegin = Proc<FilterBeginProc>(l.module, "FilterBegin");
            l.doFilter = Proc<DoFilterProc>(l.module, "DoFilter");
            l.filterEnd = Proc<FilterEndProc>(l.module, "FilterEnd");
        }
        return l;
    }();
    return lib;
}

// A raw image written to a temporary file and open for reading.
struct SourceFile {
    std::string path;
    HANDLE handle = INVALID_HANDLE_VALUE;
    SourceFile(const std::vector<uint8_t>& bytes)
    {
        static int counter = 0;
        char dir[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        char name[MAX_PATH];
        snprintf(name, sizeof name, "%sdscrn_%lu_%d.raw", dir, GetCurrentProcessId(), counter++);
        path = name;
        HANDLE w = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        if (!bytes.empty())
            WriteFile(w, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(w);
        handle = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    ~SourceFile()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        DeleteFileA(path.c_str());
    }
    DWORD position() const { return SetFilePointer(handle, 0, nullptr, FILE_CURRENT); }
};

FilterContext KernelContext(const RawImage& img, HANDLE file, uint16_t mode)
{
    FilterContext ctx;
    memset(&ctx, 0xCD, sizeof ctx);  // the library must not rely on zeroed fields
    ctx.srcWidth = img.width;
    ctx.srcLineBytes = img.lineBytes;
    ctx.srcLines = img.lines;
    ctx.flags = 0;
    ctx.srcFile = file;
    ctx.pixelType = img.bpp == 1 ? PT_GRAY8 : 0;
    ctx.filterMode = mode;
    return ctx;
}

FilterContext DescreenContext(const RawImage& img, HANDLE file, uint16_t resolution, uint32_t flags = 0)
{
    FilterContext ctx = KernelContext(img, file, DESCREEN_MODE);
    ctx.resolution = resolution;
    ctx.flags = flags;
    Lib().getDescreenSize(&ctx);
    return ctx;
}

void UseCustomKernel(FilterContext* ctx, std::initializer_list<int> weights)
{
    int i = 0;
    for (int w : weights)
        ctx->customKernel[i++] = static_cast<int8_t>(w);
    ctx->flags |= FLT_CUSTOM_KERNEL;
}

struct Output {
    std::vector<int32_t> results;               // every DoFilter result
    std::vector<std::vector<uint8_t>> lines;    // pixels of each line, in run order
};

// DoFilter a buffer of `bufferLines` lines at a time until it returns 0 or -1.
Output RunAll(FilterContext* ctx, uint32_t bufferLines)
{
    Output out;
    const uint32_t pixelBytes = ctx->dstWidth * (ctx->pixelType == PT_GRAY8 ? 1 : 3);
    std::vector<uint8_t> buffer(static_cast<size_t>(bufferLines) * ctx->dstLineBytes + 1);
    for (int guard = 0; guard < 100000; guard++) {
        ctx->dstBuffer = buffer.data();
        ctx->dstBufferSize = bufferLines * ctx->dstLineBytes;
        const int32_t got = Lib().doFilter(ctx);
        out.results.push_back(got);
        if (got <= 0)
            break;
        for (int32_t i = 0; i < got; i++) {
            const int32_t slot = (ctx->flags & FLT_BOTTOM_UP) ? got - 1 - i : i;
            const uint8_t* p = buffer.data() + static_cast<size_t>(slot) * ctx->dstLineBytes;
            out.lines.emplace_back(p, p + pixelBytes);
        }
    }
    return out;
}

TEST(DscrnExports, FourExportsByUndecoratedName)
{
    ASSERT_NE(Lib().module, nullptr);
    EXPECT_NE(Lib().getDescreenSize, nullptr);
    EXPECT_NE(Lib().filterBegin, nullptr);
    EXPECT_NE(Lib().doFilter, nullptr);
    EXPECT_NE(Lib().filterEnd, nullptr);
    EXPECT_EQ(GetProcAddress(Lib().module, "_DoFilter@4"), nullptr);
    EXPECT_EQ(GetProcAddress(Lib().module, "DoFilter@4"), nullptr);
}

TEST(DscrnKernelRun, WindowRowsAreSourceLinesAboveAtAndBelow)
{
    // Kernels that pick one pixel of the window: output line k is then
    // exactly source line k - 1, k or k + 1 (shifted by a pixel for the
    // side columns), which shows the window order of the ring.
    const RawImage img = RandomImage(13, 9, 3, 3, 11);
    struct Pick { int weight; int dy, dx; } picks[] = {
        {1, -1, 0}, {4, 0, 0}, {7, 1, 0}, {3, 0, -1}, {5, 0, 1}, {8, 1, 1},
    };
    for (const Pick& p : picks) {
        SourceFile src(img.bytes);
        FilterContext ctx = KernelContext(img, src.handle, 0);
        int8_t k[9] = {};
        k[p.weight] = 1;
        memcpy(ctx.customKernel, k, 9);
        ctx.flags = FLT_CUSTOM_KERNEL;
        ASSERT_EQ(Lib().filterBegin(&ctx), 1);
        EXPECT_EQ(ctx.kernelDivisor, 1);
        const Output out = RunAll(&ctx, 2);
        Lib().filterEnd(&ctx);
        ASSERT_EQ(out.lines.size(), img.lines);
        for (uint32_t y = 1; y + 1 < img.lines; y++)
            for (uint32_t x = 0; x < img.width; x++) {
                int sx = static_cast<int>(x) + p.dx;
                sx = sx < 0 ? 0 : (sx >= static_cast<int>(img.width) ? img.width - 1 : sx);
                for (uint32_t ch = 0; ch < 3; ch++)
                    ASSERT_EQ(out.lines[y][x * 3 + ch], img.line(y + p.dy)[sx * 3 + ch])
                        << "weight " << p.weight << " line " << y << " x " << x;
            }
    }
}

TEST(DscrnKernelRun, OneTwoThreeAndManyLinesInEveryMode)
{
    // The first and last lines pass through; the others are filtered over
    // lines k - 1 .. k + 1.
    for (uint32_t lines : {1u, 2u, 3u, 4u, 17u})
        for (uint32_t bpp : {1u, 3u})
            for (uint16_t mode = 0; mode < FILTER_KERNEL_MODES; mode++) {
                const RawImage img = RandomImage(37, lines, bpp, 2, lines * 7 + mode);
                SourceFile src(img.bytes);
                FilterContext ctx = KernelContext(img, src.handle, mode);
                ASSERT_EQ(Lib().filterBegin(&ctx), 1);
                EXPECT_EQ(ctx.dstWidth, img.width);
                EXPECT_EQ(ctx.dstLineBytes, img.lineBytes);
                EXPECT_EQ(ctx.dstLines, lines);
                EXPECT_EQ(ctx.ringSize, 3);
                EXPECT_EQ(ctx.ringLineBytes, 2 * bpp + img.lineBytes);
                const Output out = RunAll(&ctx, 3);
                Lib().filterEnd(&ctx);
                const auto want = ModelOutput(img, BuiltinKernels[mode], 0);
                ASSERT_EQ(out.lines, want) << "lines " << lines << " bpp " << bpp << " mode " << mode;
                EXPECT_EQ(out.results.back(), 0);
                // Every source line was read exactly once.
                EXPECT_EQ(src.position(), img.bytes.size());
            }
}

TEST(DscrnKernelRun, ReadsStopAtTheImagesLastLine)
{
    // A file with more after the image: the run reads the image and no
    // further, and a second run over the same handle starts again at 0.
    const RawImage img = RandomImage(300, 500, 3, 4, 21);
    std::vector<uint8_t> bytes = img.bytes;
    bytes.resize(bytes.size() + 1000, 0x5A);
    SourceFile src(bytes);
    for (int run = 0; run < 2; run++) {
        FilterContext ctx = KernelContext(img, src.handle, 3);
        ASSERT_EQ(Lib().filterBegin(&ctx), 1);
        const Output out = RunAll(&ctx, 7);
        Lib().filterEnd(&ctx);
        EXPECT_EQ(src.position(), img.bytes.size());
        ASSERT_EQ(out.lines, ModelOutput(img, BuiltinKernels[3], 0)) << "run " << run;
    }
}

TEST(DscrnLinePixels, NarrowLinesWhereBothEndsMeet)
{
    // Lines filtered where they were read have no border copies: pixels
    // whose window passes an end must still see copies of the end pixel,
    // also when the two ends' windows overlap.
    for (uint32_t width : {1u, 2u, 3u, 4u, 5u, 6u, 7u})
        for (uint32_t bpp : {1u, 3u}) {
            const RawImage img = RandomImage(width, 9, bpp, width % 3, width * 10 + bpp);
            for (uint16_t mode : {0, 3, 4}) {
                SourceFile src(img.bytes);
                FilterContext ctx = KernelContext(img, src.handle, mode);
                ASSERT_EQ(Lib().filterBegin(&ctx), 1);
                const Output out = RunAll(&ctx, 4);
                Lib().filterEnd(&ctx);
                ASSERT_EQ(out.lines, ModelOutput(img, BuiltinKernels[mode], 0))
                    << "width " << width << " bpp " << bpp << " mode " << mode;
            }
            for (uint16_t res : {300, 200, 150, 100}) {
                if (width * res / 300 == 0)
                    continue;  // lines of no pixels: refused
                SourceFile src(img.bytes);
                FilterContext ctx = DescreenContext(img, src.handle, res);
                ASSERT_EQ(Lib().filterBegin(&ctx), 1);
                const Output out = RunAll(&ctx, 4);
                Lib().filterEnd(&ctx);
                ASSERT_EQ(out.lines, ModelOutput(img, nullptr, res))
                    << "width " << width << " bpp " << bpp << " res " << res;
            }
        }
}

TEST(DscrnLinePixels, LongImagesAcrossManyReads)
{
    // Several megabytes, so that the source comes in many reads and the
    // lines still in the window are moved more than once; one image has
    // lines longer than a read, and buffers end at odd places.
    struct Case { uint32_t width, lines, bpp, padding; } cases[] = {
        {1000, 700, 3, 2},
        {2477, 900, 1, 1},
        {25000, 45, 3, 3},
    };
    for (const Case& c : cases) {
        const RawImage img = RandomImage(c.width, c.lines, c.bpp, c.padding, c.width + c.lines);
        SourceFile src(img.bytes);
        for (uint16_t mode : {2, 3}) {
            FilterContext ctx = KernelContext(img, src.handle, mode);
            ASSERT_EQ(Lib().filterBegin(&ctx), 1);
            const Output out = RunAll(&ctx, 13);
            Lib().filterEnd(&ctx);
            EXPECT_EQ(src.position(), img.bytes.size());
            ASSERT_EQ(out.lines, ModelOutput(img, BuiltinKernels[mode], 0)) << "width " << c.width << " mode " << mode;
        }
        for (uint16_t res : {300, 150, 37}) {
            FilterContext ctx = DescreenContext(img, src.handle, res);
            ASSERT_EQ(Lib().filterBegin(&ctx), 1);
            const Output out = RunAll(&ctx, 11);
            Lib().filterEnd(&ctx);
            ASSERT_EQ(out.lines, ModelOutput(img, nullptr, res)) << "width " << c.width << " res " << res;
        }
    }
}

TEST(DscrnKernelRun, PassThroughCopiesTheWholeLineRecord)
{
    // The first and last output lines are dstLineBytes bytes of the source
    // record; of its padding only the bytes after the border copies survive.
    const RawImage img = RandomImage(5, 4, 1, 6, 3);
    SourceFile src(img.bytes);
    FilterContext ctx = KernelContext(img, src.handle, 2);
    ASSERT_EQ(Lib().filterBegin(&ctx), 1);
    std::vector<uint8_t> buffer(4 * ctx.dstLineBytes);
    ctx.dstBuffer = buffer.data();
    ctx.dstBufferSize = static_cast<uint32_t>(buffer.size());
    ASSERT_EQ(Lib().doFilter(&ctx), 4);
    Lib().filterEnd(&ctx);
    for (uint32_t y : {0u, 3u}) {
        const uint8_t* out = buffer.data() + y * ctx.dstLineBytes;
        EXPECT_EQ(0, memcmp(out, img.line(y), img.width)) << y;
        EXPECT_EQ(out[img.width], img.line(y)[img.width - 1]) << "border copy over the padding";
        EXPECT_EQ(0, memcmp(out + img.width + 1, img.line(y) + img.width + 1, 5)) << y;
    }
}

TEST(DscrnKernelRun, CustomKernelsMatchTheReferenceForEveryDivisor)
{
    // Through the DLL's own (fastest) forms; random weights, the centre
    // chosen for each divisor, some sums wrapping in 16 bits.
    const RawImage gray = RandomImage(61, 5, 1, 3, 5);
    const RawImage colour = RandomImage(23, 4, 3, 1, 6);
    uint32_t seed = 1;
    for (uint32_t d = 1; d < 256; d++) {
        int8_t k[9];
        int sum = 0;
        for (int i = 0; i < 9; i++) {
            seed = seed * 1103515245u + 12345u;
            k[i] = static_cast<int8_t>(seed >> 16);
            if (i != 4)
                sum += k[i];
        }
        k[4] = static_cast<int8_t>(static_cast<uint8_t>(d - sum));
        for (const RawImage* img : {&gray, &colour}) {
            SourceFile src(img->bytes);
            FilterContext ctx = KernelContext(*img, src.handle, 4);
            memcpy(ctx.customKernel, k, 9);
            ctx.flags = FLT_CUSTOM_KERNEL;
            ASSERT_EQ(Lib().filterBegin(&ctx), 1);
            ASSERT_EQ(ctx.kernelDivisor, d);
            const Output out = RunAll(&ctx, 8);
            Lib().filterEnd(&ctx);
            ASSERT_EQ(out.lines, ModelOutput(*img, k, 0)) << "divisor " << d;
        }
    }
}

TEST(DscrnDescreenRun, SourceLinesOfEachOutputLine)
{
    struct Case { uint32_t lines; uint16_t res; std::vector<uint32_t> from; } cases[] = {
        {10, 300, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {10, 150, {0, 2, 4, 6, 8}},
        {10, 100, {0, 3, 6}},  // line 9 would yield but is never reached
        {5, 300, {0, 1, 2, 3, 4}},
        {4, 300, {0, 1, 2, 3}},  // no line with two lines either side
        {31, 77, {}},
    };
    for (const auto& c : cases) {
        if (!c.from.empty()) {
            EXPECT_EQ(DescreenSourceLines(c.lines, c.res), c.from);
        }
        for (uint32_t bpp : {1u, 3u}) {
            const RawImage img = RandomImage(41, c.lines, bpp, 1, c.lines + c.res);
            SourceFile src(img.bytes);
            FilterContext ctx = DescreenContext(img, src.handle, c.res);
            ASSERT_EQ(Lib().filterBegin(&ctx), 1);
            EXPECT_EQ(ctx.ringSize, 5);
            EXPECT_EQ(ctx.border, 2);
            const Output out = RunAll(&ctx, 2);
            Lib().filterEnd(&ctx);
            const auto want = ModelOutput(img, nullptr, c.res);
            ASSERT_EQ(out.lines.size(), DescreenSourceLines(c.lines, c.res).size());
            ASSERT_EQ(out.lines, want) << "lines " << c.lines << " res " << c.res << " bpp " << bpp;
            // Pass-through lines are the decimated source line itself.
            const std::vector<uint32_t> from = DescreenSourceLines(c.lines, c.res);
            for (size_t i = 0; i < from.size(); i++) {
                if (from[i] < 2 || from[i] + 2 >= c.lines) {
                    EXPECT_EQ(out.lines[i][0], img.line(from[i])[0]);
                }
            }
        }
    }
}

TEST(DscrnDescreenRun, ResolutionsAcrossTheRange)
{
    for (uint16_t res : {1, 2, 37, 99, 100, 101, 150, 199, 240, 299, 300})
        for (uint32_t bpp : {1u, 3u}) {
            const RawImage img = RandomImage(97, 23, bpp, 3, res);
            SourceFile src(img.bytes);
            FilterContext ctx = DescreenContext(img, src.handle, res, FLT_ALIGN_DWORD);
            ASSERT_EQ(Lib().filterBegin(&ctx), 1);
            const Output out = RunAll(&ctx, 3);
            Lib().filterEnd(&ctx);
            ASSERT_EQ(out.lines, ModelOutput(img, nullptr, res)) << "res " << res << " bpp " << bpp;
            EXPECT_EQ(out.results.back(), 0);
        }
}

TEST(DscrnDescreenRun, GetDescreenSizeWithAndWithoutAlignment)
{
    struct Case { uint32_t width, lines; uint16_t pixelType, res; uint32_t flags; uint32_t w, lb, l; } cases[] = {
        {1000, 10, 0, 100, 0, 333, 999, 3},
        {1000, 10, 0, 100, FLT_ALIGN_DWORD, 333, 1000, 3},
        {1000, 10, PT_GRAY8, 100, 0, 333, 333, 3},
        {1000, 10, PT_GRAY8, 100, FLT_ALIGN_DWORD, 333, 336, 3},
        {1001, 7, PT_GRAY8, 300, FLT_ALIGN_DWORD | FLT_BOTTOM_UP, 1001, 1004, 7},
        {5100, 7016, 1, 150, 0, 2550, 7650, 3508},
        {2, 2, PT_GRAY8, 1, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        FilterContext ctx;
        memset(&ctx, 0, sizeof ctx);
        ctx.srcWidth = c.width;
        ctx.srcLines = c.lines;
        ctx.pixelType = c.pixelType;
        ctx.resolution = c.res;
        ctx.flags = c.flags;
        ctx.filterMode = 3;  // not looked at
        Lib().getDescreenSize(&ctx);
        EXPECT_EQ(ctx.dstWidth, c.w);
        EXPECT_EQ(ctx.dstLineBytes, c.lb);
        EXPECT_EQ(ctx.dstLines, c.l);
    }
}

TEST(DscrnPlacement, BottomUpFillsEachBufferFromItsLastSlot)
{
    // 10 lines through a 4-line buffer: calls of 4, 4 and 2 lines; in each
    // call the first line produced goes to the last slot in use.
    const RawImage img = RandomImage(8, 10, 1, 0, 9);
    SourceFile src(img.bytes);
    FilterContext ctx = KernelContext(img, src.handle, 0);
    UseCustomKernel(&ctx, {0, 0, 0, 0, 1, 0, 0, 0, 0});  // identity
    ctx.flags |= FLT_BOTTOM_UP;
    ASSERT_EQ(Lib().filterBegin(&ctx), 1);
    EXPECT_EQ(ctx.dstStep, -8);
    std::vector<uint8_t> buffer(4 * 8);
    uint32_t next = 0;
    for (int32_t expect : {4, 4, 2}) {
        memset(buffer.data(), 0xEE, buffer.size());
        ctx.dstBuffer = buffer.data();
        ctx.dstBufferSize = static_cast<uint32_t>(buffer.size());
        ASSERT_EQ(Lib().doFilter(&ctx), expect);
        for (int32_t i = 0; i < expect; i++)
            EXPECT_EQ(0, memcmp(buffer.data() + (expect - 1 - i) * 8, img.line(next + i), 8))
                << "line " << next + i;
        for (int32_t slot = expect; slot < 4; slot++)
            EXPECT_EQ(buffer[slot * 8], 0xEE) << "slot " << slot << " stays untouched";
        next += expect;
    }
    ctx.dstBufferSize = static_cast<uint32_t>(buffer.size());
    EXPECT_EQ(Lib().doFilter(&ctx), 0);
    Lib().filterEnd(&ctx);
}

TEST(DscrnPlacement, BufferSmallerThanALineReadsNothing)
{
    const RawImage img = RandomImage(30, 6, 3, 2, 12);
    SourceFile src(img.bytes);
    FilterContext ctx = DescreenContext(img, src.handle, 300);
    ASSERT_EQ(Lib().filterBegin(&ctx), 1);
    std::vector<uint8_t> buffer(ctx.dstLineBytes);
    ctx.dstBuffer = buffer.data();
    for (uint32_t size : {0u, 1u, ctx.dstLineBytes - 1}) {
        ctx.dstBufferSize = size;
        EXPECT_EQ(Lib().doFilter(&ctx), 0);
        EXPECT_EQ(src.position(), 0u);
        EXPECT_EQ(ctx.linesLeft, 6u);
    }
    // The run then goes on as if those calls had not been made.
    const Output out = RunAll(&ctx, 1);
    Lib().filterEnd(&ctx);
    EXPECT_EQ(out.lines, ModelOutput(img, nullptr, 300));
}

TEST(DscrnRunEnd, EveryCallAfterTheLastLineGivesZero)
{
    const RawImage img = RandomImage(9, 7, 1, 0, 13);
    SourceFile src(img.bytes);
    FilterContext ctx = DescreenContext(img, src.handle, 150);
    ASSERT_EQ(Lib().filterBegin(&ctx), 1);
    std::vector<uint8_t> buffer(100 * ctx.dstLineBytes);
    ctx.dstBuffer = buffer.data();
    ctx.dstBufferSize = static_cast<uint32_t>(buffer.size());
    EXPECT_EQ(Lib().doFilter(&ctx), 3);
    const DWORD pos = src.position();
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(Lib().doFilter(&ctx), 0);
        EXPECT_EQ(ctx.linesLeft, 0u);
    }
    EXPECT_EQ(src.position(), pos);
    Lib().filterEnd(&ctx);
    // The freed block is forgotten: a stray DoFilter or FilterEnd finds nothing.
    EXPECT_EQ(ctx.ringMemory, nullptr);
    EXPECT_EQ(Lib().doFilter(&ctx), -1);
    Lib().filterEnd(&ctx);
}

TEST(DscrnRunEnd, SourceOneByteShortFailsTheCallNeedingTheLastLine)
{
    // Kernel mode reads line N - 1 for output line N - 2, descreen for the
    // first output line whose window reaches it.
    struct Case { uint16_t mode; uint16_t res; uint32_t goodLines; } cases[] = {
        {1, 0, 6},              // outputs 0..5 need lines up to 6; output 6 needs line 7
        {DESCREEN_MODE, 300, 5},  // output 5 needs line 7
    };
    for (const auto& c : cases)
        for (uint32_t bpp : {1u, 3u}) {
            RawImage img = RandomImage(19, 8, bpp, 1, 14);
            std::vector<uint8_t> shortFile(img.bytes.begin(), img.bytes.end() - 1);
            SourceFile src(shortFile);
            FilterContext ctx = c.mode == DESCREEN_MODE ? DescreenContext(img, src.handle, c.res)
                                                        : KernelContext(img, src.handle, c.mode);
            ASSERT_EQ(Lib().filterBegin(&ctx), 1);
            const Output out = RunAll(&ctx, 1);
            ASSERT_EQ(out.results.size(), c.goodLines + 1);
            EXPECT_EQ(out.results.back(), -1);
            EXPECT_EQ(ctx.linesLeft, 8u - c.goodLines);
            // The good lines are right, and the broken run stays broken.
            const auto want = ModelOutput(img, BuiltinKernels[c.mode % 6], c.res);
            for (uint32_t i = 0; i < c.goodLines; i++)
                EXPECT_EQ(out.lines[i], want[i]) << i;
            std::vector<uint8_t> buffer(ctx.dstLineBytes);
            ctx.dstBuffer = buffer.data();
            ctx.dstBufferSize = ctx.dstLineBytes;
            EXPECT_EQ(Lib().doFilter(&ctx), -1);
            EXPECT_EQ(Lib().doFilter(&ctx), -1);
            Lib().filterEnd(&ctx);
        }
}

TEST(DscrnBegin, RefusesWhatARunCannotHonourAndAllocatesNothing)
{
    const RawImage img = RandomImage(12, 6, 3, 0, 15);
    SourceFile src(img.bytes);
    struct Case { const char* what; uint16_t mode; uint16_t res; std::initializer_list<int> kernel; } cases[] = {
        {"resolution 0", DESCREEN_MODE, 0, {}},
        {"resolution 301", DESCREEN_MODE, 301, {}},
        {"resolution 65535", 200, 65535, {}},
        {"kernel summing to 256", 0, 0, {127, 127, 2, 0, 0, 0, 0, 0, 0}},
        {"kernel summing to 0", 3, 0, {1, -1, 1, -1, 0, 1, -1, 1, -1}},
        {"kernel summing to -256", 5, 0, {-128, -128, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        FilterContext ctx = c.mode >= DESCREEN_MODE ? DescreenContext(img, src.handle, c.res)
                                                    : KernelContext(img, src.handle, c.mode);
        if (c.kernel.size())
            UseCustomKernel(&ctx, c.kernel);
        EXPECT_EQ(Lib().filterBegin(&ctx), 0) << c.what;
        EXPECT_EQ(ctx.ringMemory, nullptr) << c.what;
        uint8_t buffer[64];
        ctx.dstBuffer = buffer;
        ctx.dstBufferSize = sizeof buffer;
        ctx.dstLineBytes = 12;
        ctx.linesLeft = 6;
        EXPECT_EQ(Lib().doFilter(&ctx), -1) << c.what;
        Lib().filterEnd(&ctx);
        Lib().filterEnd(&ctx);
    }
    EXPECT_EQ(src.position(), 0u);
    // The same kernel sum of 256 in mode 0 without FLT_CUSTOM_KERNEL is the box kernel.
    FilterContext ok = KernelContext(img, src.handle, 0);
    UseCustomKernel(&ok, {127, 127, 2, 0, 0, 0, 0, 0, 0});
    ok.flags = 0;
    EXPECT_EQ(Lib().filterBegin(&ok), 1);
    EXPECT_EQ(ok.kernelDivisor, 9);
    Lib().filterEnd(&ok);
}

TEST(DscrnBegin, FailedSeekLeavesNothingToFree)
{
    const RawImage img = RandomImage(4, 4, 1, 0, 16);
    FilterContext ctx = KernelContext(img, INVALID_HANDLE_VALUE, 0);
    EXPECT_EQ(Lib().filterBegin(&ctx), 0);
    EXPECT_EQ(ctx.ringMemory, nullptr);
    Lib().filterEnd(&ctx);
}

TEST(DscrnRing, MovableBlockLockedOnlyDuringACall)
{
    const RawImage img = RandomImage(50, 12, 3, 2, 17);
    SourceFile src(img.bytes);
    FilterContext ctx = DescreenContext(img, src.handle, 200);
    ASSERT_EQ(Lib().filterBegin(&ctx), 1);
    ASSERT_NE(ctx.ringMemory, nullptr);
    HGLOBAL block = static_cast<HGLOBAL>(ctx.ringMemory);
    EXPECT_EQ(ctx.ringLineBytes, 2u * 2 * 3 + img.lineBytes);
    EXPECT_GE(GlobalSize(block), 5u * ctx.ringLineBytes);
    EXPECT_EQ(GlobalFlags(block) & GMEM_LOCKCOUNT, 0u);
    std::vector<uint8_t> buffer(2 * ctx.dstLineBytes);
    for (int i = 0; i < 3; i++) {
        ctx.dstBuffer = buffer.data();
        ctx.dstBufferSize = static_cast<uint32_t>(buffer.size());
        EXPECT_EQ(Lib().doFilter(&ctx), 2);
        EXPECT_EQ(GlobalFlags(block) & GMEM_LOCKCOUNT, 0u) << "unlocked between calls";
        EXPECT_EQ(ctx.ringOrder[4], ctx.writeSlot);
    }
    Lib().filterEnd(&ctx);
}

// Threads of this process other than the calling one.
int OtherThreads()
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return -1;
    int n = 0;
    THREADENTRY32 t;
    t.dwSize = sizeof t;
    for (BOOL more = Thread32First(snap, &t); more; more = Thread32Next(snap, &t))
        if (t.th32OwnerProcessID == GetCurrentProcessId() && t.th32ThreadID != GetCurrentThreadId())
            n++;
    CloseHandle(snap);
    return n;
}

// The thread count settles once a thread that was told to end has ended.
int OtherThreadsOnceSettled(int expected)
{
    int n = OtherThreads();
    for (int i = 0; i < 200 && n != expected; i++) {
        Sleep(10);
        n = OtherThreads();
    }
    return n;
}

// Runs the test body with the process limited to one processor, then with
// all it had.
struct Processors {
    DWORD_PTR all = 0;
    Processors()
    {
        DWORD_PTR process = 0;
        GetProcessAffinityMask(GetCurrentProcess(), &process, &all);
    }
    bool several() const { return (all & (all - 1)) != 0; }
    void useOne() const { SetProcessAffinityMask(GetCurrentProcess(), all & ~(all - 1)); }
    void useAll() const { SetProcessAffinityMask(GetCurrentProcess(), all); }
};

TEST(DscrnFeed, OneProcessorOrSeveralGiveTheSameRuns)
{
    // Megabytes of source: with two processors a second thread reads the
    // file while the lines are filtered, with one the caller reads it.
    // The output, the reads and the thread left behind are alike.
    const Processors cpus;
    struct Case { uint32_t width, lines, bpp; } cases[] = {{1500, 1400, 1}, {900, 800, 3}, {30000, 40, 3}};
    const int before = OtherThreads();
    for (bool several : {false, true}) {
        several ? cpus.useAll() : cpus.useOne();
        for (const Case& c : cases) {
            const RawImage img = RandomImage(c.width, c.lines, c.bpp, 1, c.width + c.bpp);
            SourceFile src(img.bytes);
            const char* how = several ? "several processors" : "one processor";
            for (uint16_t mode : {uint16_t{2}, uint16_t{DESCREEN_MODE}}) {
                FilterContext ctx = mode == DESCREEN_MODE ? DescreenContext(img, src.handle, 150)
                                                          : KernelContext(img, src.handle, mode);
                ASSERT_EQ(Lib().filterBegin(&ctx), 1);
                std::vector<uint8_t> buffer(9 * ctx.dstLineBytes);
                ctx.dstBuffer = buffer.data();
                ctx.dstBufferSize = static_cast<uint32_t>(buffer.size());
                ASSERT_EQ(Lib().doFilter(&ctx), 9);
                std::vector<std::vector<uint8_t>> lines;
                for (uint32_t i = 0; i < 9; i++) {
                    const uint8_t* p = buffer.data() + i * ctx.dstLineBytes;
                    lines.emplace_back(p, p + ctx.dstWidth * c.bpp);
                }
                // Between calls a reader is there only with a processor to spare.
                EXPECT_EQ(OtherThreads(), before + (several && cpus.several() ? 1 : 0)) << how;
                const Output rest = RunAll(&ctx, 9);
                Lib().filterEnd(&ctx);
                EXPECT_EQ(OtherThreadsOnceSettled(before), before) << how << ": the reader ends with the run";
                EXPECT_EQ(src.position(), img.bytes.size()) << how;
                lines.insert(lines.end(), rest.lines.begin(), rest.lines.end());
                const bool descreen = mode == DESCREEN_MODE;
                ASSERT_EQ(lines, ModelOutput(img, descreen ? nullptr : BuiltinKernels[mode], descreen ? 150 : 0))
                    << how << " width " << c.width << " mode " << mode;
            }
        }
    }
    cpus.useAll();
}

TEST(DscrnFeed, FileUntouchedBetweenCallsAndAfterACancelledRun)
{
    // The reader runs ahead only within a call: between calls the file
    // position holds still, and once a run is ended early the caller may
    // move the file pointer and close and delete the file at once.
    const RawImage img = RandomImage(2000, 1500, 1, 0, 23);
    SourceFile src(img.bytes);
    FilterContext ctx = KernelContext(img, src.handle, 4);
    ASSERT_EQ(Lib().filterBegin(&ctx), 1);
    std::vector<uint8_t> buffer(40 * ctx.dstLineBytes);
    for (int call = 0; call < 6; call++) {
        ctx.dstBuffer = buffer.data();
        ctx.dstBufferSize = static_cast<uint32_t>(buffer.size());
        ASSERT_EQ(Lib().doFilter(&ctx), 40);
        const DWORD pos = src.position();
        EXPECT_GT(pos, (call + 1) * 40u * img.lineBytes) << "the lines of the call and the one below them";
        EXPECT_LT(pos, img.bytes.size());
        Sleep(30);
        EXPECT_EQ(src.position(), pos) << "after call " << call;
    }
    Lib().filterEnd(&ctx);
    SetFilePointer(src.handle, 0, nullptr, FILE_BEGIN);
    Sleep(30);
    EXPECT_EQ(src.position(), 0u);
    CloseHandle(src.handle);
    src.handle = INVALID_HANDLE_VALUE;
    EXPECT_TRUE(DeleteFileA(src.path.c_str()));
}

TEST(DscrnFeed, LargeSourceOneLineShortFailsOnlyWhereTheLineIsNeeded)
{
    // With a reader ahead of the filter, the missing last line still
    // fails only the call whose output needs it.
    const Processors cpus;
    for (bool several : {false, true}) {
        several ? cpus.useAll() : cpus.useOne();
        const RawImage img = RandomImage(1600, 1000, 1, 0, 24);
        std::vector<uint8_t> shortFile(img.bytes.begin(), img.bytes.end() - img.lineBytes / 2);
        SourceFile src(shortFile);
        FilterContext ctx = KernelContext(img, src.handle, 1);
        ASSERT_EQ(Lib().filterBegin(&ctx), 1);
        const Output out = RunAll(&ctx, 100);
        Lib().filterEnd(&ctx);
        // Calls 0 .. 8 need lines up to 900, though the reader has met the
        // file's end by then; call 9 needs line 999 for output 998.
        ASSERT_EQ(out.results.size(), 10u);
        EXPECT_EQ(out.results[8], 100);
        EXPECT_EQ(out.results.back(), -1);
        EXPECT_EQ(ctx.linesLeft, 100u);
        const auto want = ModelOutput(img, BuiltinKernels[1], 0);
        ASSERT_EQ(out.lines.size(), 900u);
        EXPECT_TRUE(std::equal(out.lines.begin(), out.lines.end(), want.begin()))
            << (several ? "several processors" : "one processor");
    }
    cpus.useAll();
}

}  // namespace

namespace {

// The 32-bit build of every level of the line routines (the DLL runs the
// fastest; the others must hold on processors without it).
TEST(DscrnLines32, EveryLevelMatchesTheReference)
{
    uint32_t seed = 5;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (uint32_t bpp : {1u, 3u})
        for (uint32_t width : {1u, 5u, 16u, 17u, 100u, 1001u}) {
            std::vector<uint8_t> lines[5];
            const uint8_t* rows[5];
            for (int r = 0; r < 5; r++) {
                lines[r].resize((width + 4) * bpp);
                for (uint32_t x = 0; x < width * bpp; x++)
                    lines[r][2 * bpp + x] = static_cast<uint8_t>(next() >> 24);
                for (uint32_t i = 0; i < 2 * bpp; i++) {
                    lines[r][i] = lines[r][2 * bpp + i % bpp];
                    lines[r][(width + 2) * bpp + i] = lines[r][(width + 1) * bpp + i % bpp];
                }
                rows[r] = lines[r].data() + 2 * bpp;
            }
            const int8_t custom[9] = {-128, 127, 90, 127, -3, 127, -128, 127, -128};
            for (const int8_t* k : {BuiltinKernels[0], BuiltinKernels[2], BuiltinKernels[3], custom}) {
                std::vector<uint8_t> ref(width * bpp);
                RefConvolve3x3(rows + 1, ref.data(), width, bpp, k, KernelDivisor(k));
                for (int level = 0; level < LINE_LEVELS; level++) {
                    const LineRoutines* f = LineRoutinesFor(level);
                    if (!f)
                        continue;
                    std::vector<uint8_t> fast(width * bpp);
                    f->convolve3x3(rows + 1, fast.data(), width, bpp, k, KernelDivisor(k));
                    ASSERT_EQ(fast, ref) << LineLevelName(level) << " width " << width;
                }
            }
            for (uint32_t res : {300u, 150u, 77u, 1u}) {
                const uint32_t dstWidth = width * res / 300;
                std::vector<uint8_t> ref(dstWidth * bpp), refCopy(dstWidth * bpp);
                RefDescreen13(rows, ref.data(), width, dstWidth, res, bpp);
                RefCopyDecimated(rows[2], refCopy.data(), width, dstWidth, res, bpp);
                for (int level = 0; level < LINE_LEVELS; level++) {
                    const LineRoutines* f = LineRoutinesFor(level);
                    if (!f)
                        continue;
                    std::vector<uint8_t> fast(dstWidth * bpp), copy(dstWidth * bpp);
                    f->descreen13(rows, fast.data(), width, dstWidth, res, bpp);
                    f->copyDecimated(rows[2], copy.data(), width, dstWidth, res, bpp);
                    ASSERT_EQ(fast, ref) << LineLevelName(level) << " res " << res;
                    ASSERT_EQ(copy, refCopy) << LineLevelName(level) << " res " << res;
                }
            }
        }
    EXPECT_NE(LineRoutinesFor(LINE_SSE2), nullptr) << "Wine on x86 has SSE2";
}

}  // namespace
