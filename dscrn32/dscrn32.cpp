// dscrn32.dll: the four exports, the ring of source lines in movable
// global memory and the line pipeline that decides which source lines
// feed each output line.  The arithmetic on a line is in line_routines.
#include <windows.h>

#include <string.h>

#include "dscrn32.h"
#include "line_routines.h"
#include "source_feed.h"

namespace {

HINSTANCE moduleHandle;
const LineRoutines* lines;  // fastest forms this processor runs, chosen from cpuid on first use

uint32_t BytesPerPixel(const FilterContext* ctx)
{
    return ctx->pixelType == PT_GRAY8 ? 1 : 3;
}

bool IsDescreen(const FilterContext* ctx)
{
    return ctx->filterMode >= DESCREEN_MODE;
}

const LineRoutines* Routines()
{
    if (!lines)
        lines = LineRoutinesFor(BestLineLevel());
    return lines;
}

void AdvanceRing(FilterContext* ctx)
{
    const uint16_t size = ctx->ringSize;
    for (uint16_t i = 0; i < size; i++) {
        const uint16_t next = static_cast<uint16_t>(ctx->ringOrder[i] + 1);
        ctx->ringOrder[i] = next == size ? 0 : next;
    }
    ctx->writeSlot = ctx->ringOrder[size - 1];
}

// Under Wine a ReadFile costs more than filtering the line it brings, and
// copying each line once more into its ring buffer costs nearly as much
// again.  So the source comes a chunk of whole lines at a time into an area
// after the ring buffers, in the same movable block, and the lines are
// filtered where they lie there: each ring slot records where its line is
// in the area.  The lines of the area have no border copies, so the
// routines' results for the first and last `border` pixels are worked out
// again with clamped positions.
struct ReadAhead {
    SourceFeed* feed;
    uint32_t slotLine[5];  // where in the area the line of each ring slot starts
    // The same for every line of a run, so worked out once: the source
    // pixels whose window passes a line's end, and the output pixel each
    // makes (descreen leaves some out).
    uint32_t edgeCount;
    uint32_t edgeX[4];
    uint32_t edgeJ[4];
    uint32_t unused[1];
};
static_assert(sizeof(ReadAhead) == 64, "the area starts one cache line after the header");

uint32_t ReadAheadOffset(const FilterContext* ctx)
{
    return (ctx->ringSize * ctx->ringLineBytes + 63u) & ~63u;
}

ReadAhead* ReadAheadOf(const FilterContext* ctx, uint8_t* base)
{
    return reinterpret_cast<ReadAhead*>(base + ReadAheadOffset(ctx));
}

uint8_t* AreaData(const FilterContext* ctx)
{
    return reinterpret_cast<uint8_t*>(ReadAheadOf(ctx, ctx->ringBase) + 1);
}

// Window position 0 is writeSlot, position p > 0 is ringOrder[p - 1].
const uint8_t* WindowLine(const FilterContext* ctx, uint32_t position)
{
    const uint16_t slot = position == 0 ? ctx->writeSlot : ctx->ringOrder[position - 1];
    return AreaData(ctx) + ReadAheadOf(ctx, ctx->ringBase)->slotLine[slot];
}

bool ReadNextLine(FilterContext* ctx)
{
    ReadAhead* ra = ReadAheadOf(ctx, ctx->ringBase);
    if (!FeedNextLine(ra->feed, &ra->slotLine[ctx->writeSlot]))
        return false;
    AdvanceRing(ctx);
    return true;
}

// One line due into the ring: read if it exists, otherwise only the ring
// order moves, so the window keeps its place past the end of the image.
bool TakeIn(FilterContext* ctx, uint64_t line)
{
    if (line < ctx->srcLines)
        return ReadNextLine(ctx);
    AdvanceRing(ctx);
    return true;
}

bool BringInLinesFor(FilterContext* ctx, uint32_t c)
{
    const uint32_t border = ctx->border;
    if (c < border)
        return TakeIn(ctx, c);
    if (c == border) {
        for (uint64_t line = c; line <= static_cast<uint64_t>(c) + border; line++)
            if (!TakeIn(ctx, line))
                return false;
        return true;
    }
    return TakeIn(ctx, static_cast<uint64_t>(c) + border);
}

// Where source line c lies once it has been brought in.
const uint8_t* SourceLine(const FilterContext* ctx, uint32_t c)
{
    if (c < ctx->border)  // still filling: the latest line read
        return WindowLine(ctx, ctx->ringSize - 1);
    return WindowLine(ctx, ctx->border);
}

bool IsPassThrough(const FilterContext* ctx, uint32_t c)
{
    return c < ctx->border || static_cast<uint64_t>(c) + ctx->border >= ctx->srcLines;
}

void LineDone(FilterContext* ctx)
{
    ctx->dstLine += ctx->dstStep;
    ctx->linesDelivered++;
    ctx->linesThisCall--;
}

void LineConsidered(FilterContext* ctx, uint32_t c)
{
    ctx->lineIndex++;
    if (c < ctx->border && ctx->pendingCopies > 0)
        ctx->pendingCopies--;
}

// Pixel x of a line whose neighbours beyond its ends repeat its end pixels.
uint32_t Clamped(int64_t x, uint32_t width)
{
    return x < 0 ? 0 : x >= width ? width - 1 : static_cast<uint32_t>(x);
}

// Convolve3x3 for one pixel, from lines without border copies.
void ConvolvePixel(const uint8_t* const rows[3], uint8_t* dst, uint32_t width, uint32_t bpp,
                   const int8_t* kernel, uint8_t divisor, uint32_t x)
{
    uint32_t at[3];
    for (uint32_t k = 0; k < 3; k++)
        at[k] = Clamped(static_cast<int64_t>(x) - 1 + k, width) * bpp;
    for (uint32_t ch = 0; ch < bpp; ch++) {
        int32_t full = 0;
        for (uint32_t r = 0; r < 3; r++)
            for (uint32_t k = 0; k < 3; k++)
                full += kernel[3 * r + k] * rows[r][at[k] + ch];
        // Wraps modulo 65536 like the routines' running sum.
        const int16_t sum = static_cast<int16_t>(static_cast<uint16_t>(full));
        const int32_t q = sum <= 0 ? 0 : sum / divisor;
        dst[x * bpp + ch] = static_cast<uint8_t>(q < 255 ? q : 255);
    }
}

// The 13-point sum of Descreen13 for one source pixel, written as output pixel j.
void DescreenPixel(const uint8_t* const rows[5], uint8_t* dst, uint32_t width, uint32_t bpp, uint32_t x,
                   uint32_t j)
{
    uint32_t at[5];
    for (uint32_t k = 0; k < 5; k++)
        at[k] = Clamped(static_cast<int64_t>(x) - 2 + k, width) * bpp;
    for (uint32_t ch = 0; ch < bpp; ch++) {
        const uint32_t sum = rows[0][at[2] + ch] + rows[1][at[1] + ch] + rows[1][at[2] + ch] + rows[1][at[3] + ch] +
                             rows[2][at[0] + ch] + rows[2][at[1] + ch] + rows[2][at[2] + ch] + rows[2][at[3] + ch] +
                             rows[2][at[4] + ch] + rows[3][at[1] + ch] + rows[3][at[2] + ch] + rows[3][at[3] + ch] +
                             rows[4][at[2] + ch];
        dst[j * bpp + ch] = static_cast<uint8_t>(bpp == 1 ? sum >> 4 : sum / 13);
    }
}

// The output pixel that horizontal resampling makes from source pixel x,
// or false if x yields none: with n starting at 300 and growing by
// `resolution` per pixel, pixels 0 .. x - 1 have made 1 + (x - 1) * res / 300.
bool ResampledFrom(uint32_t x, uint32_t resolution, uint32_t dstWidth, uint32_t* j)
{
    const uint64_t res = resolution;
    const uint64_t before = x == 0 ? 0 : 1 + (x - 1) * res / BASE_RESOLUTION;
    const uint64_t after = 1 + x * res / BASE_RESOLUTION;
    if (after == before || before >= dstWidth)
        return false;
    *j = static_cast<uint32_t>(before);
    return true;
}

// Source pixels whose window reaches past the line's ends, the first and
// last `border`, each once even on a line shorter than two borders, with
// the output pixel each makes.
void FindEdgePixels(const FilterContext* ctx, ReadAhead* ra)
{
    const uint32_t width = ctx->srcWidth, border = ctx->border;
    ra->edgeCount = 0;
    auto add = [&](uint32_t x) {
        uint32_t j = x;
        if (IsDescreen(ctx) && !ResampledFrom(x, ctx->resolution, ctx->dstWidth, &j))
            return;
        ra->edgeX[ra->edgeCount] = x;
        ra->edgeJ[ra->edgeCount] = j;
        ra->edgeCount++;
    };
    for (uint32_t x = 0; x < width && x < border; x++)
        add(x);
    for (uint32_t x = width > border ? width - border : 0; x < width; x++)
        if (x >= border)
            add(x);
}

bool KernelPass(FilterContext* ctx)
{
    const LineRoutines* r = Routines();
    const uint32_t bpp = BytesPerPixel(ctx);
    const uint32_t width = ctx->srcWidth;
    while (ctx->linesThisCall > 0 && ctx->lineIndex < ctx->srcLines) {
        const uint32_t c = ctx->lineIndex;
        if (!BringInLinesFor(ctx, c))
            return false;
        if (IsPassThrough(ctx, c)) {
            memcpy(ctx->dstLine, SourceLine(ctx, c), ctx->dstLineBytes);
            // As from a ring buffer: the border copies of the last pixel lie over the padding.
            const uint8_t* last = ctx->dstLine + (width - 1) * bpp;
            for (uint32_t i = 1; i <= ctx->border && (width + i) * bpp <= ctx->dstLineBytes; i++)
                memcpy(ctx->dstLine + (width - 1 + i) * bpp, last, bpp);
        } else {
            const uint8_t* rows[3] = {WindowLine(ctx, 0), WindowLine(ctx, 1), WindowLine(ctx, 2)};
            r->convolve3x3(rows, ctx->dstLine, width, bpp, ctx->kernel, ctx->kernelDivisor);
            const ReadAhead* ra = ReadAheadOf(ctx, ctx->ringBase);
            for (uint32_t e = 0; e < ra->edgeCount; e++)
                ConvolvePixel(rows, ctx->dstLine, width, bpp, ctx->kernel, ctx->kernelDivisor, ra->edgeX[e]);
        }
        LineDone(ctx);
        LineConsidered(ctx, c);
    }
    return true;
}

bool DescreenPass(FilterContext* ctx)
{
    const LineRoutines* r = Routines();
    const uint32_t bpp = BytesPerPixel(ctx);
    const uint32_t width = ctx->srcWidth;
    while (ctx->linesThisCall > 0 && ctx->lineIndex < ctx->srcLines) {
        const uint32_t c = ctx->lineIndex;
        if (!BringInLinesFor(ctx, c))
            return false;
        ctx->rowAccumulator = static_cast<uint16_t>(ctx->rowAccumulator + ctx->resolution);
        if (ctx->rowAccumulator >= BASE_RESOLUTION) {
            if (IsPassThrough(ctx, c)) {
                r->copyDecimated(SourceLine(ctx, c), ctx->dstLine, width, ctx->dstWidth, ctx->resolution, bpp);
            } else {
                const uint8_t* rows[5] = {WindowLine(ctx, 0), WindowLine(ctx, 1), WindowLine(ctx, 2),
                                          WindowLine(ctx, 3), WindowLine(ctx, 4)};
                r->descreen13(rows, ctx->dstLine, width, ctx->dstWidth, ctx->resolution, bpp);
                const ReadAhead* ra = ReadAheadOf(ctx, ctx->ringBase);
                for (uint32_t e = 0; e < ra->edgeCount; e++)
                    DescreenPixel(rows, ctx->dstLine, width, bpp, ra->edgeX[e], ra->edgeJ[e]);
            }
            ctx->rowAccumulator = static_cast<uint16_t>(ctx->rowAccumulator - BASE_RESOLUTION);
            LineDone(ctx);
        }
        LineConsidered(ctx, c);
    }
    return true;
}

// What FilterBegin refuses before it touches anything: sizes the ring or
// the passes could not honour, and arithmetic without a defined result.
bool RunIsSound(const FilterContext* ctx, const int8_t* kernel)
{
    const uint64_t bpp = BytesPerPixel(ctx);
    if (ctx->srcWidth == 0 || ctx->srcLineBytes < ctx->srcWidth * bpp)
        return false;
    if (ctx->srcLineBytes > 0x7FFFFFF0u)
        return false;
    if (!IsDescreen(ctx))
        return KernelDivisor(kernel) != 0;
    const uint64_t res = ctx->resolution;
    if (res == 0 || res > BASE_RESOLUTION)
        return false;
    if (ctx->dstWidth > ctx->srcWidth * res / BASE_RESOLUTION ||
        ctx->dstLines > ctx->srcLines * res / BASE_RESOLUTION)
        return false;
    // Lines of no bytes make sense only in a run of no lines.
    if (ctx->dstLineBytes == 0)
        return ctx->dstLines == 0;
    return ctx->dstLineBytes >= ctx->dstWidth * bpp && ctx->dstLineBytes <= 0x7FFFFFFFu;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        moduleHandle = instance;
    return TRUE;
}

extern "C" void WINAPI GetDescreenSize(FilterContext* ctx)
{
    if (!ctx)
        return;
    const uint64_t res = ctx->resolution;
    ctx->dstWidth = static_cast<uint32_t>(ctx->srcWidth * res / BASE_RESOLUTION);
    ctx->dstLineBytes = ctx->pixelType == PT_GRAY8 ? ctx->dstWidth : 3 * ctx->dstWidth;
    ctx->dstLines = static_cast<uint32_t>(ctx->srcLines * res / BASE_RESOLUTION);
    if (ctx->flags & FLT_ALIGN_DWORD)
        ctx->dstLineBytes = (ctx->dstLineBytes + 3) & ~3u;
}

extern "C" int32_t WINAPI FilterBegin(FilterContext* ctx)
{
    if (!ctx)
        return 0;
    ctx->ringMemory = nullptr;
    const int8_t* kernel = nullptr;
    if (!IsDescreen(ctx))
        kernel = (ctx->flags & FLT_CUSTOM_KERNEL) ? ctx->customKernel : BuiltinKernels[ctx->filterMode];
    if (!RunIsSound(ctx, kernel))
        return 0;
    if (SetFilePointer(static_cast<HANDLE>(ctx->srcFile), 0, nullptr, FILE_BEGIN) ==
        INVALID_SET_FILE_POINTER)
        return 0;

    if (IsDescreen(ctx)) {
        ctx->ringSize = 5;
        ctx->rowAccumulator = BASE_RESOLUTION - 1;
    } else {
        ctx->kernel = kernel;
        ctx->dstWidth = ctx->srcWidth;
        ctx->dstLineBytes = ctx->srcLineBytes;
        ctx->dstLines = ctx->srcLines;
        ctx->kernelDivisor = KernelDivisor(kernel);
        ctx->ringSize = 3;
    }
    ctx->border = static_cast<uint16_t>(ctx->ringSize / 2);
    ctx->pendingCopies = ctx->border;
    ctx->ringLineBytes = 2 * ctx->border * BytesPerPixel(ctx) + ctx->srcLineBytes;
    FeedLayout layout;
    if (!PlanFeed(ctx->srcLineBytes, ctx->srcLines, ctx->ringSize, &layout))
        return 0;
    const uint64_t blockBytes = static_cast<uint64_t>(ReadAheadOffset(ctx)) + sizeof(ReadAhead) + layout.areaBytes;
    if (blockBytes > 0x7FFFFFFFu)
        return 0;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(blockBytes));
    if (!memory)
        return 0;
    uint8_t* base = static_cast<uint8_t*>(GlobalLock(memory));
    SourceFeed* feed = base ? OpenFeed(static_cast<HANDLE>(ctx->srcFile), ctx->srcLineBytes, ctx->srcLines,
                                       ctx->ringSize, layout)
                            : nullptr;
    if (!feed) {
        if (base)
            GlobalUnlock(memory);
        GlobalFree(memory);
        return 0;
    }
    ReadAhead* ra = ReadAheadOf(ctx, base);
    memset(ra, 0, sizeof *ra);
    ra->feed = feed;
    FindEdgePixels(ctx, ra);
    GlobalUnlock(memory);
    ctx->ringMemory = memory;

    ctx->lineIndex = 0;
    ctx->dstStep = (ctx->flags & FLT_BOTTOM_UP) ? -static_cast<int32_t>(ctx->dstLineBytes)
                                                : static_cast<int32_t>(ctx->dstLineBytes);
    ctx->writeSlot = 0;
    for (uint16_t i = 0; i < ctx->ringSize; i++)
        ctx->ringOrder[i] = static_cast<uint16_t>((i + 1) % ctx->ringSize);
    ctx->linesLeft = ctx->dstLines;
    ctx->ringBase = nullptr;
    ctx->dstLine = nullptr;
    ctx->linesThisCall = 0;
    ctx->linesDelivered = 0;
    memset(ctx->ringLines, 0, sizeof ctx->ringLines);
    return 1;
}

extern "C" int32_t WINAPI DoFilter(FilterContext* ctx)
{
    if (!ctx || !ctx->ringMemory || ctx->lineIndex == FLT_BROKEN_RUN)
        return -1;
    if (ctx->linesLeft == 0)
        return 0;
    if (ctx->dstLineBytes == 0)
        return -1;
    uint32_t count = ctx->dstBufferSize / ctx->dstLineBytes;
    if (count > ctx->linesLeft)
        count = ctx->linesLeft;
    ctx->linesThisCall = count;
    ctx->linesDelivered = 0;
    if (count == 0)
        return 0;
    if (!ctx->dstBuffer)
        return -1;
    ctx->dstLine = ctx->dstBuffer;
    if (ctx->flags & FLT_BOTTOM_UP)
        ctx->dstLine += (count - 1) * ctx->dstLineBytes;

    // The block may have moved since the last call.
    uint8_t* base = static_cast<uint8_t*>(GlobalLock(static_cast<HGLOBAL>(ctx->ringMemory)));
    if (!base)
        return -1;
    ctx->ringBase = base;
    for (uint16_t i = 0; i < ctx->ringSize; i++)
        ctx->ringLines[i] = base + i * ctx->ringLineBytes;
    SourceFeed* feed = ReadAheadOf(ctx, base)->feed;
    FeedBeginCall(feed, AreaData(ctx));
    const bool ok = IsDescreen(ctx) ? DescreenPass(ctx) : KernelPass(ctx);
    FeedEndCall(feed);
    GlobalUnlock(static_cast<HGLOBAL>(ctx->ringMemory));

    if (!ok) {
        // Part of a line may have been consumed: the run cannot go on.
        ctx->lineIndex = FLT_BROKEN_RUN;
        return -1;
    }
    ctx->linesLeft -= ctx->linesDelivered;
    return static_cast<int32_t>(ctx->linesDelivered);
}

extern "C" void WINAPI FilterEnd(FilterContext* ctx)
{
    if (!ctx || !ctx->ringMemory)
        return;
    HGLOBAL memory = static_cast<HGLOBAL>(ctx->ringMemory);
    if (uint8_t* base = static_cast<uint8_t*>(GlobalLock(memory))) {
        CloseFeed(ReadAheadOf(ctx, base)->feed);
        GlobalUnlock(memory);
    }
    GlobalFree(memory);
    // Cleared so that a second FilterEnd, or a DoFilter after it, finds no block.
    ctx->ringMemory = nullptr;
}
