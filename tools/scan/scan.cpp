// scan: scans through the suite's command library as a scanning
// application does (open, acquire, parameters, start, read until the end
// of the data, stop, release, close) and writes a PNG or BMP.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "image_writer.h"
#include "postfilter.h"
#include "scanner_commander.h"

namespace {

const char USAGE[] =
    "usage: scan [OPTIONS] OUTPUT.png|OUTPUT.bmp\n"
    "       scan --list\n"
    "  --mode lineart|halftone|gray|color   colour mode (gray)\n"
    "  --pattern 0-3|FILE     halftone pattern: built-in number or a 64-byte file (0)\n"
    "  --invert-pattern       complement the halftone pattern\n"
    "  --res DPI              x and y resolution (the lens's native one)\n"
    "  --xres DPI, --yres DPI\n"
    "  --area L,T,W,H         scan area in the scanner's area units, 1/600 inch (the whole area)\n"
    "  --area-in L,T,W,H      the same in inches\n"
    "  --lens N               lens index (0)\n"
    "  --lens-table 0|1|2     0 reflective, 1 and 2 the scanner's other lens tables (0)\n"
    "  --brightness N, --contrast N   -127..127, applied to the default tone tables\n"
    "  --tone default|adjusted|FILE   the default ramp, the default tables adjusted by brightness\n"
    "                         and contrast, or tables from a file (one, or three for colour)\n"
    "  --option N             scan option number (0 = none)\n"
    "  --bottom-up            the scanner stores lines from the end of the buffer\n"
    "  --lines N              lines per read (64)\n"
    "  --library PATH         the command library (default: [ScanDLL] DLL32 of MERVIX.INI)\n"
    "  --filter 0-5           post-filter through dscrn32.dll with 3x3 kernel mode 0-5 (gray, color)\n"
    "  --kernel K1,...,K9     post-filter with this 3x3 kernel (weights -128..127, row by row)\n"
    "  --descreen RES         post-filter with the descreen filter down to RES (1-300, the scan is 300)\n"
    "  --quiet                no progress bar\n"
    "  --list                 print the scanner's description, lenses and resolutions\n"
    "  --help                 this text\n";

struct Options {
    uint16_t mode = SCM_GRAY;
    uint16_t patternNumber = 0;
    std::string patternFile;
    bool invertPattern = false;
    uint16_t xres = 0, yres = 0;
    bool hasArea = false;
    double area[4] = {0, 0, 0, 0};
    bool areaInches = false;
    uint16_t lens = 0, lensTable = 0;
    int brightness = 0, contrast = 0;
    bool adjust = false;
    std::string tone = "default";
    uint16_t option = 0;
    bool bottomUp = false;
    uint32_t linesPerRead = 64;
    std::string library;
    bool quiet = false;
    bool list = false;
    std::string output;
    bool filter = false;  // post-filtering through dscrn32.dll
    PostFilterSettings filterSettings = {};
};

// ---------------------------------------------------------------------------
// The library and what its statuses mean to a user.

HMODULE library;
ScannerCommanderProc commander;
CommandBlock block;
bool opened, acquired, scanning;

const char *StatusName(int16_t status) {
    switch (status) {
    case SCS_OK: return "SCS_OK";
    case SCS_END_OF_DATA: return "SCS_END_OF_DATA";
    case SCS_PARTIAL: return "SCS_PARTIAL";
    case SCS_BAD_COMMAND: return "SCS_BAD_COMMAND";
    case SCS_BAD_PARAMETER: return "SCS_BAD_PARAMETER";
    case SCS_SPOOL_ERROR: return "SCS_SPOOL_ERROR";
    case SCS_NO_DATA: return "SCS_NO_DATA";
    case SCS_WRONG_STATE: return "SCS_WRONG_STATE";
    case SCS_NOT_OWNER: return "SCS_NOT_OWNER";
    default: return status > 0 ? "system error" : "unknown status";
    }
}

void Explain(const char *what, int16_t status, const char *parameterHint) {
    fprintf(stderr, "\nscan: %s: %s (%d): ", what, StatusName(status), status);
    switch (status) {
    case SCS_BAD_COMMAND:
        fprintf(stderr, "the command library does not know this request; install the suite's devcmd.dll.\n");
        break;
    case SCS_BAD_PARAMETER:
        fprintf(stderr, "the scanner refuses this setting. %s\n", parameterHint ? parameterHint : "Check the options.");
        break;
    case SCS_SPOOL_ERROR:
        fprintf(stderr, "the spool file in the temporary folder could not be made or written; free disk space "
                        "in %%TEMP%% or choose a resolution the lens delivers.\n");
        break;
    case SCS_NO_DATA:
        fprintf(stderr, "the scanner delivered no data; check that it is switched on and connected, then scan again.\n");
        break;
    case SCS_WRONG_STATE:
        fprintf(stderr, "the scanner was not ready for this step; scan again.\n");
        break;
    case SCS_NOT_OWNER:
        fprintf(stderr, "another program is using the scanner; close it (the Scanner Utility, for example) "
                        "and scan again.\n");
        break;
    default: {
        char text[256] = "";
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(uint16_t(status)), 0,
                       text, sizeof(text), nullptr);
        size_t n = strlen(text);
        while (n && (text[n - 1] == '\n' || text[n - 1] == '\r')) text[--n] = 0;
        fprintf(stderr, "the scanner's driver reports \"%s\"; check the scanner and its connection, then scan "
                        "again.\n", n ? text : "an error");
    }
    }
}

int16_t Send(uint16_t command) {
    block.command = command;
    commander(&block);
    return block.status;
}

// Leaves the scanner as it was found: stopped, released, closed, unloaded.
void Finish() {
    if (scanning) Send(SC_STOP_SCAN);
    if (acquired) Send(SC_RELEASE);
    if (opened) Send(SC_CLOSE);
    scanning = acquired = opened = false;
    if (library) FreeLibrary(library);
    library = nullptr;
}

int Fail() {
    Finish();
    return 1;
}

bool LoadScannerLibrary(const std::string &override) {
    char path[MAX_PATH] = "";
    if (!override.empty()) {
        if (override.size() >= sizeof(path)) {
            fprintf(stderr, "scan: the library path is too long.\n");
            return false;
        }
        strcpy(path, override.c_str());
    } else if (GetPrivateProfileStringA("ScanDLL", "DLL32", "", path, sizeof(path), "MERVIX.INI") == 0) {
        fprintf(stderr, "scan: MERVIX.INI names no command library ([ScanDLL] DLL32); install the suite first.\n");
        return false;
    }
    library = LoadLibraryA(path);
    if (!library) {
        fprintf(stderr, "scan: cannot load the command library %s (error %lu); check that the file exists and that "
                        "the scanner's driver is running.\n", path, GetLastError());
        return false;
    }
    commander = reinterpret_cast<ScannerCommanderProc>(reinterpret_cast<void *>(GetProcAddress(library, "ScannerCommander")));
    if (!commander) {
        fprintf(stderr, "scan: %s has no ScannerCommander entry; it is not the suite's command library.\n", path);
        FreeLibrary(library);
        library = nullptr;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Options.

bool ParseInt(const char *text, long min, long max, long *value) {
    if (!text || !*text) return false;
    char *end = nullptr;
    long v = strtol(text, &end, 10);
    if (*end || v < min || v > max) return false;
    *value = v;
    return true;
}

bool ParseArea(const char *text, double area[4]) {
    if (!text) return false;
    char *end = nullptr;
    const char *p = text;
    for (int i = 0; i < 4; ++i) {
        area[i] = strtod(p, &end);
        if (end == p || area[i] < 0) return false;
        if (i < 3) {
            if (*end != ',') return false;
            p = end + 1;
        }
    }
    return *end == 0;
}

int Usage(const char *why) {
    if (why) fprintf(stderr, "scan: %s\n", why);
    fputs(USAGE, stderr);
    return 2;
}

int ParseOptions(int argc, char **argv, Options *o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char *next = i + 1 < argc ? argv[i + 1] : nullptr;
        long v;
        auto takes = [&](long min, long max, const char *what) -> bool {
            if (!ParseInt(next, min, max, &v)) {
                Usage((a + " needs " + what).c_str());
                return false;
            }
            ++i;
            return true;
        };
        if (a == "--mode" && next) {
            std::string m = argv[++i];
            if (m == "lineart") o->mode = SCM_LINEART;
            else if (m == "halftone") o->mode = SCM_HALFTONE;
            else if (m == "gray" || m == "grey") o->mode = SCM_GRAY;
            else if (m == "color" || m == "colour") o->mode = SCM_COLOR;
            else return Usage("--mode takes lineart, halftone, gray or color");
        } else if (a == "--pattern" && next) {
            if (ParseInt(next, 0, 3, &v)) o->patternNumber = uint16_t(v);
            else o->patternFile = next;
            ++i;
        } else if (a == "--invert-pattern") {
            o->invertPattern = true;
        } else if (a == "--res") {
            if (!takes(1, 65535, "a resolution in dpi")) return 2;
            o->xres = o->yres = uint16_t(v);
        } else if (a == "--xres") {
            if (!takes(1, 65535, "a resolution in dpi")) return 2;
            o->xres = uint16_t(v);
        } else if (a == "--yres") {
            if (!takes(1, 65535, "a resolution in dpi")) return 2;
            o->yres = uint16_t(v);
        } else if ((a == "--area" || a == "--area-in") && next) {
            if (!ParseArea(argv[++i], o->area)) return Usage("--area takes LEFT,TOP,WIDTH,HEIGHT");
            o->hasArea = true;
            o->areaInches = a == "--area-in";
        } else if (a == "--lens") {
            if (!takes(0, 65534, "a lens index")) return 2;
            o->lens = uint16_t(v);
        } else if (a == "--lens-table") {
            if (!takes(0, 2, "0, 1 or 2")) return 2;
            o->lensTable = uint16_t(v);
        } else if (a == "--brightness") {
            if (!takes(-127, 127, "a level from -127 to 127")) return 2;
            o->brightness = int(v);
            o->adjust = true;
        } else if (a == "--contrast") {
            if (!takes(-127, 127, "a level from -127 to 127")) return 2;
            o->contrast = int(v);
            o->adjust = true;
        } else if (a == "--tone" && next) {
            o->tone = argv[++i];
        } else if (a == "--option") {
            if (!takes(0, 65535, "an option number")) return 2;
            o->option = uint16_t(v);
        } else if (a == "--bottom-up") {
            o->bottomUp = true;
        } else if (a == "--lines") {
            if (!takes(1, 100000, "a number of lines")) return 2;
            o->linesPerRead = uint32_t(v);
        } else if (a == "--library" && next) {
            o->library = argv[++i];
        } else if (a == "--filter") {
            if (!takes(0, 5, "a kernel mode from 0 to 5")) return 2;
            o->filter = true;
            o->filterSettings.mode = uint16_t(v);
        } else if (a == "--kernel" && next) {
            const char *p = argv[++i];
            for (int k = 0; k < 9; ++k) {
                char *end = nullptr;
                long w = strtol(p, &end, 10);
                if (end == p || w < -128 || w > 127 || (k < 8 && *end != ',') || (k == 8 && *end)) {
                    return Usage("--kernel takes nine weights from -128 to 127, separated by commas");
                }
                o->filterSettings.customKernel[k] = int8_t(w);
                p = end + 1;
            }
            o->filter = true;
            o->filterSettings.useCustomKernel = true;
        } else if (a == "--descreen") {
            if (!takes(1, 300, "a resolution from 1 to 300")) return 2;
            o->filter = true;
            o->filterSettings.mode = DESCREEN_MODE;
            o->filterSettings.resolution = uint16_t(v);
        } else if (a == "--quiet") {
            o->quiet = true;
        } else if (a == "--help" || a == "-h") {
            fputs(USAGE, stdout);
            exit(0);
        } else if (a == "--list") {
            o->list = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage(("unknown option " + a).c_str());
        } else if (o->output.empty()) {
            o->output = a;
        } else {
            return Usage("only one output file");
        }
    }
    if (o->adjust && o->tone == "default") o->tone = "adjusted";
    if (o->filter && o->mode <= SCM_HALFTONE) return Usage("the filters take gray or color scans");
    if (o->filter && o->bottomUp) return Usage("filtered scans are made top-down");
    if (!o->list && o->output.empty()) return Usage("no output file");
    ImageFormat f;
    if (!o->list && !ImageFormatOf(o->output, &f)) return Usage("the output must end in .png or .bmp");
    return 0;
}

bool ReadFileBytes(const std::string &path, std::vector<uint8_t> *data) {
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return false;
    uint8_t buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) data->insert(data->end(), buf, buf + n);
    fclose(f);
    return true;
}

// ---------------------------------------------------------------------------
// What the scanner says about itself.

const char *ModeName(uint16_t mode) {
    static const char *names[] = {"lineart", "halftone", "gray", "color"};
    return mode < 4 ? names[mode] : "?";
}

int List() {
    DeviceInfo info;
    block.buffer = &info;
    if (int16_t s = Send(SC_GET_DEVICE_INFO)) {
        Explain("reading the scanner's description", s, nullptr);
        return Fail();
    }
    uint8_t description[44] = {};
    block.buffer = description;
    Send(SC_GET_DESCRIPTION);
    TableFormat format = {};
    block.buffer = &format;
    Send(SC_GET_TABLE_FORMAT);
    printf("scanner      %.40s (version %u)\n", description + 4, description[0] | (description[1] << 8));
    printf("colour modes up to %s\n", ModeName(info.maxColorMode));
    printf("options     ");
    bool any = false;
    for (int bit = 0; bit < 32; ++bit)
        if (info.optionMask & (1u << bit)) {
            printf(" %d", bit + 1);
            any = true;
        }
    printf("%s\n", any ? "" : " none");
    printf("tone tables  %u of %u entries, %u byte(s) each, values up to %u\n", format.tableCount,
           format.entriesPerTable, format.bytesPerEntry, format.maxValue);
    const char *tableNames[] = {"reflective", "lens table 1", "lens table 2"};
    for (uint16_t table = 0; table < 3; ++table) {
        if (table == 1 && !(info.deviceFlags & DIF_LENS_TABLE_1)) continue;
        if (table == 2 && !(info.deviceFlags & DIF_LENS_TABLE_2)) continue;
        for (uint16_t i = 0; i < info.lensCount; ++i) {
            LensRecord r;
            block.buffer = &r;
            block.index = i;
            block.select = table;
            if (Send(SC_GET_LENS_RECORD)) continue;
            printf("lens %u (%s): %u-%u dpi, native %u dpi colour / %u dpi other modes, area %u x %u "
                   "(1/600 in), at least %u x %u\n",
                   i, tableNames[table], r.minResolution, r.maxResolution, r.nativeResolution, r.nativeResolutionMono,
                   r.areaWidth, r.areaHeight, r.minWidth, r.minHeight);
        }
    }
    Finish();
    return 0;
}

// ---------------------------------------------------------------------------
// The scan.

void Progress(const Options &o, uint32_t done, uint32_t total) {
    if (o.quiet || total == 0) return;
    const int width = 40;
    int filled = int(uint64_t(done) * width / total);
    char bar[width + 1];
    for (int i = 0; i < width; ++i) bar[i] = i < filled ? '#' : '.';
    bar[width] = 0;
    fprintf(stderr, "\rscanning [%s] %3u%% %u/%u lines", bar, unsigned(uint64_t(done) * 100 / total), done, total);
    fflush(stderr);
}

// A temporary file beside the others of this user.
std::string TempFile() {
    char dir[MAX_PATH], path[MAX_PATH];
    DWORD n = GetTempPathA(MAX_PATH, dir);
    if (n == 0 || n >= MAX_PATH || !GetTempFileNameA(dir, "scn", 0, path)) return std::string();
    return path;
}

std::string Dscrn32Path() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path, n < MAX_PATH ? n : 0);
    size_t slash = p.find_last_of('\\');
    return slash == std::string::npos ? "dscrn32.dll" : p.substr(0, slash + 1) + "dscrn32.dll";
}

// Runs the raw scan through dscrn32.dll and writes the filtered lines.
bool FilterToImage(const Options &o, const std::string &raw, uint32_t width, uint32_t bytesPerLine,
                   uint32_t lines) {
    PostFilterImage image = {width, bytesPerLine, lines, o.mode == SCM_COLOR};
    std::string filtered = TempFile();
    char message[300] = "";
    HANDLE out = filtered.empty() ? INVALID_HANDLE_VALUE
                                  : CreateFileA(filtered.c_str(), GENERIC_WRITE | GENERIC_READ, 0, nullptr,
                                                CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "scan: cannot make a temporary file for the filtered image; free disk space in %%TEMP%%.\n");
        return false;
    }
    PostFilterSink sink = {out, nullptr, 0};
    PostFilterOutput result = {};
    const std::string dll = Dscrn32Path();
    int st = PostFilterFile(dll.c_str(), raw.c_str(), image, o.filterSettings, &sink, &result, message,
                            sizeof(message));
    CloseHandle(out);
    bool ok = st == PF_OK;
    if (!ok) fprintf(stderr, "scan: filtering: %s: %s\n", PostFilterStatusName(st), message);
    FILE *f = ok ? fopen(filtered.c_str(), "rb") : nullptr;
    ImageFormat fmt;
    ImageFormatOf(o.output, &fmt);
    ImageWriter w;
    if (ok && (!f || !ImageOpen(&w, o.output, fmt, result.width, result.lines, o.mode == SCM_COLOR ? 24 : 8))) {
        fprintf(stderr, "scan: %s\n", f ? w.error.c_str() : "cannot read the filtered image back");
        ok = false;
    }
    if (ok) {
        std::vector<uint8_t> line(result.lineBytes);
        for (uint32_t r = 0; ok && r < result.written; ++r)
            ok = fread(line.data(), 1, line.size(), f) == line.size() && ImageWriteRow(&w, line.data());
        if (!ImageClose(&w) || !ok) {
            fprintf(stderr, "scan: %s\n", w.error.empty() ? "cannot write the filtered image" : w.error.c_str());
            ok = false;
        }
        if (ok)
            printf("filtered %s %ux%u pixels\n",
                   o.filterSettings.mode == DESCREEN_MODE ? "descreen" : "kernel", result.width, result.lines);
    }
    if (f) fclose(f);
    DeleteFileA(filtered.c_str());
    return ok;
}

int Scan(const Options &o) {
    DeviceInfo info;
    block.buffer = &info;
    if (int16_t s = Send(SC_GET_DEVICE_INFO)) {
        Explain("reading the scanner's description", s, nullptr);
        return Fail();
    }
    LensRecord lens;
    block.buffer = &lens;
    block.index = o.lens;
    block.select = o.lensTable;
    if (int16_t s = Send(SC_GET_LENS_RECORD)) {
        Explain("reading the lens record", s, "Choose a lens and lens table that --list shows.");
        return Fail();
    }
    TableFormat format = {};
    block.buffer = &format;
    Send(SC_GET_TABLE_FORMAT);

    ScanParams p = {};
    if (o.lensTable == 1) p.flags |= SPF_LENS_TABLE_1;
    if (o.lensTable == 2) p.flags |= SPF_LENS_TABLE_2;
    if (o.bottomUp) p.flags |= SPF_BOTTOM_UP;
    if (o.invertPattern) p.flags |= SPF_INVERT_PATTERN;
    if (o.hasArea) {
        double scale = o.areaInches ? 600.0 : 1.0;
        for (int i = 0; i < 4; ++i)
            if (o.area[i] * scale > 65535) return Usage("the area is larger than any scanner's");
        p.left = uint16_t(o.area[0] * scale + 0.5);
        p.top = uint16_t(o.area[1] * scale + 0.5);
        p.width = uint16_t(o.area[2] * scale + 0.5);
        p.height = uint16_t(o.area[3] * scale + 0.5);
    } else {
        p.width = lens.areaWidth;
        p.height = lens.areaHeight;
    }
    const uint16_t native = o.mode == SCM_COLOR ? lens.nativeResolution : lens.nativeResolutionMono;
    p.xResolution = o.xres ? o.xres : native;
    p.yResolution = o.yres ? o.yres : (o.xres ? o.xres : native);
    p.colorMode = o.mode;
    p.option = o.option;
    p.lens = o.lens;
    p.brightness = int16_t(o.brightness);
    p.contrast = int16_t(o.contrast);
    p.patternNumber = o.patternNumber;

    std::vector<uint8_t> pattern, tables;
    if (!o.patternFile.empty()) {
        if (!ReadFileBytes(o.patternFile, &pattern) || pattern.size() != 64) {
            fprintf(stderr, "scan: the pattern file %s must hold exactly 64 bytes.\n", o.patternFile.c_str());
            return Fail();
        }
        p.patternNumber = 4;
        p.pattern = uint32_t(reinterpret_cast<uintptr_t>(pattern.data()));
    }
    if (o.tone == "default") {
        p.flags |= SPF_DEFAULT_TONE;
    } else if (o.tone == "adjusted") {
        p.toneLayout = TL_DEFAULT_ADJUSTED;
    } else {
        const size_t one = size_t(format.entriesPerTable) * format.bytesPerEntry;
        if (!ReadFileBytes(o.tone, &tables) || one == 0 || (tables.size() != one && tables.size() != 3 * one)) {
            fprintf(stderr, "scan: the tone-table file %s must hold one or three tables of %zu bytes.\n",
                    o.tone.c_str(), one);
            return Fail();
        }
        p.toneLayout = tables.size() == one ? TL_ONE_TABLE : TL_THREE_TABLES;
        p.toneTable = uint32_t(reinterpret_cast<uintptr_t>(tables.data()));
    }

    // The layout the scan will deliver, asked before scanning.
    ScanLayout layout = {};
    memcpy(&layout.flags, &p.flags, SCAN_SETTINGS_BYTES);
    block.buffer = &layout;
    char hint[256];
    snprintf(hint, sizeof(hint),
             "Lens %u takes %u-%u dpi and an area within %u x %u (1/600 in) of at least %u x %u; colour modes go "
             "up to %s, options are those --list shows.",
             o.lens, lens.minResolution, lens.maxResolution, lens.areaWidth, lens.areaHeight, lens.minWidth,
             lens.minHeight, ModeName(info.maxColorMode));
    if (int16_t s = Send(SC_GET_SCAN_LAYOUT)) {
        Explain("checking the scan layout", s, hint);
        return Fail();
    }
    const uint32_t bytesPerLine = layout.bytesPerLine, lines = layout.lineCount, width = layout.pixelsPerLine;
    const uint32_t bits = o.mode <= SCM_HALFTONE ? 1 : o.mode == SCM_GRAY ? 8 : 24;
    if (bytesPerLine == 0 || lines == 0 || width == 0 || bytesPerLine < (width * bits + 7) / 8) {
        fprintf(stderr, "scan: the scanner reports an empty or inconsistent layout (%u pixels, %u bytes, %u lines).\n",
                width, bytesPerLine, lines);
        return Fail();
    }

    if (int16_t s = Send(SC_ACQUIRE)) {
        Explain("taking the scanner", s, nullptr);
        return Fail();
    }
    acquired = true;
    block.buffer = &p;
    if (int16_t s = Send(SC_SET_SCAN_PARAMS)) {
        Explain("setting the scan parameters", s, hint);
        return Fail();
    }
    DWORD started = GetTickCount();
    if (int16_t s = Send(SC_START_SCAN)) {
        Explain("starting the scan", s, nullptr);
        return Fail();
    }
    scanning = true;

    ImageFormat fmt;
    ImageFormatOf(o.output, &fmt);
    ImageWriter out;
    // A filtered scan goes to a raw file first, as a data source writes it.
    std::string raw = o.filter ? TempFile() : std::string();
    FILE *rawFile = raw.empty() ? nullptr : fopen(raw.c_str(), "wb");
    if (o.filter && !rawFile) {
        fprintf(stderr, "scan: cannot make a temporary file for the raw scan; free disk space in %%TEMP%%.\n");
        return Fail();
    }
    if (!o.filter && !ImageOpen(&out, o.output, fmt, width, lines, bits)) {
        fprintf(stderr, "scan: %s\n", out.error.c_str());
        ImageClose(&out);
        return Fail();
    }
    // Bottom-up lines land from the end of the buffer towards its start, so
    // the whole image is read into one buffer, as into a bottom-up DIB.
    const uint64_t chunkLines = o.bottomUp ? lines : o.linesPerRead;
    if (uint64_t(bytesPerLine) * chunkLines > 0x40000000) {
        fprintf(stderr, "scan: the image is too large to scan bottom-up; scan it top-down.\n");
        ImageClose(&out);
        return Fail();
    }
    std::vector<uint8_t> buffer(size_t(bytesPerLine * chunkLines));
    uint32_t received = 0;
    int16_t s = SCS_OK;
    while (received < lines) {
        uint8_t *at = o.bottomUp ? buffer.data() + size_t(received) * bytesPerLine : buffer.data();
        block.buffer = at;
        block.bufferSize = uint32_t(o.bottomUp ? size_t(lines - received) * bytesPerLine : buffer.size());
        s = Send(SC_READ_LINES);
        if (s != SCS_OK && s != SCS_PARTIAL && s != SCS_END_OF_DATA) break;
        const uint32_t n = block.count;
        if (rawFile) {
            uint32_t keep = n < lines - received ? n : lines - received;
            if (fwrite(at, bytesPerLine, keep, rawFile) != keep) {
                fprintf(stderr, "scan: cannot write the raw scan (disk full?).\n");
                break;
            }
        } else if (!o.bottomUp) {
            for (uint32_t k = 0; k < n && received + k < lines; ++k)
                if (!ImageWriteRow(&out, at + size_t(k) * bytesPerLine)) break;
        }
        received += n;
        Progress(o, received < lines ? received : lines, lines);
        if (s == SCS_END_OF_DATA || (n == 0 && s != SCS_PARTIAL)) break;
    }
    if (!o.quiet) fputc('\n', stderr);
    if (s < 0 || (s > SCS_PARTIAL)) {
        Explain("reading the scan", s, nullptr);
        if (rawFile) {
            fclose(rawFile);
            DeleteFileA(raw.c_str());
        } else {
            ImageClose(&out);
        }
        return Fail();
    }
    if (o.bottomUp)  // slot 0 holds the image's last line
        for (uint32_t r = 0; r < lines; ++r) ImageWriteRow(&out, buffer.data() + size_t(lines - 1 - r) * bytesPerLine);
    const DWORD elapsed = GetTickCount() - started;
    bool written = rawFile ? fclose(rawFile) == 0 : ImageClose(&out);
    s = Send(SC_STOP_SCAN);
    scanning = false;
    if (s) Explain("stopping the scan", s, nullptr);
    if (rawFile) {
        // The scanner is free for others while the filter runs.
        Finish();
        written = written && received == lines && FilterToImage(o, raw, width, bytesPerLine, lines);
        DeleteFileA(raw.c_str());
        if (!written) return 1;
    }
    if (!written) {
        fprintf(stderr, "scan: %s\n", out.error.c_str());
        return Fail();
    }
    if (received < lines)
        fprintf(stderr, "scan: the scanner ended after %u of %u lines; the rest of the image is black.\n", received,
                lines);
    printf("%s %ux%u dpi %ux%u pixels %u lines %.2f s %s\n", ModeName(o.mode), p.xResolution, p.yResolution, width,
           lines, received, elapsed / 1000.0, o.output.c_str());
    Finish();
    return received < lines ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    if (int rc = ParseOptions(argc, argv, &o)) return rc;
    if (!LoadScannerLibrary(o.library)) return 1;
    Send(SC_OPEN);
    opened = true;
    return o.list ? List() : Scan(o);
}
