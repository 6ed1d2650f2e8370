// The scan commands: the layout query (9), parameters (16), start (17),
// reading (18) and stop (19); the spool file of a rescaled scan and the
// delivery of its stretched lines.
#include "scan_run.h"

#include <string.h>

#include "commands.h"
#include "driver_channel.h"
#include "rescale.h"
#include "scan_checks.h"
#include "shared_maps.h"
#include "shared_state.h"
#include "tone_prepare.h"

int16_t CheckScanArea(uint32_t flags, uint16_t left, uint16_t top, uint16_t width, uint16_t height,
                      uint16_t xResolution, uint16_t yResolution, uint16_t lens) {
    uint16_t table = (flags & SPF_LENS_TABLE_1) ? 1 : (flags & SPF_LENS_TABLE_2) ? 2 : 0;
    int slot = LensTableSlot(table);
    uint16_t lensCount = g_shared.deviceInfo.lensCount;
    if (slot < 0 || lens >= lensCount) return SCS_BAD_PARAMETER;
    uint8_t *records = OpenMap(MAP_LENS);
    if (!records) return MapFailureStatus();
    uint64_t offset = ((uint64_t)lens + (uint64_t)lensCount * (uint64_t)slot) * LENS_RECORD_BYTES;
    int16_t status = SCS_BAD_PARAMETER;
    if (MapHolds(MAP_LENS, offset, LENS_RECORD_BYTES)) {
        LensRecord record;
        memcpy(&record, records + offset, sizeof record);
        ScanArea area = {left, top, width, height, xResolution, yResolution};
        if (AreaFitsLens(record, area)) status = SCS_OK;
    }
    CloseMap(MAP_LENS);
    return status;
}

int16_t CheckOption(uint16_t option) {
    return OptionAvailable(g_shared.deviceInfo.optionMask, option) ? SCS_OK : SCS_BAD_PARAMETER;
}

namespace {

enum : uint32_t { SCAN_PARAM_BYTES_AT = 8 };

// ScanParams bytes 8 to 29 into a layout's parameter bytes.
void LayoutFromParams(const ScanParams &params, ScanLayout *layout) {
    memset(layout, 0, sizeof *layout);
    memcpy(&layout->flags, reinterpret_cast<const uint8_t *>(&params) + SCAN_PARAM_BYTES_AT, SCAN_SETTINGS_BYTES);
}

// The refused parameters stay in the store, so a start must not use them:
// it waits for parameters that pass.
void RefuseParams(CommandBlock *block, int16_t status) {
    g_shared.stateWord &= ~(uint32_t)SCF_PARAMS_SET;
    block->status = status;
}

bool LevelInRange(int level) { return level >= -127 && level <= 127; }

uint32_t AddressOf(const void *p) { return (uint32_t)(uintptr_t)p; }

// Reads the next native line of the spool file into `line`: 1 when read,
// 0 at the end of the file (`line` stays as it was), -1 when it fails.
int ReadSpoolLine(uint8_t *line) {
    DWORD got = 0;
    if (!ReadFile(g_shared.spoolFile, line, g_shared.nativeLayout.bytesPerLine, &got, nullptr)) return -1;
    return got != 0 ? 1 : 0;
}

}  // namespace

bool SpoolIsHere() { return g_shared.spoolProcess == GetCurrentProcessId(); }

void DiscardSpool() {
    bool hadFile = g_shared.spoolFile != nullptr;
    // Handles of another process are not ours to close: they end with it.
    if (SpoolIsHere()) {
        if (g_shared.spoolFile) CloseHandle(g_shared.spoolFile);
        if (g_shared.lineBuffer) GlobalFree(g_shared.lineBuffer);
    }
    if (hadFile && g_shared.spoolPath[0]) DeleteFileA(g_shared.spoolPath);
    g_shared.spoolFile = nullptr;
    g_shared.lineBuffer = nullptr;
    g_shared.spoolProcess = 0;
    g_shared.spoolLinesLeft = 0;
    g_shared.spoolPartialBytes = 0;
    g_shared.spoolFilled = 0;
    ReleaseConverterTables();
}

void CmdGetScanLayout(CommandBlock *block) {
    void *buffer = block->buffer;
    if (!buffer) {
        block->status = SCS_BAD_PARAMETER;
        return;
    }
    ScanLayout layout;
    memcpy(&layout, buffer, sizeof layout);
    int16_t status = SCS_OK;
    if (layout.colorMode > g_shared.deviceInfo.maxColorMode || layout.lens >= g_shared.deviceInfo.lensCount)
        status = SCS_BAD_PARAMETER;
    if (status == SCS_OK && layout.colorMode >= SCM_GRAY) status = CheckOption(layout.option);
    if (status == SCS_OK)
        status = CheckScanArea(layout.flags, layout.left, layout.top, layout.width, layout.height,
                               layout.xResolution, layout.yResolution, layout.lens);
    if (status != SCS_OK) {
        block->status = status;
        return;
    }
    block->status = RequestStatus(DeviceRequest(IOCTL_SCANNER_GET_SCAN_LAYOUT, buffer, sizeof(ScanLayout),
                                                buffer, sizeof(ScanLayout)));
}

void CmdSetScanParams(CommandBlock *block) {
    if (!PresentsOwner(block)) {
        block->status = SCS_NOT_OWNER;
        return;
    }
    if (!block->buffer) {
        block->status = SCS_BAD_PARAMETER;
        return;
    }
    ScanParams &p = g_shared.scanParams;
    memcpy(&p, block->buffer, sizeof p);
    // These are the caller's now; a restart must not bring back older ones.
    g_shared.paramsRewritten = 0;

    const DeviceInfo &info = g_shared.deviceInfo;
    int16_t status = SCS_OK;
    if (p.lens >= info.lensCount || p.colorMode > info.maxColorMode || !LevelInRange(p.brightness) ||
        !LevelInRange(p.contrast))
        status = SCS_BAD_PARAMETER;
    if (status == SCS_OK)
        status = CheckScanArea(p.flags, p.left, p.top, p.width, p.height, p.xResolution, p.yResolution, p.lens);
    if (status != SCS_OK) {
        RefuseParams(block, status);
        return;
    }

    ToneWork work;
    if (!OpenToneWork(&work, &status)) {
        CloseMap(MAP_SYSTEM);
        CloseMap(MAP_USER);
        RefuseParams(block, status);
        return;
    }
    switch (p.colorMode) {
    case SCM_LINEART: {
        p.toneLayout = TL_ONE_TABLE;
        uint32_t select = g_shared.monoTableSelect;
        if (select < 3 || select - 3 >= work.tableCount) {
            status = SCS_BAD_PARAMETER;
            break;
        }
        const uint8_t *mono = work.systemTables + (size_t)(select - 3) * work.g.bytesPerTable;
        p.toneTable = AddressOf(mono);
        memcpy(work.workingTables, mono, work.g.bytesPerTable);
        break;
    }
    case SCM_HALFTONE:
        if (p.patternNumber > 4 || (p.patternNumber == 4 && p.pattern == 0)) {
            status = SCS_BAD_PARAMETER;
            break;
        }
        p.option = 0;
        p.toneLayout = TL_DEFAULT_ADJUSTED;
        status = PrepareOneTable(work, &p);
        if (status == SCS_OK) SelectHalftonePattern(work, &p);
        break;
    case SCM_GRAY:
        status = PrepareOneTable(work, &p);
        if (status == SCS_OK) status = CheckOption(p.option);
        break;
    case SCM_COLOR:
        status = PrepareColorTables(work, &p);
        if (status == SCS_OK) status = CheckOption(p.option);
        break;
    default: break;
    }
    CloseMap(MAP_SYSTEM);
    if (status == SCS_OK) {
        if (p.lens != g_shared.currentLens) {
            uint16_t lens = p.lens;
            DeviceRequest(IOCTL_SCANNER_SELECT_LENS, &lens, sizeof lens, nullptr, 0);
            g_shared.currentLens = lens;
        }
        if (p.colorMode != SCM_COLOR) p.flags &= ~(uint32_t)SPF_COLOR_ONLY;
    }
    CloseMap(MAP_USER);
    if (status != SCS_OK) return RefuseParams(block, status);
    g_shared.stateWord |= SCF_PARAMS_SET;
}

void CmdStartScan(CommandBlock *block) {
    if (!PresentsOwner(block)) {
        block->status = SCS_NOT_OWNER;
        return;
    }
    if (!(g_shared.stateWord & SCF_PARAMS_SET)) {
        block->status = SCS_WRONG_STATE;
        return;
    }
    // Started again while scanning: the earlier scan's spool goes first.
    DiscardSpool();
    // A rescaled start left the scanner's parameters in the store; the new
    // start is made from the caller's again.
    if (g_shared.paramsRewritten) {
        g_shared.scanParams = g_shared.requestedParams;
        g_shared.paramsRewritten = 0;
    }
    ScanParams &p = g_shared.scanParams;
    // SelectHalftonePattern pointed `pattern` at the working pattern; the
    // shared copy is sent rather than an address of some process.
    if (p.colorMode == SCM_HALFTONE)
        DeviceRequest(IOCTL_SCANNER_SET_HALFTONE, g_shared.workingPattern.threshold, HALFTONE_PATTERN_BYTES,
                      nullptr, 0);

    int16_t status = SCS_OK;
    uint8_t *user = OpenMap(MAP_USER);
    if (!user) {
        block->status = MapFailureStatus();
        return;
    }
    ToneGeometry g = ToneGeometryOf(g_shared.tableFormat);
    uint32_t tables = g_shared.tableFormat.tableCount < 3 ? g_shared.tableFormat.tableCount : 3;
    uint8_t *working = user + g.bytesPerTable;
    if (!MapHolds(MAP_USER, g.bytesPerTable, (uint64_t)tables * g.bytesPerTable)) {
        CloseMap(MAP_USER);
        block->status = SCS_BAD_PARAMETER;
        return;
    }
    // Reversed for the negative holder only while they are sent, so that
    // every start sends the same tables.
    bool reverse = (p.flags & SPF_LENS_TABLE_2) != 0;
    if (reverse) ReverseToneTables(g, working, tables);
    uint16_t layout = p.toneLayout;
    DeviceRequest(IOCTL_SCANNER_SET_TONE_TABLES, &layout, sizeof layout, working, tables * g.bytesPerTable);
    if (reverse) ReverseToneTables(g, working, tables);

    status = PrepareRescaling();
    if (status != SCS_OK) {
        CloseMap(MAP_USER);
        block->status = status;
        return;
    }
    DeviceRequest(IOCTL_SCANNER_SET_PARAMS, &p, sizeof p, &p, sizeof p);
    CloseMap(MAP_USER);

    ScanStartInfo start = {0, 0};
    DWORD result = DeviceRequest(IOCTL_SCANNER_START, nullptr, 0, &start, sizeof start);
    if (result == 0) {
        g_shared.startInfo = start;
        g_shared.stateWord |= SCF_SCANNING;
    }
    block->status = RequestStatus(result);
}

namespace {

void ReadDirect(CommandBlock *block) {
    ScanStartInfo &start = g_shared.startInfo;
    if (start.linesLeft == 0) {
        block->status = SCS_END_OF_DATA;
        return;
    }
    const uint32_t bytesPerLine = start.bytesPerLine;
    // Lines are due but the driver gave them no size.
    if (bytesPerLine == 0) {
        block->status = SCS_NO_DATA;
        return;
    }
    // Room for no whole line: a clear refusal instead of an empty success.
    if (block->bufferSize < bytesPerLine) {
        block->status = SCS_BAD_PARAMETER;
        return;
    }
    const uint32_t asked = block->bufferSize / bytesPerLine;
    DWORD got = 0;
    if (!ReadFile(g_process.driver, block->buffer, block->bufferSize, &got, nullptr)) {
        block->status = RequestStatus(GetLastError());
        return;
    }
    if (got == 0) {
        block->status = SCS_NO_DATA;
        return;
    }
    uint32_t count = got / bytesPerLine;
    if (count > start.linesLeft) count = start.linesLeft;
    start.linesLeft -= count;
    block->count = count;
    block->status = (start.linesLeft == 0 || count == asked) ? SCS_OK : SCS_PARTIAL;
}

}  // namespace

void CmdReadLines(CommandBlock *block) {
    block->count = 0;
    if (!PresentsOwner(block)) {
        block->status = SCS_NOT_OWNER;
        return;
    }
    if (!(g_shared.stateWord & SCF_SCANNING)) {
        block->status = SCS_WRONG_STATE;
        return;
    }
    if (!block->buffer) {
        block->status = SCS_BAD_PARAMETER;
        return;
    }
    if (!g_shared.rescaling) return ReadDirect(block);
    // The spool's handles belong to the process that made them.
    if (g_shared.spoolProcess != 0 && !SpoolIsHere()) {
        block->status = SCS_WRONG_STATE;
        return;
    }
    if (!g_shared.spoolFilled) {
        int16_t status = FillSpool(block);
        if (status < 0) {
            block->status = status;
            return;
        }
    }
    DeliverRescaledLines(block);
}

void CmdStopScan(CommandBlock *block) {
    if (!PresentsOwner(block)) {
        block->status = SCS_NOT_OWNER;
        return;
    }
    if (!(g_shared.stateWord & SCF_SCANNING)) {
        block->status = SCS_WRONG_STATE;
        return;
    }
    DWORD result = DeviceRequest(IOCTL_SCANNER_STOP, nullptr, 0, nullptr, 0);
    g_shared.stateWord &= ~(uint32_t)SCF_SCANNING;
    DiscardSpool();
    block->status = RequestStatus(result);
}

int16_t PrepareRescaling() {
    ScanParams &p = g_shared.scanParams;
    g_shared.rescaling = 0;
    g_shared.lineConverter = LINE_CONVERTER_NONE;

    uint8_t *records = OpenMap(MAP_LENS);
    if (!records) return MapFailureStatus();
    uint64_t offset = (uint64_t)p.lens * LENS_RECORD_BYTES;
    if (!MapHolds(MAP_LENS, offset, LENS_RECORD_BYTES)) {
        CloseMap(MAP_LENS);
        return SCS_BAD_PARAMETER;
    }
    LensRecord lens;
    memcpy(&lens, records + offset, sizeof lens);
    CloseMap(MAP_LENS);

    const bool single = g_shared.uniformNative || p.colorMode == SCM_COLOR;
    const uint32_t limit = single ? lens.nativeResolution : 2u * lens.nativeResolution;
    if (p.xResolution <= limit) return SCS_OK;

    uint32_t converter;
    switch (p.colorMode) {
    case SCM_LINEART:
    case SCM_HALFTONE: converter = LINE_CONVERTER_BITS; break;
    case SCM_GRAY: converter = LINE_CONVERTER_GRAY; break;
    case SCM_COLOR: converter = LINE_CONVERTER_RGB; break;
    default: return SCS_BAD_PARAMETER;  // no converter for it
    }
    const uint16_t native = single ? lens.nativeResolution : lens.nativeResolutionMono;
    if (native == 0) return SCS_BAD_PARAMETER;

    g_shared.requestedParams = p;
    ScanLayout &requested = g_shared.requestedLayout;
    ScanLayout &scanner = g_shared.nativeLayout;
    LayoutFromParams(p, &requested);
    DWORD result = DeviceRequest(IOCTL_SCANNER_GET_SCAN_LAYOUT, &requested, sizeof requested, &requested,
                                 sizeof requested);
    ScanParams rewritten = p;
    rewritten.xResolution = native;
    rewritten.yResolution = native;
    rewritten.flags &= ~(uint32_t)SPF_BOTTOM_UP;
    if (rewritten.colorMode <= SCM_HALFTONE) rewritten.colorMode = SCM_GRAY;
    LayoutFromParams(rewritten, &scanner);
    if (result == 0)
        result = DeviceRequest(IOCTL_SCANNER_GET_SCAN_LAYOUT, &scanner, sizeof scanner, &scanner, sizeof scanner);
    if (result != 0) return RequestStatus(result);

    // Layouts the stretching can work with: every count and size it
    // divides by or writes within.
    const uint32_t m = requested.pixelsPerLine, n = scanner.pixelsPerLine;
    if (m == 0 || n == 0 || requested.lineCount == 0 || scanner.lineCount == 0 ||
        requested.bytesPerLine < ConvertedLineBytes(converter, m) ||
        scanner.bytesPerLine < NativeLineBytes(converter, n) || scanner.bytesPerLine > 0x7FFFFFFFu / 2 ||
        requested.bytesPerLine > 0x7FFFFFFFu || requested.xResolution == 0 || requested.yResolution == 0 ||
        scanner.xResolution == 0 || scanner.yResolution == 0)
        return SCS_BAD_PARAMETER;

    p = rewritten;
    g_shared.lineStep = (g_shared.requestedParams.flags & SPF_BOTTOM_UP) ? -(int32_t)requested.bytesPerLine
                                                                        : (int32_t)requested.bytesPerLine;
    uint8_t *thresholds = g_shared.rescalePattern.threshold;
    if (g_shared.requestedParams.colorMode == SCM_LINEART) {
        memset(thresholds, 0x80, HALFTONE_PATTERN_BYTES);
    } else if (g_shared.requestedParams.colorMode == SCM_HALFTONE) {
        const bool invert = (g_shared.requestedParams.flags & SPF_INVERT_PATTERN) != 0;
        for (uint32_t i = 0; i < HALFTONE_PATTERN_BYTES; ++i) {
            uint8_t t = g_shared.workingPattern.threshold[i];
            thresholds[i] = invert ? (uint8_t)~t : t;
        }
    }
    g_shared.lineConverter = converter;
    g_shared.rescaling = 1;
    g_shared.paramsRewritten = 1;
    return SCS_OK;
}

int16_t FillSpool(CommandBlock *block) {
    const uint32_t nativeBytes = g_shared.nativeLayout.bytesPerLine;
    if (!g_shared.spoolFile) {
        HANDLE file = g_shared.spoolPath[0]
                          ? CreateFileA(g_shared.spoolPath, GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr)
                          : INVALID_HANDLE_VALUE;
        if (file == INVALID_HANDLE_VALUE) return SCS_SPOOL_ERROR;
        g_shared.spoolFile = file;
        g_shared.spoolProcess = GetCurrentProcessId();
        g_shared.spoolLinesLeft = g_shared.nativeLayout.lineCount;
        g_shared.spoolPartialBytes = 0;
    }
    if (!g_shared.lineBuffer) {
        g_shared.lineBuffer = GlobalAlloc(GMEM_MOVEABLE, 2 * (SIZE_T)nativeBytes);
        if (!g_shared.lineBuffer) return SCS_SPOOL_ERROR;
        g_shared.spoolProcess = GetCurrentProcessId();
    }

    // The caller's buffer carries the lines from the driver to the file;
    // one too small for a native line (1-bit output lines are smaller than
    // the gray lines behind them) leaves that to the line buffer.
    uint8_t *transfer = static_cast<uint8_t *>(block->buffer);
    uint32_t room = block->bufferSize;
    uint8_t *locked = nullptr;
    if (room < nativeBytes) {
        locked = static_cast<uint8_t *>(GlobalLock(g_shared.lineBuffer));
        if (!locked) return SCS_SPOOL_ERROR;
        transfer = locked;
        room = 2 * nativeBytes;
    }
    int16_t status = SCS_OK;
    while (g_shared.spoolLinesLeft != 0 && status == SCS_OK) {
        uint64_t due = (uint64_t)g_shared.spoolLinesLeft * nativeBytes - g_shared.spoolPartialBytes;
        DWORD ask = (DWORD)(due < room ? due : room);
        DWORD got = 0;
        if (!ReadFile(g_process.driver, transfer, ask, &got, nullptr)) {
            status = SCS_SPOOL_ERROR;
        } else if (got == 0) {
            status = SCS_NO_DATA;
        } else {
            DWORD written = 0;
            if (!WriteFile(g_shared.spoolFile, transfer, got, &written, nullptr) || written != got) {
                status = SCS_SPOOL_ERROR;
            } else {
                uint64_t bytes = (uint64_t)g_shared.spoolPartialBytes + got;
                uint64_t lines = bytes / nativeBytes;
                g_shared.spoolPartialBytes = (uint32_t)(bytes % nativeBytes);
                g_shared.spoolLinesLeft -= lines < g_shared.spoolLinesLeft ? (uint32_t)lines : g_shared.spoolLinesLeft;
            }
        }
    }
    if (locked) GlobalUnlock(g_shared.lineBuffer);
    if (status != SCS_OK) return status;

    // Both halves start as native line 0; delivery goes on with line 1.
    uint8_t *lines = static_cast<uint8_t *>(GlobalLock(g_shared.lineBuffer));
    if (!lines) return SCS_SPOOL_ERROR;
    DWORD got = 0;
    bool primed = SetFilePointer(g_shared.spoolFile, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
                  ReadFile(g_shared.spoolFile, lines, nativeBytes, &got, nullptr) && got == nativeBytes;
    if (primed) memcpy(lines + nativeBytes, lines, nativeBytes);
    GlobalUnlock(g_shared.lineBuffer);
    if (!primed) return SCS_SPOOL_ERROR;
    g_shared.repeatCount = 0;
    g_shared.verticalAccumulator = 0;
    g_shared.halftonePosition = 0;
    g_shared.spoolFilled = 1;
    return SCS_OK;
}

namespace {

struct Delivery {
    uint8_t *current;
    uint8_t *next;
    VerticalStep step;
    uint32_t ry, qy;
    bool readFailed;
};

// The newest native line has given all its output lines: the next one
// comes in. Native lines that yield none (requested below the native
// resolution) pass by; at the end of the file the last one serves on.
void NextNativeLine(Delivery *d) {
    do {
        int read = ReadSpoolLine(d->next);
        if (read < 0) {
            d->readFailed = true;
            d->step.repeatCount = 1;
            return;
        }
        StepVertical(&d->step, d->ry, d->qy);
        if (read == 0 && d->step.repeatCount == 0) d->step.repeatCount = 1;
    } while (d->step.repeatCount == 0);
}

void Convert(uint8_t *out, const uint8_t *current) {
    const ScanLayout &r = g_shared.requestedLayout, &q = g_shared.nativeLayout;
    switch (g_shared.lineConverter) {
    case LINE_CONVERTER_BITS:
        ConvertToBits(out, current, r.pixelsPerLine, q.pixelsPerLine, r.xResolution, q.xResolution,
                      g_shared.rescalePattern.threshold, &g_shared.halftonePosition);
        break;
    case LINE_CONVERTER_GRAY: ResampleGray(out, current, r.pixelsPerLine, q.pixelsPerLine); break;
    case LINE_CONVERTER_RGB: ResampleRgb(out, current, r.pixelsPerLine, q.pixelsPerLine); break;
    }
}

}  // namespace

void DeliverRescaledLines(CommandBlock *block) {
    ScanLayout &requested = g_shared.requestedLayout;
    if (requested.lineCount == 0) {
        block->count = 0;
        block->status = SCS_END_OF_DATA;
        return;
    }
    const uint32_t bytesPerLine = requested.bytesPerLine;
    uint32_t n = block->bufferSize / bytesPerLine;
    if (n == 0) {
        block->status = SCS_BAD_PARAMETER;
        return;
    }
    if (n > requested.lineCount) n = requested.lineCount;
    uint8_t *lines = static_cast<uint8_t *>(GlobalLock(g_shared.lineBuffer));
    if (!lines) {
        block->status = SCS_SPOOL_ERROR;
        return;
    }
    const uint32_t nativeBytes = g_shared.nativeLayout.bytesPerLine;
    Delivery d = {lines, lines + nativeBytes, {g_shared.verticalAccumulator, g_shared.repeatCount},
                  requested.yResolution, g_shared.nativeLayout.yResolution, false};
    uint8_t *out = static_cast<uint8_t *>(block->buffer);
    if (g_shared.requestedParams.flags & SPF_BOTTOM_UP) out += (size_t)(n - 1) * bytesPerLine;

    StepVertical(&d.step, d.ry, d.qy);
    if (d.step.repeatCount == 0) NextNativeLine(&d);
    uint32_t done = 0;
    while (done < n && !d.readFailed) {
        if (d.step.repeatCount == 1)
            memcpy(d.current, d.next, nativeBytes);
        else
            AverageLines(d.current, d.next, nativeBytes);
        Convert(out, d.current);
        out += g_shared.lineStep;
        ++done;
        if (--d.step.repeatCount == 0) NextNativeLine(&d);
    }
    GlobalUnlock(g_shared.lineBuffer);
    g_shared.verticalAccumulator = d.step.accumulator;
    g_shared.repeatCount = d.step.repeatCount;
    requested.lineCount -= done;
    block->count = done;
    block->status = d.readFailed ? SCS_SPOOL_ERROR : SCS_OK;
}
