// End-to-end benchmark of scanning through devcmd.dll under Wine, from
// SC_START_SCAN to SC_STOP_SCAN, with the virtual scanner: colour scans
// read into one buffer of 2 MiB and dropped.
//
//   - the whole bed at the native 300 dpi of lens 0 (direct), and stretched
//     by the library to 600 dpi;
//   - the same output size both ways: lens 1's bed (2550 x 3510 in 1/600
//     inch) direct at lens 1's native 600 dpi, and stretched to 600 dpi
//     from lens 0's native 300. Target: stretched at most 2x direct;
//   - the peak memory of the scanning process for a small (1 x 1 inch)
//     and a whole-bed stretched scan: the library holds two native lines
//     whatever the size, the rest waits in the spool file.
//
// Each scan runs in a process of its own, so that its peak memory is its
// own.  Not a test: run it by hand (bench/run-rescale-bench).
//
//   rescale_wine_bench.exe [--reps N]
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "scanner_commander.h"
#include "suite_config.h"

namespace {

struct ScanCase {
    const char *name;
    uint16_t lens, resolution;
    uint16_t width, height;
};

const ScanCase kCases[] = {
    {"bed-direct-300", 0, 300, 5100, 7020},
    {"bed-stretched-600", 0, 600, 5100, 7020},
    {"lens1-direct-600", 1, 600, 2550, 3510},
    {"lens0-stretched-600", 0, 600, 2550, 3510},
    {"small-stretched-600", 0, 600, 600, 600},
};

struct Outcome {
    double seconds;
    double outputBytes;
    double peakWorkingSet;
    double peakPagefile;
};

double Now() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)f.QuadPart;
}

// One scan in this process; prints "RESULT seconds bytes peakWS peakPF".
int ScanOnce(const ScanCase &c) {
    char path[CFG_LIBRARY_PATH_CHARS];
    ReadCommandLibraryPath(path, sizeof path);
    HMODULE module = LoadLibraryA(path);
    if (!module) {
        fprintf(stderr, "cannot load %s\n", path);
        return 2;
    }
    auto entry = reinterpret_cast<ScannerCommanderProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "ScannerCommander")));
    CommandBlock b;
    auto send = [&](uint16_t command, void *buffer) {
        b.command = command;
        b.buffer = buffer;
        entry(&b);
        return b.status;
    };
    memset(&b, 0, sizeof b);
    send(SC_OPEN, nullptr);
    if (send(SC_ACQUIRE, nullptr) != SCS_OK) {
        fprintf(stderr, "acquire: %d\n", b.status);
        return 2;
    }
    ScanParams p;
    memset(&p, 0, sizeof p);
    p.flags = SPF_DEFAULT_TONE;
    p.width = c.width;
    p.height = c.height;
    p.xResolution = p.yResolution = c.resolution;
    p.colorMode = SCM_COLOR;
    p.lens = c.lens;
    ScanLayout layout;
    memset(&layout, 0, sizeof layout);
    memcpy(&layout.flags, &p.flags, SCAN_SETTINGS_BYTES);
    if (send(SC_GET_SCAN_LAYOUT, &layout) != SCS_OK || send(SC_SET_SCAN_PARAMS, &p) != SCS_OK) {
        fprintf(stderr, "parameters: %d\n", b.status);
        return 2;
    }
    // The same 2 MiB of whole lines for every scan: what grows with the
    // scan is then the library's.
    if (layout.bytesPerLine == 0 || layout.bytesPerLine > (2u << 20)) return 2;
    std::vector<uint8_t> buffer((size_t)((2u << 20) / layout.bytesPerLine) * layout.bytesPerLine);
    double t0 = Now();
    if (send(SC_START_SCAN, nullptr) != SCS_OK) {
        fprintf(stderr, "start: %d\n", b.status);
        return 2;
    }
    double lines = 0;
    for (;;) {
        b.bufferSize = (uint32_t)buffer.size();
        int16_t s = send(SC_READ_LINES, buffer.data());
        if (s == SCS_END_OF_DATA) break;
        if (s != SCS_OK && s != SCS_PARTIAL) {
            fprintf(stderr, "read: %d\n", s);
            return 2;
        }
        lines += b.count;
    }
    send(SC_STOP_SCAN, nullptr);
    double seconds = Now() - t0;
    send(SC_RELEASE, nullptr);
    send(SC_CLOSE, nullptr);
    FreeLibrary(module);
    if (lines != layout.lineCount) {
        fprintf(stderr, "%.0f lines of %u\n", lines, layout.lineCount);
        return 2;
    }
    PROCESS_MEMORY_COUNTERS pmc;
    memset(&pmc, 0, sizeof pmc);
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
    printf("RESULT %.6f %.0f %.0f %.0f\n", seconds, lines * layout.bytesPerLine, (double)pmc.PeakWorkingSetSize,
           (double)pmc.PeakPagefileUsage);
    return 0;
}

bool RunChild(int index, Outcome *out) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" --one " + std::to_string(index);
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi;
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    BOOL started = CreateProcessA(self, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return false;
    }
    std::string text;
    char chunk[256];
    DWORD got;
    while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got) text.append(chunk, got);
    CloseHandle(readEnd);
    bool done = WaitForSingleObject(pi.hProcess, 600000) == WAIT_OBJECT_0;
    if (!done) TerminateProcess(pi.hProcess, 1);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    size_t at = text.find("RESULT ");
    return done && code == 0 && at != std::string::npos &&
           sscanf(text.c_str() + at, "RESULT %lf %lf %lf %lf", &out->seconds, &out->outputBytes,
                  &out->peakWorkingSet, &out->peakPagefile) == 4;
}

}  // namespace

int main(int argc, char **argv) {
    const int count = (int)(sizeof kCases / sizeof kCases[0]);
    if (argc == 3 && !strcmp(argv[1], "--one")) {
        int i = atoi(argv[2]);
        return i >= 0 && i < count ? ScanOnce(kCases[i]) : 2;
    }
    int reps = 3;
    for (int i = 1; i + 1 < argc; i += 2)
        if (!strcmp(argv[i], "--reps")) reps = atoi(argv[i + 1]) > 0 ? atoi(argv[i + 1]) : 1;

    Outcome best[sizeof kCases / sizeof kCases[0]];
    for (int i = 0; i < count; ++i) {
        best[i].seconds = 1e30;
        for (int r = 0; r < reps; ++r) {
            Outcome o;
            if (!RunChild(i, &o)) {
                fprintf(stderr, "rescale_wine_bench: scan %s failed\n", kCases[i].name);
                return 1;
            }
            if (o.seconds < best[i].seconds) best[i] = o;
        }
    }
    printf("colour scans through ScannerCommander, start to stop, best of %d\n", reps);
    printf("%-22s %-16s %12s %10s %10s %14s %14s\n", "scan", "area (1/600 in)", "output MB", "seconds", "MB/s",
           "peak WS MB", "peak pagefile");
    for (int i = 0; i < count; ++i) {
        const Outcome &o = best[i];
        char area[32];
        snprintf(area, sizeof area, "%ux%u", kCases[i].width, kCases[i].height);
        printf("%-22s %-16s %12.1f %10.3f %10.1f %14.1f %14.1f\n", kCases[i].name, area, o.outputBytes / 1e6,
               o.seconds, o.outputBytes / 1e6 / o.seconds, o.peakWorkingSet / 1e6, o.peakPagefile / 1e6);
    }
    printf("\nsame output size (lens 1's bed at 600 dpi): stretched / direct time = %.2f (target at most 2.00)\n",
           best[3].seconds / best[2].seconds);
    printf("whole bed, per output byte: stretched 600 / direct 300 = %.2f\n",
           (best[1].seconds / best[1].outputBytes) / (best[0].seconds / best[0].outputBytes));
    printf("peak working set, whole-bed / small stretched scan: %.1f MB / %.1f MB (output %.0fx larger)\n",
           best[1].peakWorkingSet / 1e6, best[4].peakWorkingSet / 1e6, best[1].outputBytes / best[4].outputBytes);
    printf("peak pagefile use, whole-bed / small stretched scan: %.1f MB / %.1f MB\n", best[1].peakPagefile / 1e6,
           best[4].peakPagefile / 1e6);
    return 0;
}
