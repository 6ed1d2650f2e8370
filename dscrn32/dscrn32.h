// The filter library's interface as a data source sees it: the context
// record shared with the caller, its flag and mode codes, and the four
// exports.  Platform-free, so the host build can use the constants; the
// record's pinned layout is the 32-bit one.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define DSCRN_API __stdcall
#else
#define DSCRN_API
#endif

// FilterContext.flags
enum : uint32_t {
    FLT_BOTTOM_UP = 1,      // each call fills its buffer from the last line slot upward
    FLT_ALIGN_DWORD = 2,    // descreen output lines padded to a multiple of 4 bytes
    FLT_CUSTOM_KERNEL = 4,  // kernel modes use customKernel
};

// FilterContext.pixelType: PT_GRAY8 is one byte per pixel, anything else three.
enum : uint16_t {
    PT_GRAY8 = 2,
};

// FilterContext.filterMode: 0..5 are the 3x3 kernels, DESCREEN_MODE and up descreen.
enum : uint16_t {
    FILTER_KERNEL_MODES = 6,
    DESCREEN_MODE = 6,
};

// The source resolution on the scale of FilterContext.resolution.
enum : uint16_t {
    BASE_RESOLUTION = 300,
};

// lineIndex after a DoFilter that returned -1: the run is broken and every
// further DoFilter returns -1 without reading.
enum : uint32_t {
    FLT_BROKEN_RUN = 0xFFFFFFFFu,
};

struct FilterContext {
    uint32_t srcWidth;        // pixels per source line
    uint32_t srcLineBytes;    // bytes per source line in the file
    uint32_t srcLines;        // number of source lines
    uint32_t dstWidth;        // pixels per output line
    uint32_t dstLineBytes;    // distance between output lines in the caller's buffer
    uint32_t dstLines;        // output lines of the whole run
    uint32_t flags;           // FLT_*
    uint32_t dstBufferSize;   // bytes at dstBuffer, set before each DoFilter
    uint8_t* dstBuffer;       // output buffer of this call
    void* srcFile;            // source file handle, open for reading
    uint16_t pixelType;       // PT_GRAY8 or colour
    uint16_t filterMode;      // 0..5 kernels, DESCREEN_MODE and up descreen
    uint16_t resolution;      // descreen output resolution, 1..BASE_RESOLUTION
    int8_t customKernel[9];   // caller's kernel, row by row
    uint8_t kernelDivisor;    // low 8 bits of the active kernel's weight sum
    uint32_t ringLineBytes;   // bytes per ring buffer
    uint32_t reserved;
    uint8_t* ringBase;        // locked ring memory during a call
    uint32_t linesLeft;       // output lines still to deliver in the run
    uint8_t* dstLine;         // where the next output line goes
    uint32_t lineIndex;       // next source line to consider
    uint32_t linesThisCall;   // output lines still to produce in this call
    int32_t dstStep;          // +dstLineBytes, or negative when bottom-up
    void* ringMemory;         // movable global memory block of the ring
    const int8_t* kernel;     // active 3x3 kernel
    uint8_t* ringLines[5];    // start of each ring buffer during a call
    uint32_t linesDelivered;  // output lines produced in this call
    uint16_t writeSlot;       // ring buffer receiving the next source line
    uint16_t ringOrder[5];    // ring buffers in cyclic order, ending with writeSlot
    uint16_t ringSize;        // 3 for kernels, 5 for descreen
    uint16_t border;          // ringSize / 2
    uint16_t pendingCopies;   // leading lines still to pass through
    uint16_t rowAccumulator;  // vertical resampling accumulator
};

#if UINTPTR_MAX == 0xFFFFFFFFu
// The data source shares this record: its 32-bit layout is fixed.
static_assert(sizeof(FilterContext) == 140);
static_assert(offsetof(FilterContext, srcWidth) == 0);
static_assert(offsetof(FilterContext, srcLineBytes) == 4);
static_assert(offsetof(FilterContext, srcLines) == 8);
static_assert(offsetof(FilterContext, dstWidth) == 12);
static_assert(offsetof(FilterContext, dstLineBytes) == 16);
static_assert(offsetof(FilterContext, dstLines) == 20);
static_assert(offsetof(FilterContext, flags) == 24);
static_assert(offsetof(FilterContext, dstBufferSize) == 28);
static_assert(offsetof(FilterContext, dstBuffer) == 32);
static_assert(offsetof(FilterContext, srcFile) == 36);
static_assert(offsetof(FilterContext, pixelType) == 40);
static_assert(offsetof(FilterContext, filterMode) == 42);
static_assert(offsetof(FilterContext, resolution) == 44);
static_assert(offsetof(FilterContext, customKernel) == 46);
static_assert(offsetof(FilterContext, kernelDivisor) == 55);
static_assert(offsetof(FilterContext, ringLineBytes) == 56);
static_assert(offsetof(FilterContext, reserved) == 60);
static_assert(offsetof(FilterContext, ringBase) == 64);
static_assert(offsetof(FilterContext, linesLeft) == 68);
static_assert(offsetof(FilterContext, dstLine) == 72);
static_assert(offsetof(FilterContext, lineIndex) == 76);
static_assert(offsetof(FilterContext, linesThisCall) == 80);
static_assert(offsetof(FilterContext, dstStep) == 84);
static_assert(offsetof(FilterContext, ringMemory) == 88);
static_assert(offsetof(FilterContext, kernel) == 92);
static_assert(offsetof(FilterContext, ringLines) == 96);
static_assert(offsetof(FilterContext, linesDelivered) == 116);
static_assert(offsetof(FilterContext, writeSlot) == 120);
static_assert(offsetof(FilterContext, ringOrder) == 122);
static_assert(offsetof(FilterContext, ringSize) == 132);
static_assert(offsetof(FilterContext, border) == 134);
static_assert(offsetof(FilterContext, pendingCopies) == 136);
static_assert(offsetof(FilterContext, rowAccumulator) == 138);
#endif

// The exports, for a data source that links or looks them up by name.
typedef void(DSCRN_API* GetDescreenSizeProc)(FilterContext*);
typedef int32_t(DSCRN_API* FilterBeginProc)(FilterContext*);
typedef int32_t(DSCRN_API* DoFilterProc)(FilterContext*);
typedef void(DSCRN_API* FilterEndProc)(FilterContext*);

#if defined(_WIN32)
extern "C" {
void DSCRN_API GetDescreenSize(FilterContext* ctx);
int32_t DSCRN_API FilterBegin(FilterContext* ctx);
int32_t DSCRN_API DoFilter(FilterContext* ctx);
void DSCRN_API FilterEnd(FilterContext* ctx);
}
#endif
