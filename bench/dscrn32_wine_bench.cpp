// End-to-end benchmark of dscrn32.dll under Wine: DoFilter a buffer-full
// at a time over an A4 page at 600 dpi read from a raw file in the page
// cache, beside the same (32-bit) line routines run over the page in
// memory in the same process.  Prints MB/s of source and the ratio.
// bench/run-dscrn32-bench also sets it beside the host build's figures.
//
//   dscrn32_wine_bench.exe [--reps N] [--lines N] [--buffer-lines N]
#include <windows.h>

#include <stdlib.h>

#include "dscrn32.h"
#include "dscrn32_bench_image.h"

namespace {

template <class T>
T Proc(HMODULE module, const char* name)
{
    return reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

struct Exports {
    GetDescreenSizeProc getDescreenSize;
    FilterBeginProc filterBegin;
    DoFilterProc doFilter;
    FilterEndProc filterEnd;
};

bool WriteRaw(const char* path, const BenchPage& p)
{
    HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    const DWORD lineBytes = p.width * p.bpp;
    for (uint32_t y = 0; y < p.lines && ok; y++) {
        DWORD done = 0;
        ok = WriteFile(f, p.pixel0(y), lineBytes, &done, nullptr) && done == lineBytes;
    }
    CloseHandle(f);
    return ok;
}

// One whole run through the exports; false if any call failed.
bool FilterFile(const Exports& e, HANDLE file, const BenchPage& p, uint16_t mode, uint16_t res,
                uint32_t bufferLines, std::vector<uint8_t>& buffer)
{
    FilterContext ctx;
    memset(&ctx, 0, sizeof ctx);
    ctx.srcWidth = p.width;
    ctx.srcLineBytes = p.width * p.bpp;
    ctx.srcLines = p.lines;
    ctx.srcFile = file;
    ctx.pixelType = p.bpp == 1 ? PT_GRAY8 : 0;
    ctx.filterMode = mode;
    ctx.resolution = res;
    if (mode >= DESCREEN_MODE)
        e.getDescreenSize(&ctx);
    if (!e.filterBegin(&ctx))
        return false;
    buffer.resize(static_cast<size_t>(bufferLines) * ctx.dstLineBytes);
    uint32_t total = 0;
    for (;;) {
        ctx.dstBuffer = buffer.data();
        ctx.dstBufferSize = static_cast<uint32_t>(buffer.size());
        const int32_t got = e.doFilter(&ctx);
        if (got <= 0) {
            e.filterEnd(&ctx);
            return got == 0 && total == ctx.dstLines;
        }
        total += static_cast<uint32_t>(got);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    int reps = 5;
    uint32_t lines = PAGE_LINES, bufferLines = 64;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--reps"))
            reps = std::max(1, atoi(argv[i + 1]));
        else if (!strcmp(argv[i], "--lines"))
            lines = static_cast<uint32_t>(std::max(5, atoi(argv[i + 1])));
        else if (!strcmp(argv[i], "--buffer-lines"))
            bufferLines = static_cast<uint32_t>(std::max(1, atoi(argv[i + 1])));
    }
    HMODULE dll = LoadLibraryA("dscrn32.dll");
    if (!dll) {
        fprintf(stderr, "dscrn32_wine_bench: cannot load dscrn32.dll (error %lu)\n", GetLastError());
        return 2;
    }
    const Exports e = {Proc<GetDescreenSizeProc>(dll, "GetDescreenSize"), Proc<FilterBeginProc>(dll, "FilterBegin"),
                       Proc<DoFilterProc>(dll, "DoFilter"), Proc<FilterEndProc>(dll, "FilterEnd")};
    if (!e.getDescreenSize || !e.filterBegin || !e.doFilter || !e.filterEnd) {
        fprintf(stderr, "dscrn32_wine_bench: dscrn32.dll lacks an export\n");
        return 2;
    }
    const LineRoutines* r = LineRoutinesFor(BestLineLevel());
    char dir[MAX_PATH], path[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    snprintf(path, sizeof path, "%sdscrn32_bench_%lu.raw", dir, GetCurrentProcessId());

    printf("dscrn32.dll end to end (%s), page %u x %u, %u-line buffers, median of %d runs\n",
           LineLevelName(BestLineLevel()), PAGE_WIDTH, lines, bufferLines, reps);
    printf("%-8s %-14s %12s %12s %8s\n", "pixels", "routine", "DoFilter", "in memory", "ratio");
    int status = 0;
    for (uint32_t bpp : {1u, 3u}) {
        const BenchPage page = MakeBenchPage(PAGE_WIDTH, lines, bpp);
        const size_t bytes = page.sourceBytes();
        const size_t lineBytes = static_cast<size_t>(page.width) * bpp;
        if (!WriteRaw(path, page)) {
            fprintf(stderr, "dscrn32_wine_bench: cannot write %s\n", path);
            return 2;
        }
        HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        std::vector<uint8_t> out(bytes), buffer;
        const char* kind = bpp == 1 ? "gray" : "colour";
        struct Row { const char* name; uint16_t mode, res; } rows[] = {
            {"kernel 0", 0, 0}, {"kernel 1", 1, 0}, {"kernel 2", 2, 0}, {"kernel 3", 3, 0},
            {"kernel 4", 4, 0}, {"kernel 5", 5, 0}, {"descreen 300", DESCREEN_MODE, 300},
            {"descreen 150", DESCREEN_MODE, 150},
        };
        bool ok = FilterFile(e, file, page, 0, 0, bufferLines, buffer);  // brings the file into the cache
        // The floor under DoFilter: one ReadFile per line and nothing else.
        std::vector<uint8_t> line(lineBytes);
        const double tRead = MedianSeconds(reps, [&] {
            SetFilePointer(file, 0, nullptr, FILE_BEGIN);
            for (uint32_t y = 0; y < page.lines; y++) {
                DWORD got = 0;
                ok = ok && ReadFile(file, line.data(), static_cast<DWORD>(lineBytes), &got, nullptr) &&
                     got == lineBytes;
            }
        });
        printf("%-8s %-14s %12.0f\n", kind, "ReadFile only", MegabytesPerSecond(bytes, tRead));
        for (const Row& row : rows) {
            double tFile = 0, tMem = 0;
            MedianSecondsPair(
                reps, [&] { ok = ok && FilterFile(e, file, page, row.mode, row.res, bufferLines, buffer); },
                [&] {
                    if (row.mode < DESCREEN_MODE)
                        KernelPage(r, page, BuiltinKernels[row.mode], out.data(), lineBytes);
                    else
                        DescreenPage(r, page, row.res, out.data(), lineBytes);
                },
                &tFile, &tMem);
            printf("%-8s %-14s %12.0f %12.0f %8.2f\n", kind, row.name, MegabytesPerSecond(bytes, tFile),
                   MegabytesPerSecond(bytes, tMem), tMem / tFile);
            printf("ROW %s %s %.0f\n", kind, row.name, MegabytesPerSecond(bytes, tFile));
        }
        CloseHandle(file);
        DeleteFileA(path);
        if (!ok) {
            fprintf(stderr, "dscrn32_wine_bench: a %s run through the DLL failed\n", kind);
            status = 1;
        }
    }
    return status;
}
