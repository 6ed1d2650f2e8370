// Post-filtering of a raw scan through dscrn32.dll, the way an outside
// data source runs it: the library loaded by name, the raw image file
// opened for reading, DoFilter a buffer-full at a time, and every output
// line, top line first, handed to a sink (a raw output file or a caller's
// buffer).  Windows only.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "dscrn32.h"

// What the raw file holds: `lines` records of `lineBytes` bytes, top line
// first, each starting with `width` pixels of 1 (gray) or 3 bytes.
struct PostFilterImage {
    uint32_t width;
    uint32_t lineBytes;
    uint32_t lines;
    bool colour;
};

struct PostFilterSettings {
    uint16_t mode;          // 0..5 the 3x3 kernels, DESCREEN_MODE descreen
    bool useCustomKernel;   // kernel modes: customKernel instead of the mode's own
    int8_t customKernel[9];
    uint16_t resolution;    // descreen: 1..300 on a scale on which the scan is 300
    uint32_t flags;         // FLT_ALIGN_DWORD, FLT_BOTTOM_UP (the sink still gets top first)
    uint32_t bufferLines;   // lines per DoFilter call; 0 means 64
};

// Where the output lines go: to `file` when it is set (a handle open for
// writing), otherwise into `buffer`, line after line `lineBytes` apart.
struct PostFilterSink {
    void* file;
    uint8_t* buffer;
    size_t bufferSize;
};

struct PostFilterOutput {
    uint32_t width;      // pixels per output line
    uint32_t lineBytes;  // bytes per output line as written to the sink
    uint32_t lines;      // output lines of the whole run
    uint32_t written;    // lines handed to the sink
};

enum : int {
    PF_OK = 0,
    PF_BAD_SETTINGS = 1,     // mode, resolution, kernel or image sizes unusable
    PF_NO_LIBRARY = 2,       // dscrn32.dll could not be loaded
    PF_NO_EXPORT = 3,        // an export is missing
    PF_NO_SOURCE = 4,        // the raw file could not be opened
    PF_SHORT_SOURCE = 5,     // the raw file holds fewer bytes than the image needs
    PF_BEGIN_REFUSED = 6,    // FilterBegin returned 0
    PF_READ_FAILED = 7,      // DoFilter returned -1
    PF_SINK_FAILED = 8,      // the output file could not be written, or the buffer is full
    PF_INCOMPLETE = 9,       // DoFilter stopped before the last line
};

// The output size a run with these settings gives, without running it.
int PostFilterOutputSize(const PostFilterImage& image, const PostFilterSettings& settings,
                         PostFilterOutput* out, char* message, size_t messageSize);

// Runs the filter over the raw file at rawPath; dllPath may be null for
// "dscrn32.dll" from the usual search path.  Returns PF_OK or a PF_ code,
// with a sentence in `message` either way.
int PostFilterFile(const char* dllPath, const char* rawPath, const PostFilterImage& image,
                   const PostFilterSettings& settings, PostFilterSink* sink,
                   PostFilterOutput* out, char* message, size_t messageSize);

// "PF_OK", "PF_READ_FAILED", ...
const char* PostFilterStatusName(int status);
