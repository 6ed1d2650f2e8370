// dscrn32.dll: the four exports, the ring of source lines in movable
// global memory and the line pipeline that decides which source lines
// feed each output line.  The arithmetic on a line is in line_routines.
#include <windows.h>

#include <string.h>

#include "dscrn32.h"
#include "line_routines.h"

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

// Window position 0 is writeSlot, position p > 0 is ringOrder[p - 1].
uint8_t* WindowLine(const FilterContext* ctx, uint32_t position)
{
    const uint16_t slot = position == 0 ? ctx->writeSlot : ctx->ringOrder[position - 1];
    return ctx->ringLines[slot] + ctx->border * BytesPerPixel(ctx);
}

void AdvanceRing(FilterContext* ctx)
{
    const uint16_t size = ctx->ringSize;
    for (uint16_t i = 0; i < size; i++)
        ctx->ringOrder[i] = static_cast<uint16_t>((ctx->ringOrder[i] + 1) % size);
    ctx->writeSlot = ctx->ringOrder[size - 1];
}

// Under Wine a ReadFile costs more than filtering the line it brings, so
// the source is read a large block at a time into an area after the ring
// buffers, in the same movable block, and the lines are taken from there.
// Reads never go past the image's last line, and a line that the file
// does not hold in full still fails on the call that needs it.
struct ReadAhead {
    uint32_t start;     // first unused byte of data
    uint32_t end;       // bytes of data held
    uint32_t capacity;  // bytes data can hold
    uint32_t unused;
    uint64_t imageLeft;  // bytes of the image not read from the file yet
};

enum : uint32_t { READ_AHEAD_BYTES = 64u << 10 };

uint32_t ReadAheadOffset(const FilterContext* ctx)
{
    return (ctx->ringSize * ctx->ringLineBytes + 7u) & ~7u;
}

ReadAhead* ReadAheadOf(const FilterContext* ctx, uint8_t* base)
{
    return reinterpret_cast<ReadAhead*>(base + ReadAheadOffset(ctx));
}

bool ReadNextLine(FilterContext* ctx)
{
    const uint32_t bpp = BytesPerPixel(ctx);
    const uint32_t lineBytes = ctx->srcLineBytes;
    uint8_t* first = ctx->ringLines[ctx->writeSlot] + ctx->border * bpp;
    ReadAhead* ra = ReadAheadOf(ctx, ctx->ringBase);
    uint8_t* data = reinterpret_cast<uint8_t*>(ra + 1);
    if (ra->end - ra->start < lineBytes) {
        const uint32_t held = ra->end - ra->start;
        memmove(data, data + ra->start, held);
        ra->start = 0;
        ra->end = held;
        while (ra->end < lineBytes) {
            uint64_t want = ra->capacity - ra->end;
            if (want > ra->imageLeft)
                want = ra->imageLeft;
            DWORD got = 0;
            if (want == 0 ||
                !ReadFile(static_cast<HANDLE>(ctx->srcFile), data + ra->end, static_cast<DWORD>(want), &got, nullptr) ||
                got == 0)
                return false;
            ra->end += got;
            ra->imageLeft -= got;
        }
    }
    memcpy(first, data + ra->start, lineBytes);
    ra->start += lineBytes;
    uint8_t* last = first + (ctx->srcWidth - 1) * bpp;
    for (uint32_t i = 1; i <= ctx->border; i++) {
        memcpy(first - i * bpp, first, bpp);
        memcpy(last + i * bpp, last, bpp);
    }
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

bool KernelPass(FilterContext* ctx)
{
    const LineRoutines* r = Routines();
    const uint32_t bpp = BytesPerPixel(ctx);
    while (ctx->linesThisCall > 0 && ctx->lineIndex < ctx->srcLines) {
        const uint32_t c = ctx->lineIndex;
        if (!BringInLinesFor(ctx, c))
            return false;
        if (IsPassThrough(ctx, c)) {
            memcpy(ctx->dstLine, SourceLine(ctx, c), ctx->dstLineBytes);
        } else {
            const uint8_t* rows[3] = {WindowLine(ctx, 0), WindowLine(ctx, 1), WindowLine(ctx, 2)};
            r->convolve3x3(rows, ctx->dstLine, ctx->srcWidth, bpp, ctx->kernel, ctx->kernelDivisor);
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
    while (ctx->linesThisCall > 0 && ctx->lineIndex < ctx->srcLines) {
        const uint32_t c = ctx->lineIndex;
        if (!BringInLinesFor(ctx, c))
            return false;
        ctx->rowAccumulator = static_cast<uint16_t>(ctx->rowAccumulator + ctx->resolution);
        if (ctx->rowAccumulator >= BASE_RESOLUTION) {
            if (IsPassThrough(ctx, c)) {
                r->copyDecimated(SourceLine(ctx, c), ctx->dstLine, ctx->srcWidth, ctx->dstWidth,
                                 ctx->resolution, bpp);
            } else {
                const uint8_t* rows[5] = {WindowLine(ctx, 0), WindowLine(ctx, 1), WindowLine(ctx, 2),
                                          WindowLine(ctx, 3), WindowLine(ctx, 4)};
                r->descreen13(rows, ctx->dstLine, ctx->srcWidth, ctx->dstWidth, ctx->resolution,
                              bpp);
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
    // Whole lines, so that a refill normally starts with nothing left over.
    uint64_t aheadLines = (READ_AHEAD_BYTES + ctx->srcLineBytes - 1) / ctx->srcLineBytes;
    if (aheadLines < 4)
        aheadLines = 4;
    if (aheadLines * ctx->srcLineBytes > 0x10000000u)
        aheadLines = 1;
    const uint32_t capacity = static_cast<uint32_t>(aheadLines * ctx->srcLineBytes);
    const uint64_t blockBytes = static_cast<uint64_t>(ReadAheadOffset(ctx)) + sizeof(ReadAhead) + capacity;
    if (blockBytes > 0x7FFFFFFFu)
        return 0;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(blockBytes));
    if (!memory)
        return 0;
    uint8_t* base = static_cast<uint8_t*>(GlobalLock(memory));
    if (!base) {
        GlobalFree(memory);
        return 0;
    }
    ReadAhead* ra = ReadAheadOf(ctx, base);
    ra->start = ra->end = 0;
    ra->capacity = capacity;
    ra->unused = 0;
    ra->imageLeft = static_cast<uint64_t>(ctx->srcLines) * ctx->srcLineBytes;
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
    const bool ok = IsDescreen(ctx) ? DescreenPass(ctx) : KernelPass(ctx);
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
    GlobalFree(static_cast<HGLOBAL>(ctx->ringMemory));
    // Cleared so that a second FilterEnd, or a DoFilter after it, finds no block.
    ctx->ringMemory = nullptr;
}
