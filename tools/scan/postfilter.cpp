#include "postfilter.h"

#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <vector>

namespace {

struct FilterExports {
    GetDescreenSizeProc getDescreenSize;
    FilterBeginProc filterBegin;
    DoFilterProc doFilter;
    FilterEndProc filterEnd;
};

int Report(char* message, size_t size, int status, const char* format, ...)
{
    if (message && size > 0) {
        va_list args;
        va_start(args, format);
        vsnprintf(message, size, format, args);
        va_end(args);
    }
    return status;
}

template <class T>
T Proc(HMODULE module, const char* name)
{
    return reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

uint32_t Bpp(const PostFilterImage& image)
{
    return image.colour ? 3 : 1;
}

// The checks a data source makes before it hands the run to the library.
int CheckSettings(const PostFilterImage& image, const PostFilterSettings& s, char* message, size_t size)
{
    if (image.width == 0 || image.lines == 0)
        return Report(message, size, PF_BAD_SETTINGS, "the image has no pixels (%u x %u)", image.width, image.lines);
    if (static_cast<uint64_t>(image.width) * Bpp(image) > image.lineBytes)
        return Report(message, size, PF_BAD_SETTINGS,
                      "a line of %u %s pixels needs %llu bytes, more than the %u bytes per line given",
                      image.width, image.colour ? "colour" : "gray",
                      static_cast<unsigned long long>(image.width) * Bpp(image), image.lineBytes);
    if (s.mode > DESCREEN_MODE)
        return Report(message, size, PF_BAD_SETTINGS, "filter mode %u is not one of 0 to 6", s.mode);
    if (s.mode == DESCREEN_MODE) {
        if (s.resolution == 0 || s.resolution > BASE_RESOLUTION)
            return Report(message, size, PF_BAD_SETTINGS,
                          "descreen resolution %u is outside 1 to 300 (the scan's own is 300)", s.resolution);
        return PF_OK;
    }
    if (s.useCustomKernel) {
        int sum = 0;
        for (int8_t w : s.customKernel)
            sum += w;
        if ((sum & 0xFF) == 0)
            return Report(message, size, PF_BAD_SETTINGS,
                          "the custom kernel's weights sum to %d, a multiple of 256, which leaves no divisor", sum);
    }
    return PF_OK;
}

void FillContext(FilterContext* ctx, const PostFilterImage& image, const PostFilterSettings& s, HANDLE file)
{
    memset(ctx, 0, sizeof *ctx);
    ctx->srcWidth = image.width;
    ctx->srcLineBytes = image.lineBytes;
    ctx->srcLines = image.lines;
    ctx->flags = s.flags & (FLT_BOTTOM_UP | FLT_ALIGN_DWORD);
    ctx->srcFile = file;
    ctx->pixelType = image.colour ? 0 : PT_GRAY8;
    ctx->filterMode = s.mode;
    ctx->resolution = s.resolution;
    if (s.mode < DESCREEN_MODE && s.useCustomKernel) {
        memcpy(ctx->customKernel, s.customKernel, sizeof ctx->customKernel);
        ctx->flags |= FLT_CUSTOM_KERNEL;
    }
}

// The output size as the library gives it: GetDescreenSize's for descreen,
// the source's own in kernel modes.
void OutputGeometry(const PostFilterImage& image, const PostFilterSettings& s, PostFilterOutput* out)
{
    if (s.mode == DESCREEN_MODE) {
        const uint64_t w = static_cast<uint64_t>(image.width) * s.resolution / BASE_RESOLUTION;
        uint64_t bytes = w * Bpp(image);
        if (s.flags & FLT_ALIGN_DWORD)
            bytes = (bytes + 3) & ~3ull;
        out->width = static_cast<uint32_t>(w);
        out->lineBytes = static_cast<uint32_t>(bytes);
        out->lines = static_cast<uint32_t>(static_cast<uint64_t>(image.lines) * s.resolution / BASE_RESOLUTION);
    } else {
        out->width = image.width;
        out->lineBytes = image.lineBytes;
        out->lines = image.lines;
    }
    out->written = 0;
}

bool SinkLine(PostFilterSink* sink, const uint8_t* line, uint32_t lineBytes, uint32_t index)
{
    if (sink->file) {
        DWORD done = 0;
        return WriteFile(static_cast<HANDLE>(sink->file), line, lineBytes, &done, nullptr) && done == lineBytes;
    }
    const uint64_t at = static_cast<uint64_t>(index) * lineBytes;
    if (!sink->buffer || at + lineBytes > sink->bufferSize)
        return false;
    memcpy(sink->buffer + at, line, lineBytes);
    return true;
}

int RunLibrary(const FilterExports& e, HANDLE file, const PostFilterImage& image, const PostFilterSettings& s,
               PostFilterSink* sink, PostFilterOutput* out, char* message, size_t size)
{
    FilterContext ctx;
    FillContext(&ctx, image, s, file);
    if (s.mode == DESCREEN_MODE)
        e.getDescreenSize(&ctx);
    if (!e.filterBegin(&ctx)) {
        e.filterEnd(&ctx);
        return Report(message, size, PF_BEGIN_REFUSED, "dscrn32 refused the run (FilterBegin returned 0)");
    }
    out->width = ctx.dstWidth;
    out->lineBytes = ctx.dstLineBytes;
    out->lines = ctx.dstLines;
    const uint32_t bufferLines = s.bufferLines ? s.bufferLines : 64;
    std::vector<uint8_t> buffer(static_cast<size_t>(bufferLines) * ctx.dstLineBytes);
    int status = PF_OK;
    while (out->written < ctx.dstLines && status == PF_OK) {
        ctx.dstBuffer = buffer.data();
        ctx.dstBufferSize = static_cast<uint32_t>(buffer.size());
        const int32_t got = e.doFilter(&ctx);
        if (got < 0) {
            status = Report(message, size, PF_READ_FAILED,
                            "a source line could not be read after %u of %u output lines (DoFilter returned -1)",
                            out->written, ctx.dstLines);
            break;
        }
        if (got == 0) {
            status = Report(message, size, PF_INCOMPLETE, "DoFilter stopped after %u of %u output lines",
                            out->written, ctx.dstLines);
            break;
        }
        for (int32_t i = 0; i < got; i++) {
            // With FLT_BOTTOM_UP each buffer holds its lines last first.
            const int32_t slot = (ctx.flags & FLT_BOTTOM_UP) ? got - 1 - i : i;
            if (!SinkLine(sink, buffer.data() + static_cast<size_t>(slot) * ctx.dstLineBytes, ctx.dstLineBytes,
                          out->written)) {
                status = sink->file ? Report(message, size, PF_SINK_FAILED, "output line %u could not be written (error %lu)",
                                             out->written, GetLastError())
                                    : Report(message, size, PF_SINK_FAILED,
                                             "the output buffer of %lu bytes has no room for line %u",
                                             static_cast<unsigned long>(sink->bufferSize), out->written);
                break;
            }
            out->written++;
        }
    }
    e.filterEnd(&ctx);
    if (status == PF_OK)
        Report(message, size, PF_OK, "%u lines of %u pixels filtered", out->written, out->width);
    return status;
}

}  // namespace

int PostFilterOutputSize(const PostFilterImage& image, const PostFilterSettings& settings,
                         PostFilterOutput* out, char* message, size_t messageSize)
{
    const int status = CheckSettings(image, settings, message, messageSize);
    if (status != PF_OK)
        return status;
    OutputGeometry(image, settings, out);
    return Report(message, messageSize, PF_OK, "%u x %u pixels out", out->width, out->lines);
}

int PostFilterFile(const char* dllPath, const char* rawPath, const PostFilterImage& image,
                   const PostFilterSettings& settings, PostFilterSink* sink,
                   PostFilterOutput* out, char* message, size_t messageSize)
{
    PostFilterOutput ignored;
    if (!out)
        out = &ignored;
    memset(out, 0, sizeof *out);
    int status = CheckSettings(image, settings, message, messageSize);
    if (status != PF_OK)
        return status;
    if (!sink || (!sink->file && !sink->buffer))
        return Report(message, messageSize, PF_BAD_SETTINGS, "no output file or buffer was given");

    const char* dll = dllPath ? dllPath : "dscrn32.dll";
    HMODULE module = LoadLibraryA(dll);
    if (!module)
        return Report(message, messageSize, PF_NO_LIBRARY, "%s could not be loaded (error %lu)", dll, GetLastError());
    const FilterExports e = {Proc<GetDescreenSizeProc>(module, "GetDescreenSize"),
                             Proc<FilterBeginProc>(module, "FilterBegin"), Proc<DoFilterProc>(module, "DoFilter"),
                             Proc<FilterEndProc>(module, "FilterEnd")};
    const char* missing = !e.getDescreenSize ? "GetDescreenSize"
                          : !e.filterBegin   ? "FilterBegin"
                          : !e.doFilter      ? "DoFilter"
                          : !e.filterEnd     ? "FilterEnd"
                                             : nullptr;
    if (missing) {
        FreeLibrary(module);
        return Report(message, messageSize, PF_NO_EXPORT, "%s has no export %s", dll, missing);
    }

    HANDLE file = CreateFileA(rawPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        status = Report(message, messageSize, PF_NO_SOURCE, "the raw image %s could not be opened (error %lu)",
                        rawPath, GetLastError());
        FreeLibrary(module);
        return status;
    }
    LARGE_INTEGER fileSize;
    const uint64_t need = static_cast<uint64_t>(image.lineBytes) * image.lines;
    if (GetFileSizeEx(file, &fileSize) && static_cast<uint64_t>(fileSize.QuadPart) < need) {
        status = Report(message, messageSize, PF_SHORT_SOURCE,
                        "the raw image %s holds %lld bytes, fewer than the %llu of %u lines of %u bytes", rawPath,
                        static_cast<long long>(fileSize.QuadPart), static_cast<unsigned long long>(need), image.lines,
                        image.lineBytes);
    } else {
        status = RunLibrary(e, file, image, settings, sink, out, message, messageSize);
    }
    CloseHandle(file);
    FreeLibrary(module);
    return status;
}

const char* PostFilterStatusName(int status)
{
    static const char* const names[] = {
        "PF_OK",        "PF_BAD_SETTINGS", "PF_NO_LIBRARY",  "PF_NO_EXPORT",   "PF_NO_SOURCE",
        "PF_SHORT_SOURCE", "PF_BEGIN_REFUSED", "PF_READ_FAILED", "PF_SINK_FAILED", "PF_INCOMPLETE",
    };
    if (status < 0 || status >= static_cast<int>(sizeof names / sizeof names[0]))
        return "PF_UNKNOWN";
    return names[status];
}
