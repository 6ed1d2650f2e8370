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

void AdvanceRing(FilterContext* ctx)
{
    const uint16_t size = ctx->ringSize;
    for (uint16_t i = 0; i < size; i++)
        ctx->ringOrder[i] = static_cast<uint16_t>((ctx->ringOrder[i] + 1) % size);
    ctx->writeSlot = ctx->ringOrder[size - 1];
}

// Under Wine a ReadFile costs more than filtering the line it brings, and
// copying each line once more into its ring buffer costs nearly as much
// again.  So the source is read a large block at a time into an area after
// the ring buffers, in the same movable block, and the lines are filtered
// where they lie there: each ring slot records where its line is in the
// area.  The lines of the area have no border copies, so the routines'
// results for the first and last `border` pixels are worked out again with
// clamped positions.  The window's earlier lines are kept when the area is
// compacted.  Reads never go past the image's last line, and a line that
// the file does not hold in full still fails on the call that needs it.
struct ReadAhead {
    uint32_t start;      // first unused byte of data
    uint32_t end;        // bytes of data held
    uint32_t capacity;   // bytes data can hold
    uint32_t readBytes;  // bytes asked for by one ReadFile, whole lines
    uint64_t imageLeft;  // bytes of the image not read from the file yet
    uint32_t slotLine[5];  // where in data the line of each ring slot starts
    uint32_t unused[5];
};
static_assert(sizeof(ReadAhead) == 64, "data starts one cache line after the header");

enum : uint32_t {
    READ_AHEAD_BYTES = 64u << 10,
    READS_PER_AREA = 2,  // small enough to stay in cache; each compaction moves the window's lines
    AREA_SLACK = 64,     // after the data: the routines read `border` pixels past a line
};

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
    const uint32_t lineBytes = ctx->srcLineBytes;
    ReadAhead* ra = ReadAheadOf(ctx, ctx->ringBase);
    uint8_t* data = AreaData(ctx);
    if (ra->end - ra->start < lineBytes) {
        if (ra->capacity - ra->end < ra->readBytes) {
            // Keep the lines the window still needs; start is a whole number of lines in.
            uint32_t keep = static_cast<uint32_t>(ctx->ringSize - 1) * lineBytes;
            if (keep > ra->start)
                keep = ra->start;
            const uint32_t from = ra->start - keep;
            memmove(data, data + from, ra->end - from);
            for (uint16_t i = 0; i < ctx->ringSize; i++)
                ra->slotLine[i] = ra->slotLine[i] >= from ? ra->slotLine[i] - from : 0;
            ra->start -= from;
            ra->end -= from;
        }
        while (ra->end - ra->start < lineBytes) {
            uint64_t want = ra->capacity - ra->end;
            if (want > ra->readBytes)
                want = ra->readBytes;
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
    ra->slotLine[ctx->writeSlot] = ra->start;
    ra->start += lineBytes;
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
    for (uint32_t ch = 0; ch < bpp; ch++) {
        int16_t sum = 0;  // wraps modulo 65536 like the routines
        for (uint32_t r = 0; r < 3; r++)
            for (uint32_t k = 0; k < 3; k++) {
                const uint32_t px = Clamped(static_cast<int64_t>(x) - 1 + k, width);
                sum = static_cast<int16_t>(sum + static_cast<int16_t>(kernel[3 * r + k] * rows[r][px * bpp + ch]));
            }
        const int32_t q = sum <= 0 ? 0 : sum / divisor;
        dst[x * bpp + ch] = static_cast<uint8_t>(q < 255 ? q : 255);
    }
}

// The 13-point sum of Descreen13 for one source pixel, written as output pixel j.
void DescreenPixel(const uint8_t* const rows[5], uint8_t* dst, uint32_t width, uint32_t bpp, uint32_t x,
                   uint32_t j)
{
    static const int8_t reach[5] = {0, 1, 2, 1, 0};
    for (uint32_t ch = 0; ch < bpp; ch++) {
        uint32_t sum = 0;
        for (uint32_t r = 0; r < 5; r++)
            for (int32_t k = -reach[r]; k <= reach[r]; k++)
                sum += rows[r][Clamped(static_cast<int64_t>(x) + k, width) * bpp + ch];
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

// Source pixels whose window reaches past the line's ends: the first and
// last `border`, each once even on a line shorter than two borders.
template <class F>
void ForEdgePixels(uint32_t width, uint32_t border, F&& fn)
{
    for (uint32_t x = 0; x < width && x < border; x++)
        fn(x);
    for (uint32_t x = width > border ? width - border : 0; x < width; x++)
        if (x >= border)
            fn(x);
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
            ForEdgePixels(width, ctx->border, [&](uint32_t x) {
                ConvolvePixel(rows, ctx->dstLine, width, bpp, ctx->kernel, ctx->kernelDivisor, x);
            });
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
                ForEdgePixels(width, ctx->border, [&](uint32_t x) {
                    uint32_t j = 0;
                    if (ResampledFrom(x, ctx->resolution, ctx->dstWidth, &j))
                        DescreenPixel(rows, ctx->dstLine, width, bpp, x, j);
                });
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
    // Reads of whole lines, so that a refill normally starts with nothing left over.
    uint64_t readLines = (READ_AHEAD_BYTES + ctx->srcLineBytes - 1) / ctx->srcLineBytes;
    if (readLines * ctx->srcLineBytes > 0x4000000u)
        readLines = 1;
    const uint64_t readBytes = readLines * ctx->srcLineBytes;
    // Room for the window's lines, a partial line and the reads.
    const uint64_t reads = ctx->srcLineBytes > (16u << 20) ? 1u : static_cast<uint32_t>(READS_PER_AREA);
    const uint64_t capacity = static_cast<uint64_t>(ctx->ringSize + 1) * ctx->srcLineBytes + reads * readBytes;
    const uint64_t blockBytes = static_cast<uint64_t>(ReadAheadOffset(ctx)) + sizeof(ReadAhead) + capacity + AREA_SLACK;
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
    memset(ra, 0, sizeof *ra);
    ra->capacity = static_cast<uint32_t>(capacity);
    ra->readBytes = static_cast<uint32_t>(readBytes);
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
