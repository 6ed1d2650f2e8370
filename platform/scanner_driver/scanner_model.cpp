#include "scanner_model.h"

namespace {

// ---------------------------------------------------------------------------
// Freestanding helpers (the driver has no C library).

void CopyBytes(void *to, const void *from, uint32_t n) {
    uint8_t *d = static_cast<uint8_t *>(to);
    const uint8_t *s = static_cast<const uint8_t *>(from);
    for (uint32_t i = 0; i < n; ++i) d[i] = s[i];
}

void FillBytes(void *to, uint8_t value, uint32_t n) {
    uint8_t *d = static_cast<uint8_t *>(to);
    for (uint32_t i = 0; i < n; ++i) d[i] = value;
}

bool SameName(const char *a, const char *b, uint32_t limit) {
    for (uint32_t i = 0; i < limit; ++i) {
        char ca = a[i], cb = b[i];
        if (ca >= 'A' && ca <= 'Z') ca = char(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = char(cb - 'A' + 'a');
        if (ca != cb) return false;
        if (ca == 0) return true;
    }
    return false;  // unterminated
}

uint32_t Fnv1a(const uint8_t *p, uint32_t n) {
    uint32_t h = 2166136261u;
    for (uint32_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
    return h;
}

uint16_t ReadU16(const uint8_t *p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t ReadU32(const uint8_t *p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void WriteU16(uint8_t *p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

// ---------------------------------------------------------------------------
// Profiles: the scanners this driver can be.

enum : uint32_t { MAX_LENSES = 2, LENS_TABLES = 3, MAX_TABLE_BYTES = 2048, TONE_TABLES = 3 };

struct Profile {
    const char *name;
    DeviceInfo info;
    LensRecord lenses[LENS_TABLES][MAX_LENSES];
    TableFormat format;
    PortSettings port;  // settings reported at reset
};

constexpr LensRecord Lens(uint16_t id, uint16_t minRes, uint16_t maxRes, uint16_t native,
                          uint16_t nativeMono, uint16_t minSize, uint16_t areaWidth,
                          uint16_t areaHeight) {
    LensRecord r{};
    r.minResolution = minRes;
    r.lensId = id;
    r.maxResolution = maxRes;
    r.nativeResolution = native;
    r.nativeResolutionMono = nativeMono;
    r.minWidth = minSize;
    r.areaWidth = areaWidth;
    r.minHeight = minSize;
    r.areaHeight = areaHeight;
    return r;
}

constexpr DeviceInfo Info(uint16_t model, uint32_t options, uint8_t flags, uint16_t lensCount,
                          uint16_t word) {
    DeviceInfo d{};
    d.modelId = model;
    d.firmwareVersion = 0x0102;
    d.maxColorMode = SCM_COLOR;
    d.areaUnit = AREA_UNITS_PER_INCH;
    d.optionMask = options;
    d.deviceFlags = flags;
    d.bedWidth = 5100;   // 8.5 in
    d.bedHeight = 7020;  // 11.7 in
    d.lensCount = lensCount;
    d.descriptionWord = word;
    return d;
}

constexpr Profile PROFILES[] = {
    // A parallel-port flatbed answering at 0x278 in SPP. Lens table 1 is the
    // transparency adapter, table 2 the negative-film holder.
    {"flatbed",
     Info(0x0A31, 0x00000005, DIF_LENS_TABLE_1 | DIF_LENS_TABLE_2, 2, 0x0301),
     {{Lens(1, 50, 1200, 300, 600, 60, 5100, 7020), Lens(2, 100, 2400, 600, 1200, 30, 2550, 3510)},
      {Lens(3, 50, 1200, 300, 600, 60, 3000, 3600), Lens(4, 100, 2400, 600, 1200, 30, 3000, 3600)},
      {Lens(5, 100, 2400, 600, 1200, 30, 1500, 900), Lens(6, 100, 2400, 600, 1200, 30, 1500, 900)}},
     {255, 3, 1, 256, 3},
     {600, 0, 0x278, PORT_MODE_SPP, 0}},
    // A scanner on a scan-port card (portKind 16) at 0x2A0, with 10-bit
    // word tables, one lens and a transparency table.
    {"scanport",
     Info(0x0B10, 0x00000003, DIF_LENS_TABLE_1, 1, 0x0402),
     {{Lens(1, 75, 1600, 400, 400, 60, 5100, 7020), {}},
      {Lens(3, 75, 1600, 400, 400, 60, 3000, 3600), {}},
      {{}, {}}},
     {255, 3, 2, 1024, 3},
     {300, 0, 0x2A0, PORT_MODE_EPP, PORT_KIND_SCANPORT}},
};
constexpr uint32_t PROFILE_COUNT = sizeof(PROFILES) / sizeof(PROFILES[0]);

// ---------------------------------------------------------------------------
// The scanner's state: one per driver, so every process sees the same.

enum : uint32_t { MAX_FAULTS = 16 };

struct Scanner {
    const Profile *profile;
    bool buttonDown;
    bool lampOn;
    uint32_t lampOffSeconds;
    uint32_t lampLastUseMs;
    PortSettings port;
    uint16_t answerAddress, answerMode;
    uint16_t ownerId, lastOwnerId;
    uint16_t currentLens;
    uint16_t toneLayout;
    uint8_t toneTables[TONE_TABLES][MAX_TABLE_BYTES];
    uint8_t pattern[HALFTONE_PATTERN_BYTES];
    bool paramsValid;
    ScanParams params;
    bool scanning;
    ScanLayout layout;
    uint32_t linesDelivered;
    VscFault faults[MAX_FAULTS];
    uint32_t logStart, logCount, logSequence, logDropped;
    VscLogEntry log[VSC_LOG_CAPACITY];
};

Scanner scanner;

uint32_t BytesPerTable() {
    const TableFormat &f = scanner.profile->format;
    return uint32_t(f.entriesPerTable) * f.bytesPerEntry;
}

void IdentityTables() {
    const TableFormat &f = scanner.profile->format;
    for (uint32_t t = 0; t < TONE_TABLES; ++t) {
        for (uint32_t i = 0; i < f.entriesPerTable; ++i) {
            uint32_t v = i * (uint32_t(f.maxValue) + 1) / f.entriesPerTable;
            if (f.bytesPerEntry == 1)
                scanner.toneTables[t][i] = uint8_t(v);
            else
                WriteU16(&scanner.toneTables[t][2 * i], uint16_t(v));
        }
    }
    scanner.toneLayout = TL_ONE_TABLE;
}

void SelectProfile(const Profile *profile) {
    scanner.profile = profile;
    scanner.port = profile->port;
    scanner.lampOffSeconds = profile->port.lampOffSeconds;
    scanner.answerAddress = profile->port.portAddress;
    scanner.answerMode = profile->port.portMode;
    scanner.currentLens = 0;
    scanner.paramsValid = false;
    scanner.scanning = false;
    IdentityTables();
    for (uint32_t i = 0; i < HALFTONE_PATTERN_BYTES; ++i) scanner.pattern[i] = 0x80;
}

// ---------------------------------------------------------------------------
// Lamp: on while used; switches itself off after lampOffSeconds idle.

void UpdateLamp(uint32_t nowMs) {
    if (scanner.lampOn && scanner.lampOffSeconds != 0 && !scanner.scanning &&
        nowMs - scanner.lampLastUseMs >= scanner.lampOffSeconds * 1000u)
        scanner.lampOn = false;
}

void UseLamp(uint32_t nowMs) {
    scanner.lampOn = true;
    scanner.lampLastUseMs = nowMs;
}

// ---------------------------------------------------------------------------
// Log and faults.

VscLogEntry *AddLog(uint32_t code, const ModelBuffers &b) {
    uint32_t slot;
    if (scanner.logCount < VSC_LOG_CAPACITY) {
        slot = (scanner.logStart + scanner.logCount) % VSC_LOG_CAPACITY;
        ++scanner.logCount;
    } else {
        slot = scanner.logStart;
        scanner.logStart = (scanner.logStart + 1) % VSC_LOG_CAPACITY;
        ++scanner.logDropped;
    }
    VscLogEntry *e = &scanner.log[slot];
    FillBytes(e, 0, sizeof(*e));
    e->sequence = scanner.logSequence++;
    e->code = code;
    e->inputLength = b.inputLength;
    e->outputLength = b.outputLength;
    e->dataLength = b.inputLength < VSC_LOG_DATA_BYTES ? b.inputLength : VSC_LOG_DATA_BYTES;
    if (b.input && e->dataLength) CopyBytes(e->data, b.input, e->dataLength);
    return e;
}

// A matching armed fault rule, consumed by one request; null when none.
VscFault *TakeFault(uint32_t kind, uint32_t code) {
    for (uint32_t i = 0; i < MAX_FAULTS; ++i) {
        VscFault &f = scanner.faults[i];
        if (f.count == 0 || f.kind != kind) continue;
        if (kind == VSC_FAULT_FAIL && f.code != code) continue;
        --f.count;
        return &f;
    }
    return nullptr;
}

uint32_t ArmedFaults() {
    uint32_t n = 0;
    for (uint32_t i = 0; i < MAX_FAULTS; ++i)
        if (scanner.faults[i].count) ++n;
    return n;
}

// ---------------------------------------------------------------------------
// The test chart, in bed coordinates of 4800 per inch.

constexpr uint32_t IN = CHART_UNITS_PER_INCH;
constexpr uint8_t PAPER = 250, INK = 15;

void SetGray(uint8_t rgb[3], uint8_t g) { rgb[0] = rgb[1] = rgb[2] = g; }

const uint8_t BAR_COLORS[8][3] = {
    {250, 250, 250}, {250, 230, 20}, {20, 200, 230}, {30, 180, 60},
    {220, 40, 160},  {220, 30, 30},  {30, 50, 200},  {15, 15, 15},
};

// Line pitches of the fine-line groups: 10, 25, 50, 100, 200 and 300 per inch.
const uint32_t LINE_PITCH[6] = {IN / 10, IN / 25, IN / 50, IN / 100, IN / 200, IN / 300};

}  // namespace

void ChartColor(uint32_t x, uint32_t y, uint8_t rgb[3]) {
    SetGray(rgb, PAPER);
    const uint32_t left = IN / 2, right = 8 * IN;  // content spans 0.5 in to 8 in
    if (x < left || x >= right) return;
    const uint32_t span = right - left, dx = x - left;

    if (y >= 2 * IN / 5 && y < IN) {  // continuous gray ramp, black to white
        SetGray(rgb, uint8_t(dx * 256 / span));
    } else if (y >= IN && y < 8 * IN / 5) {  // 16-step wedge
        uint32_t step = dx * 16 / span;
        SetGray(rgb, uint8_t(step * 255 / 15));
    } else if (y >= 19 * IN / 10 && y < 33 * IN / 10) {  // colour bars
        const uint8_t *c = BAR_COLORS[dx * 8 / span];
        rgb[0] = c[0];
        rgb[1] = c[1];
        rgb[2] = c[2];
    } else if (y >= 36 * IN / 10 && y < 50 * IN / 10) {  // fine lines
        uint32_t group = dx * 6 / span;
        uint32_t p = LINE_PITCH[group];
        uint32_t groupStart = left + group * span / 6;
        uint32_t inGroup = x - groupStart;
        if (inGroup < IN / 10 || inGroup > span / 6 - IN / 10) return;  // gaps between groups
        uint32_t pos = y < 44 * IN / 10 ? x : y;  // vertical lines above, horizontal below
        if (pos % p < p / 2) SetGray(rgb, INK);
    } else if (y >= 54 * IN / 10 && y < 112 * IN / 10) {  // printed halftone picture
        // Tone: a shaded disc; the screen: round dots at 45 degrees, ~85 lpi.
        const int32_t cx = int32_t(425 * IN / 100), cy = int32_t(83 * IN / 10);
        int32_t ddx = int32_t(x) - cx, ddy = int32_t(y) - cy;
        uint32_t r2 = uint32_t(ddx * ddx) + uint32_t(ddy * ddy);
        uint32_t tone = r2 / 813176u;  // 0 at the centre, 255 at ~3 in
        if (tone > 255) tone = 255;
        tone = 255 - tone;
        if (x > 2 * IN && x < 65 * IN / 10) tone = tone * 3 / 4 + 16;  // keep the middle grey-ish
        const uint32_t P = 80;
        uint32_t u = x + y, v = x + 80000u - y;
        int32_t cu = int32_t(u % P) - int32_t(P / 2), cv = int32_t(v % P) - int32_t(P / 2);
        uint32_t d2 = uint32_t(cu * cu + cv * cv);
        if (d2 * 804u < tone * P * P) {
            if (x < 425 * IN / 100) {
                SetGray(rgb, INK);
            } else {  // the right half is printed in blue ink
                rgb[0] = 30;
                rgb[1] = 60;
                rgb[2] = 170;
            }
        }
    }
}

namespace {

// ---------------------------------------------------------------------------
// Scan engine.

const LensRecord *LensFor(uint32_t flags, uint16_t lens) {
    const Profile &p = *scanner.profile;
    if (lens >= p.info.lensCount || lens >= MAX_LENSES) return nullptr;
    uint32_t table = 0;
    if (flags & SPF_LENS_TABLE_1) {
        if (!(p.info.deviceFlags & DIF_LENS_TABLE_1)) return nullptr;
        table = 1;
    } else if (flags & SPF_LENS_TABLE_2) {
        if (!(p.info.deviceFlags & DIF_LENS_TABLE_2)) return nullptr;
        table = 2;
    }
    return &p.lenses[table][lens];
}

uint32_t ToneValue(uint32_t table, uint8_t level) {
    const TableFormat &f = scanner.profile->format;
    uint32_t e = f.entriesPerTable;
    uint32_t index = e <= 1 ? 0 : (uint32_t(level) * (e - 1) + 127) / 255;
    uint32_t v = f.bytesPerEntry == 1 ? scanner.toneTables[table][index]
                                      : ReadU16(&scanner.toneTables[table][2 * index]);
    if (f.maxValue > 255 && f.maxValue != 0) v = v * 255 / f.maxValue;
    return v > 255 ? 255 : v;
}

// One image line (row of the image, top first) in the scan's format.
void RenderLine(uint32_t row, uint8_t *out) {
    const ScanLayout &l = scanner.layout;
    const uint32_t xr = l.xResolution, yr = l.yResolution;
    const uint32_t y = uint32_t(l.top) * 8 + (2 * row + 1) * IN / (2 * yr);
    const bool negative = (l.flags & SPF_LENS_TABLE_2) != 0;  // film holder: a negative
    const bool three = scanner.toneLayout == TL_THREE_TABLES;
    if (l.colorMode <= SCM_HALFTONE) FillBytes(out, 0, l.bytesPerLine);
    for (uint32_t i = 0; i < l.pixelsPerLine; ++i) {
        const uint32_t x = uint32_t(l.left) * 8 + (2 * i + 1) * IN / (2 * xr);
        uint8_t rgb[3];
        ChartColor(x, y, rgb);
        if (negative) {
            rgb[0] = uint8_t(255 - rgb[0]);
            rgb[1] = uint8_t(255 - rgb[1]);
            rgb[2] = uint8_t(255 - rgb[2]);
        }
        if (l.colorMode == SCM_COLOR) {
            for (uint32_t c = 0; c < 3; ++c) out[3 * i + c] = uint8_t(ToneValue(three ? c : 0, rgb[c]));
            continue;
        }
        uint8_t gray = uint8_t((77u * rgb[0] + 150u * rgb[1] + 29u * rgb[2]) >> 8);
        uint32_t v = ToneValue(0, gray);
        if (l.colorMode == SCM_GRAY) {
            out[i] = uint8_t(v);
            continue;
        }
        uint32_t threshold = 0x80;
        if (l.colorMode == SCM_HALFTONE) {
            threshold = scanner.pattern[(row % 8) * 8 + i % 8];
            if (l.flags & SPF_INVERT_PATTERN) threshold = 255 - threshold;
        }
        if (v >= threshold) out[i / 8] |= uint8_t(0x80 >> (i % 8));
    }
}

}  // namespace

bool ComputeLayout(const ScanLayout &request, ScanLayout *layout) {
    const Profile &p = *scanner.profile;
    if (request.colorMode > p.info.maxColorMode) return false;
    const LensRecord *lens = LensFor(request.flags, request.lens);
    if (!lens) return false;
    if (request.xResolution < lens->minResolution || request.xResolution > lens->maxResolution ||
        request.yResolution < lens->minResolution || request.yResolution > lens->maxResolution)
        return false;
    if (request.width < lens->minWidth || request.height < lens->minHeight) return false;
    if (uint32_t(request.left) + request.width > lens->areaWidth ||
        uint32_t(request.top) + request.height > lens->areaHeight)
        return false;
    if (request.option != 0 && !(p.info.optionMask & (1u << ((request.option - 1) % 32)))) return false;
    *layout = request;
    layout->pixelsPerLine = uint32_t(request.width) * request.xResolution / p.info.areaUnit;
    layout->lineCount = uint32_t(request.height) * request.yResolution / p.info.areaUnit;
    if (layout->pixelsPerLine == 0 || layout->lineCount == 0) return false;
    switch (request.colorMode) {
    case SCM_LINEART:
    case SCM_HALFTONE:
        layout->bitsPerPixel = 1;
        layout->bytesPerLine = (layout->pixelsPerLine + 7) / 8;
        break;
    case SCM_GRAY:
        layout->bitsPerPixel = 8;
        layout->bytesPerLine = layout->pixelsPerLine;
        break;
    default:
        layout->bitsPerPixel = 24;
        layout->bytesPerLine = 3 * layout->pixelsPerLine;
        break;
    }
    layout->reserved14 = 0;
    layout->imageBytes = layout->bytesPerLine * layout->lineCount;
    return true;
}

uint32_t ModelProfileCount() { return PROFILE_COUNT; }
const char *ModelProfileName(uint32_t index) {
    return index < PROFILE_COUNT ? PROFILES[index].name : nullptr;
}

void ModelReset() {
    FillBytes(&scanner, 0, sizeof(scanner));
    scanner.lastOwnerId = 0x0A00;
    SelectProfile(&PROFILES[0]);
}

namespace {

ScanLayout LayoutFromParams(const ScanParams &p) {
    ScanLayout l{};
    CopyBytes(&l.flags, &p.flags, SCAN_SETTINGS_BYTES);
    return l;
}

uint32_t NextOwnerId() {
    uint16_t id = uint16_t(scanner.lastOwnerId * 5 + 0x3B1);
    if (id == 0 || id == scanner.lastOwnerId) id = 0x0A01;
    scanner.lastOwnerId = id;
    return id;
}

uint32_t PortService(const ModelBuffers &b, uint32_t nowMs, uint32_t *info) {
    if (b.inputLength < sizeof(uint16_t) + 12) return VS_STATUS_BUFFER_TOO_SMALL;
    const uint16_t sub = ReadU16(b.input);
    const uint8_t *payload = b.input + 2;
    switch (sub) {
    case 0: {  // settings
        if (b.outputLength < sizeof(PortSettings)) return VS_STATUS_BUFFER_TOO_SMALL;
        PortSettings s = scanner.port;
        s.lampOffSeconds = scanner.lampOffSeconds;
        s.lampState = scanner.lampOn ? 1 : 0;
        CopyBytes(b.output, &s, sizeof(s));
        *info = sizeof(s);
        return VS_STATUS_SUCCESS;
    }
    case 1:
        UseLamp(nowMs);
        return VS_STATUS_SUCCESS;
    case 2:
        scanner.lampOn = false;
        return VS_STATUS_SUCCESS;
    case 3:
        scanner.lampOffSeconds = ReadU32(payload);
        scanner.lampLastUseMs = nowMs;
        return VS_STATUS_SUCCESS;
    case 4: {  // does the scanner answer at this address and mode?
        if (b.outputLength < sizeof(PortTest)) return VS_STATUS_BUFFER_TOO_SMALL;
        const uint16_t address = ReadU16(payload), mode = ReadU16(payload + 2);
        const bool card = scanner.port.portKind == PORT_KIND_SCANPORT;
        if (scanner.answerAddress == PORT_ADDRESS_UNDEFINED || address != scanner.answerAddress ||
            (!card && mode != scanner.answerMode))
            return VS_STATUS_DEVICE_NOT_CONNECTED;
        PortTest answer{scanner.answerAddress, scanner.answerMode};
        scanner.port.portAddress = answer.address;
        scanner.port.portMode = answer.mode;
        CopyBytes(b.output, &answer, sizeof(answer));
        *info = sizeof(answer);
        return VS_STATUS_SUCCESS;
    }
    default:
        return VS_STATUS_INVALID_PARAMETER;
    }
}

uint32_t ScannerRequest(uint32_t code, const ModelBuffers &b, uint32_t nowMs, uint32_t *info,
                        VscLogEntry *log) {
    const Profile &p = *scanner.profile;
    switch (code) {
    case IOCTL_SCANNER_GET_DEVICE_INFO:
        if (b.outputLength < sizeof(DeviceInfo)) return VS_STATUS_BUFFER_TOO_SMALL;
        CopyBytes(b.output, &p.info, sizeof(DeviceInfo));
        *info = sizeof(DeviceInfo);
        return VS_STATUS_SUCCESS;
    case IOCTL_SCANNER_GET_LENS_RECORD: {
        if (b.inputLength < sizeof(LensRequest) || b.outputLength < sizeof(LensRecord))
            return VS_STATUS_BUFFER_TOO_SMALL;
        const uint16_t lens = ReadU16(b.input), table = ReadU16(b.input + 2);
        const uint32_t flags = table == 1 ? uint32_t(SPF_LENS_TABLE_1) : table == 2 ? uint32_t(SPF_LENS_TABLE_2) : 0u;
        const LensRecord *r = table > 2 ? nullptr : LensFor(flags, lens);
        if (!r) return VS_STATUS_INVALID_PARAMETER;
        CopyBytes(b.output, r, sizeof(LensRecord));
        *info = sizeof(LensRecord);
        return VS_STATUS_SUCCESS;
    }
    case IOCTL_SCANNER_GET_TABLE_FORMAT:
        if (b.outputLength < sizeof(TableFormat)) return VS_STATUS_BUFFER_TOO_SMALL;
        CopyBytes(b.output, &p.format, sizeof(TableFormat));
        *info = sizeof(TableFormat);
        return VS_STATUS_SUCCESS;
    case IOCTL_SCANNER_SET_TONE_TABLES: {
        const uint32_t bytes = TONE_TABLES * BytesPerTable();
        if (b.inputLength < 2 || b.outputLength < bytes) return VS_STATUS_BUFFER_TOO_SMALL;
        const uint16_t layout = ReadU16(b.input);
        if (layout > TL_THREE_TABLES) return VS_STATUS_INVALID_PARAMETER;
        for (uint32_t t = 0; t < TONE_TABLES; ++t)
            CopyBytes(scanner.toneTables[t], b.output + t * BytesPerTable(), BytesPerTable());
        scanner.toneLayout = layout;
        log->dataHash = Fnv1a(b.output, bytes);
        return VS_STATUS_SUCCESS;
    }
    case IOCTL_SCANNER_GET_SCAN_LAYOUT: {
        if (b.inputLength < sizeof(ScanLayout) || b.outputLength < sizeof(ScanLayout))
            return VS_STATUS_BUFFER_TOO_SMALL;
        ScanLayout request, layout;
        CopyBytes(&request, b.input, sizeof(request));
        if (!ComputeLayout(request, &layout)) return VS_STATUS_INVALID_PARAMETER;
        CopyBytes(b.output, &layout, sizeof(layout));
        *info = sizeof(layout);
        return VS_STATUS_SUCCESS;
    }
    case IOCTL_SCANNER_POLL_BUTTON:
        return scanner.buttonDown ? VS_STATUS_SUCCESS : VS_STATUS_UNSUCCESSFUL;
    case IOCTL_SCANNER_ACTION_1:  // calibrate
    case IOCTL_SCANNER_ACTION_2:  // carriage home
    case IOCTL_SCANNER_ACTION_3:  // carriage park
        return VS_STATUS_SUCCESS;
    case IOCTL_SCANNER_ACTION_4:  // lamp warm-up
        UseLamp(nowMs);
        return VS_STATUS_SUCCESS;
    case IOCTL_SCANNER_ACQUIRE: {
        if (b.outputLength < sizeof(uint16_t)) return VS_STATUS_BUFFER_TOO_SMALL;
        scanner.ownerId = uint16_t(NextOwnerId());
        WriteU16(b.output, scanner.ownerId);
        *info = sizeof(uint16_t);
        return VS_STATUS_SUCCESS;
    }
    case IOCTL_SCANNER_SET_PARAMS: {
        if (b.inputLength < sizeof(ScanParams) || b.outputLength < sizeof(ScanParams))
            return VS_STATUS_BUFFER_TOO_SMALL;
        ScanParams params;
        CopyBytes(&params, b.input, sizeof(params));
        ScanLayout layout;
        if (!ComputeLayout(LayoutFromParams(params), &layout)) {
            scanner.paramsValid = false;
            return VS_STATUS_INVALID_PARAMETER;
        }
        scanner.params = params;
        scanner.paramsValid = true;
        CopyBytes(b.output, &params, sizeof(params));
        *info = sizeof(params);
        return VS_STATUS_SUCCESS;
    }
    case IOCTL_SCANNER_START: {
        if (b.outputLength < sizeof(ScanStartInfo)) return VS_STATUS_BUFFER_TOO_SMALL;
        if (!scanner.paramsValid) return VS_STATUS_INVALID_DEVICE_STATE;
        ComputeLayout(LayoutFromParams(scanner.params), &scanner.layout);
        scanner.scanning = true;
        scanner.linesDelivered = 0;
        UseLamp(nowMs);
        ScanStartInfo start{scanner.layout.bytesPerLine, scanner.layout.lineCount};
        CopyBytes(b.output, &start, sizeof(start));
        *info = sizeof(start);
        return VS_STATUS_SUCCESS;
    }
    case IOCTL_SCANNER_STOP:
        if (scanner.scanning) scanner.lampLastUseMs = nowMs;
        scanner.scanning = false;
        return VS_STATUS_SUCCESS;
    case IOCTL_SCANNER_RELEASE:
        if (scanner.scanning) scanner.lampLastUseMs = nowMs;
        scanner.scanning = false;
        scanner.ownerId = 0;
        return VS_STATUS_SUCCESS;
    case IOCTL_SCANNER_PORT_SERVICE:
        return PortService(b, nowMs, info);
    case IOCTL_SCANNER_SET_HALFTONE:
        if (b.inputLength < HALFTONE_PATTERN_BYTES) return VS_STATUS_BUFFER_TOO_SMALL;
        CopyBytes(scanner.pattern, b.input, HALFTONE_PATTERN_BYTES);
        return VS_STATUS_SUCCESS;
    case IOCTL_SCANNER_SELECT_LENS: {
        if (b.inputLength < sizeof(uint16_t)) return VS_STATUS_BUFFER_TOO_SMALL;
        const uint16_t lens = ReadU16(b.input);
        if (lens >= p.info.lensCount) return VS_STATUS_INVALID_PARAMETER;
        scanner.currentLens = lens;
        return VS_STATUS_SUCCESS;
    }
    case IOCTL_SCANNER_GET_CURRENT_LENS:
        if (b.outputLength < sizeof(uint16_t)) return VS_STATUS_BUFFER_TOO_SMALL;
        WriteU16(b.output, scanner.currentLens);
        *info = sizeof(uint16_t);
        return VS_STATUS_SUCCESS;
    default:
        return VS_STATUS_INVALID_DEVICE_REQUEST;
    }
}

void FillStatus(VscStatus *s, uint32_t nowMs) {
    FillBytes(s, 0, sizeof(*s));
    const char *name = scanner.profile->name;
    for (uint32_t i = 0; i + 1 < VSC_NAME_CHARS && name[i]; ++i) s->profile[i] = name[i];
    s->ownerId = scanner.ownerId;
    s->buttonDown = scanner.buttonDown;
    s->lampOn = scanner.lampOn;
    s->scanning = scanner.scanning;
    s->lampOffSeconds = scanner.lampOffSeconds;
    if (scanner.lampOn && scanner.lampOffSeconds && !scanner.scanning) {
        uint32_t used = (nowMs - scanner.lampLastUseMs) / 1000;
        s->lampSecondsLeft = used < scanner.lampOffSeconds ? scanner.lampOffSeconds - used : 0;
    }
    s->portAddress = scanner.port.portAddress;
    s->portMode = scanner.port.portMode;
    s->portKind = scanner.port.portKind;
    s->answerAddress = scanner.answerAddress;
    s->answerMode = scanner.answerMode;
    s->currentLens = scanner.currentLens;
    if (scanner.scanning) {
        s->linesLeft = scanner.layout.lineCount - scanner.linesDelivered;
        s->bytesPerLine = scanner.layout.bytesPerLine;
    }
    s->logCount = scanner.logCount;
    s->logDropped = scanner.logDropped;
    s->faultCount = ArmedFaults();
}

uint32_t ControlRequest(uint32_t code, const ModelBuffers &b, uint32_t nowMs, uint32_t *info) {
    switch (code) {
    case VSC_GET_STATUS:
        if (b.outputLength < sizeof(VscStatus)) return VS_STATUS_BUFFER_TOO_SMALL;
        FillStatus(reinterpret_cast<VscStatus *>(b.output), nowMs);
        *info = sizeof(VscStatus);
        return VS_STATUS_SUCCESS;
    case VSC_RESET:
        ModelReset();
        return VS_STATUS_SUCCESS;
    case VSC_SET_PROFILE:
        if (b.inputLength < 1) return VS_STATUS_BUFFER_TOO_SMALL;
        for (uint32_t i = 0; i < PROFILE_COUNT; ++i) {
            char name[VSC_NAME_CHARS + 1] = {};
            CopyBytes(name, b.input, b.inputLength < VSC_NAME_CHARS ? b.inputLength : VSC_NAME_CHARS);
            if (SameName(name, PROFILES[i].name, VSC_NAME_CHARS + 1)) {
                SelectProfile(&PROFILES[i]);
                return VS_STATUS_SUCCESS;
            }
        }
        return VS_STATUS_INVALID_PARAMETER;
    case VSC_SET_BUTTON:
        if (b.inputLength < sizeof(uint32_t)) return VS_STATUS_BUFFER_TOO_SMALL;
        scanner.buttonDown = ReadU32(b.input) != 0;
        return VS_STATUS_SUCCESS;
    case VSC_SET_PORT: {
        if (b.inputLength < sizeof(VscPort)) return VS_STATUS_BUFFER_TOO_SMALL;
        VscPort port;
        CopyBytes(&port, b.input, sizeof(port));
        if (port.address != PORT_ADDRESS_UNDEFINED && port.mode > PORT_MODE_SPP)
            return VS_STATUS_INVALID_PARAMETER;
        scanner.answerAddress = port.address;
        scanner.answerMode = port.address == PORT_ADDRESS_UNDEFINED ? 0 : port.mode;
        scanner.port.portAddress = port.address;
        scanner.port.portMode = scanner.answerMode;
        return VS_STATUS_SUCCESS;
    }
    case VSC_SET_LAMP: {
        if (b.inputLength < sizeof(VscLamp)) return VS_STATUS_BUFFER_TOO_SMALL;
        VscLamp lamp;
        CopyBytes(&lamp, b.input, sizeof(lamp));
        if (lamp.setOffSeconds) scanner.lampOffSeconds = lamp.offSeconds;
        if (lamp.setOn) {
            if (lamp.lampOn)
                UseLamp(nowMs);
            else
                scanner.lampOn = false;
        }
        return VS_STATUS_SUCCESS;
    }
    case VSC_ADD_FAULT: {
        if (b.inputLength < sizeof(VscFault)) return VS_STATUS_BUFFER_TOO_SMALL;
        VscFault fault;
        CopyBytes(&fault, b.input, sizeof(fault));
        if (fault.kind < VSC_FAULT_FAIL || fault.kind > VSC_FAULT_ZERO || fault.count == 0)
            return VS_STATUS_INVALID_PARAMETER;
        if (fault.kind == VSC_FAULT_SHORT && fault.lines == 0) return VS_STATUS_INVALID_PARAMETER;
        if (fault.kind == VSC_FAULT_FAIL && fault.status == 0) return VS_STATUS_INVALID_PARAMETER;
        for (uint32_t i = 0; i < MAX_FAULTS; ++i) {
            if (scanner.faults[i].count == 0) {
                scanner.faults[i] = fault;
                return VS_STATUS_SUCCESS;
            }
        }
        return VS_STATUS_DEVICE_BUSY;
    }
    case VSC_CLEAR_FAULTS:
        FillBytes(scanner.faults, 0, sizeof(scanner.faults));
        return VS_STATUS_SUCCESS;
    case VSC_GET_LOG: {
        if (b.inputLength < sizeof(uint32_t)) return VS_STATUS_BUFFER_TOO_SMALL;
        const uint32_t first = ReadU32(b.input);
        const uint32_t room = b.outputLength / sizeof(VscLogEntry);
        uint32_t n = 0;
        for (uint32_t i = first; i < scanner.logCount && n < room; ++i, ++n)
            CopyBytes(b.output + n * sizeof(VscLogEntry),
                      &scanner.log[(scanner.logStart + i) % VSC_LOG_CAPACITY], sizeof(VscLogEntry));
        *info = n * sizeof(VscLogEntry);
        return VS_STATUS_SUCCESS;
    }
    case VSC_CLEAR_LOG:
        scanner.logStart = scanner.logCount = scanner.logSequence = scanner.logDropped = 0;
        return VS_STATUS_SUCCESS;
    default:
        return VS_STATUS_INVALID_DEVICE_REQUEST;
    }
}

bool IsControlCode(uint32_t code) { return code >= VSC_CODE(0) && code <= VSC_CODE(0xFF); }

}  // namespace

uint32_t ModelDeviceControl(uint32_t code, const ModelBuffers *request, uint32_t nowMs,
                            uint32_t *information) {
    const ModelBuffers &buffers = *request;
    *information = 0;
    if (!scanner.profile) ModelReset();
    // Null buffers with a length are refused rather than followed.
    if ((buffers.inputLength && !buffers.input) || (buffers.outputLength && !buffers.output))
        return VS_STATUS_INVALID_PARAMETER;
    UpdateLamp(nowMs);
    if (IsControlCode(code)) return ControlRequest(code, buffers, nowMs, information);

    VscLogEntry *log = AddLog(code, buffers);
    uint32_t status;
    if (VscFault *fault = TakeFault(VSC_FAULT_FAIL, code))
        status = fault->status;
    else
        status = ScannerRequest(code, buffers, nowMs, information, log);
    if (status != VS_STATUS_SUCCESS) *information = 0;
    log->status = status;
    log->information = *information;
    return status;
}

uint32_t ModelRead(uint8_t *output, uint32_t length, uint32_t nowMs, uint32_t *information) {
    *information = 0;
    if (!scanner.profile) ModelReset();
    if (length && !output) return VS_STATUS_INVALID_PARAMETER;
    UpdateLamp(nowMs);
    ModelBuffers b{nullptr, 0, output, length};
    VscLogEntry *log = AddLog(VSC_READ_CODE, b);
    uint32_t status = VS_STATUS_SUCCESS;
    const ScanLayout &l = scanner.layout;
    if (VscFault *fault = TakeFault(VSC_FAULT_FAIL, VSC_READ_CODE)) {
        status = fault->status;
    } else if (!scanner.scanning) {
        status = VS_STATUS_INVALID_DEVICE_STATE;
    } else if (scanner.linesDelivered < l.lineCount) {
        uint32_t lines = length / l.bytesPerLine;
        const uint32_t left = l.lineCount - scanner.linesDelivered;
        if (lines > left) lines = left;
        if (lines == 0) {
            status = VS_STATUS_BUFFER_TOO_SMALL;
        } else if (TakeFault(VSC_FAULT_ZERO, 0)) {
            lines = 0;
        } else {
            if (VscFault *fault = TakeFault(VSC_FAULT_SHORT, 0))
                if (lines > fault->lines) lines = fault->lines;
            for (uint32_t k = 0; k < lines; ++k) {
                uint32_t n = scanner.linesDelivered + k;
                uint32_t row = (l.flags & SPF_BOTTOM_UP) ? l.lineCount - 1 - n : n;
                RenderLine(row, output + k * l.bytesPerLine);
            }
            scanner.linesDelivered += lines;
            *information = lines * l.bytesPerLine;
        }
        UseLamp(nowMs);
    }
    log->status = status;
    log->information = *information;
    return status;
}
