// The client's scan sequence through ScannerCommander: parameters, start,
// reads until the end of data, stop; direct scans and scans stretched by
// the library, checked against the scanner's native lines and the request
// log, and the spool file's life.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "devcmd_client.h"
#include "rescale.h"
#include "scanner_records.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<Bytes>;

// NTSTATUS values for the virtual scanner's faults.
const uint32_t kStatusIoDeviceError = 0xC0000185;  // ERROR_IO_DEVICE 1117

std::string SpoolPath() {
    char temp[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof temp, temp);
    std::string path(temp, n);
    if (!path.empty() && path.back() != '\\') path += '\\';
    return path + "ORVSPOOL.TMP";
}

bool SpoolExists() { return GetFileAttributesA(SpoolPath().c_str()) != INVALID_FILE_ATTRIBUTES; }

// A small area of the printed halftone picture, where the ink changes from
// black to blue and no two lines are alike: 1 x 0.5 inch.
ScanParams Params(uint16_t mode, uint16_t xRes, uint16_t yRes, uint32_t flags = 0) {
    ScanParams p;
    memset(&p, 0, sizeof p);
    p.flags = flags;
    p.left = 2400;
    p.top = 3600;
    p.width = 600;
    p.height = 300;
    p.xResolution = xRes;
    p.yResolution = yRes;
    p.colorMode = mode;
    p.toneLayout = TL_DEFAULT_ADJUSTED;
    return p;
}

struct Read {
    int16_t status;
    uint32_t count;
};

class Scan : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteFileA(SpoolPath().c_str());
        scanner = VscOpen();
        ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
        ASSERT_EQ(VscReset(scanner), 0u);
        ASSERT_TRUE(LoadDevcmd(&lib)) << DevcmdPath();
        CommandBlock open = Block(SC_OPEN);
        Send(lib, &open);
        CommandBlock acquire = Block(SC_ACQUIRE);
        ASSERT_EQ(Send(lib, &acquire), SCS_OK);
        owner = acquire.ownerId;
        VscClearLog(scanner);
    }
    void TearDown() override {
        CommandBlock release = Command(SC_RELEASE);
        Send(lib, &release);
        CommandBlock close = Block(SC_CLOSE);
        Send(lib, &close);
        FreeDevcmd(&lib);
        EXPECT_FALSE(SpoolExists()) << "spool file left behind";
        DeleteFileA(SpoolPath().c_str());
        if (scanner != INVALID_HANDLE_VALUE) {
            VscReset(scanner);
            CloseHandle(scanner);
        }
    }

    CommandBlock Command(uint16_t command, void *buffer = nullptr) {
        CommandBlock b = Block(command, buffer);
        b.ownerId = owner;
        return b;
    }
    int16_t Run(uint16_t command, void *buffer = nullptr) {
        CommandBlock b = Command(command, buffer);
        return Send(lib, &b);
    }
    int16_t SetParams(ScanParams p) { return Run(SC_SET_SCAN_PARAMS, &p); }
    Read ReadInto(void *buffer, uint32_t size) {
        CommandBlock b = Command(SC_READ_LINES, buffer);
        b.bufferSize = size;
        b.count = 0xDEAD;
        Send(lib, &b);
        return {b.status, b.count};
    }
    ScanLayout Layout(const ScanParams &p) {
        ScanLayout layout;
        memset(&layout, 0, sizeof layout);
        memcpy(&layout.flags, &p.flags, SCAN_SETTINGS_BYTES);
        CommandBlock b = Block(SC_GET_SCAN_LAYOUT, &layout);
        EXPECT_EQ(Send(lib, &b), SCS_OK);
        return layout;
    }
    // A whole scan, `linesPerRead` lines a read, top-down into one image.
    Lines ScanAll(const ScanParams &p, uint32_t linesPerRead = 16) {
        ScanLayout layout = Layout(p);
        Lines lines;
        EXPECT_EQ(SetParams(p), SCS_OK);
        EXPECT_EQ(Run(SC_START_SCAN), SCS_OK);
        Bytes buffer((size_t)layout.bytesPerLine * linesPerRead);
        for (int guard = 0; guard < 100000; ++guard) {
            Read r = ReadInto(buffer.data(), (uint32_t)buffer.size());
            if (r.status == SCS_END_OF_DATA) {
                EXPECT_EQ(r.count, 0u);
                break;
            }
            EXPECT_TRUE(r.status == SCS_OK || r.status == SCS_PARTIAL) << r.status;
            if (r.status != SCS_OK && r.status != SCS_PARTIAL) break;
            for (uint32_t k = 0; k < r.count; ++k)
                lines.emplace_back(buffer.begin() + (size_t)k * layout.bytesPerLine,
                                   buffer.begin() + (size_t)(k + 1) * layout.bytesPerLine);
        }
        EXPECT_EQ(Run(SC_STOP_SCAN), SCS_OK);
        EXPECT_EQ(lines.size(), layout.lineCount);
        return lines;
    }
    std::vector<VscLogEntry> TakeLog() {
        std::vector<VscLogEntry> entries(VSC_LOG_CAPACITY);
        uint32_t count = 0;
        VscReadLog(scanner, 0, entries.data(), (uint32_t)entries.size(), &count);
        entries.resize(count);
        VscClearLog(scanner);
        return entries;
    }
    // The parameters the scanner last received.
    static bool SentParams(const std::vector<VscLogEntry> &log, ScanParams *p) {
        for (size_t i = log.size(); i-- > 0;)
            if (log[i].code == IOCTL_SCANNER_SET_PARAMS) {
                memcpy(p, log[i].data, sizeof *p);
                return true;
            }
        return false;
    }
    static std::vector<uint32_t> ControlCodes(const std::vector<VscLogEntry> &log) {
        std::vector<uint32_t> codes;
        for (const VscLogEntry &e : log)
            if (e.code != VSC_READ_CODE) codes.push_back(e.code);
        return codes;
    }
    void Fault(uint32_t kind, uint32_t count, uint32_t status = 0, uint32_t lines = 0) {
        VscFault f = {kind, VSC_READ_CODE, count, status, lines};
        ASSERT_EQ(VscAddFault(scanner, f), 0u);
    }

    HANDLE scanner = INVALID_HANDLE_VALUE;
    Devcmd lib;
    uint16_t owner = 0;
};

using Codes_ = std::vector<uint32_t>;

TEST_F(Scan, StateAndOwnershipRefusals) {
    CommandBlock read = Command(SC_READ_LINES);
    Bytes buffer(4096);
    read.buffer = buffer.data();
    read.bufferSize = 4096;
    read.count = 77;
    EXPECT_EQ(Send(lib, &read), SCS_WRONG_STATE);
    EXPECT_EQ(read.count, 0u);
    EXPECT_EQ(Run(SC_START_SCAN), SCS_WRONG_STATE);
    EXPECT_EQ(Run(SC_STOP_SCAN), SCS_WRONG_STATE);

    ASSERT_EQ(SetParams(Params(SCM_GRAY, 300, 300)), SCS_OK);
    EXPECT_EQ(ReadInto(buffer.data(), 4096).status, SCS_WRONG_STATE);
    EXPECT_EQ(Run(SC_STOP_SCAN), SCS_WRONG_STATE);

    // Another id is refused at every scan command, also while scanning.
    uint16_t other = (uint16_t)(owner + 1);
    ScanParams p = Params(SCM_GRAY, 300, 300);
    for (uint16_t command : {SC_SET_SCAN_PARAMS, SC_START_SCAN, SC_READ_LINES, SC_STOP_SCAN}) {
        CommandBlock b = Block(command, command == SC_SET_SCAN_PARAMS ? (void *)&p : (void *)buffer.data());
        b.ownerId = other;
        b.bufferSize = 4096;
        b.count = 5;
        EXPECT_EQ(Send(lib, &b), SCS_NOT_OWNER) << command;
        EXPECT_EQ(b.count, command == SC_READ_LINES ? 0u : 5u);
    }
    ASSERT_EQ(Run(SC_START_SCAN), SCS_OK);
    CommandBlock stranger = Block(SC_STOP_SCAN);
    stranger.ownerId = other;
    EXPECT_EQ(Send(lib, &stranger), SCS_NOT_OWNER);
    EXPECT_EQ(Run(SC_STOP_SCAN), SCS_OK);
    EXPECT_EQ(Run(SC_STOP_SCAN), SCS_WRONG_STATE);
    // Parameters stay set after a stop: a new start needs none.
    EXPECT_EQ(Run(SC_START_SCAN), SCS_OK);
    EXPECT_EQ(Run(SC_STOP_SCAN), SCS_OK);
}

TEST_F(Scan, EachParameterCheckRefusesWithoutReachingTheScanner) {
    uint8_t tables[3 * 256];
    for (int i = 0; i < 3 * 256; ++i) tables[i] = (uint8_t)i;
    struct Case {
        const char *what;
        ScanParams params;
    } cases[] = {
        {"lens equal to the lens count", [] { ScanParams p = Params(SCM_GRAY, 300, 300); p.lens = 2; return p; }()},
        {"colour mode above the highest", Params(4, 300, 300)},
        {"brightness 128", [] { ScanParams p = Params(SCM_GRAY, 300, 300); p.brightness = 128; return p; }()},
        {"contrast -128", [] { ScanParams p = Params(SCM_COLOR, 300, 300); p.contrast = -128; return p; }()},
        {"x resolution below the lens", Params(SCM_GRAY, 49, 300)},
        {"y resolution above the lens", Params(SCM_GRAY, 300, 1201)},
        {"area one past the bed", [] { ScanParams p = Params(SCM_GRAY, 300, 300); p.left = 5100 - 599; return p; }()},
        {"width below the lens's", [] { ScanParams p = Params(SCM_GRAY, 300, 300); p.width = 59; return p; }()},
        {"lens table 1 area", [] { ScanParams p = Params(SCM_GRAY, 300, 300, SPF_LENS_TABLE_1); p.top = 3400; return p; }()},
        {"own pattern without one", [] { ScanParams p = Params(SCM_HALFTONE, 300, 300); p.patternNumber = 4; return p; }()},
        {"pattern 5", [] { ScanParams p = Params(SCM_HALFTONE, 300, 300); p.patternNumber = 5; return p; }()},
        {"gray with option 2", [] { ScanParams p = Params(SCM_GRAY, 300, 300); p.option = 2; return p; }()},
        {"colour with option 2", [] { ScanParams p = Params(SCM_COLOR, 300, 300); p.option = 2; return p; }()},
        {"gray own table missing", [] { ScanParams p = Params(SCM_GRAY, 300, 300); p.toneLayout = TL_ONE_TABLE; return p; }()},
        {"colour: three tables without them",
         [] { ScanParams p = Params(SCM_COLOR, 300, 300); p.toneLayout = TL_THREE_TABLES; return p; }()},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(SetParams(Params(SCM_GRAY, 300, 300)), SCS_OK);
        TakeLog();
        EXPECT_EQ(SetParams(c.params), SCS_BAD_PARAMETER) << c.what;
        EXPECT_EQ(TakeLog().size(), 0u) << c.what << ": reached the scanner";
        // Refused parameters are not started from.
        EXPECT_EQ(Run(SC_START_SCAN), SCS_WRONG_STATE) << c.what;
    }
    // The same option passes in line-art mode, and an own table in colour.
    ScanParams lineArt = Params(SCM_LINEART, 300, 300);
    lineArt.option = 2;
    EXPECT_EQ(SetParams(lineArt), SCS_OK);
    ScanParams own = Params(SCM_COLOR, 300, 300);
    own.toneLayout = TL_THREE_TABLES;
    own.toneTable = (uint32_t)(uintptr_t)tables;
    EXPECT_EQ(SetParams(own), SCS_OK);
    // A lens change is sent once, with the parameters that pass.
    ScanParams second = Params(SCM_GRAY, 600, 600);
    second.lens = 1;
    second.left = 900;
    second.top = 1140;
    TakeLog();
    EXPECT_EQ(SetParams(second), SCS_OK);
    EXPECT_EQ(SetParams(second), SCS_OK);
    EXPECT_EQ(ControlCodes(TakeLog()), Codes_{IOCTL_SCANNER_SELECT_LENS});
}

// Every colour mode scanned directly: the requests in their order, the
// lines of the layout, and what each read reports.
TEST_F(Scan, DirectScanInEveryModeDeliversTheLayoutsLines) {
    for (uint16_t mode : {SCM_LINEART, SCM_HALFTONE, SCM_GRAY, SCM_COLOR}) {
        SCOPED_TRACE(mode);
        ScanParams p = Params(mode, 300, 200);
        ScanLayout layout = Layout(p);
        ASSERT_EQ(layout.lineCount, 100u);
        TakeLog();
        ASSERT_EQ(SetParams(p), SCS_OK);
        ASSERT_EQ(Run(SC_START_SCAN), SCS_OK);
        std::vector<uint32_t> expect;
        if (mode == SCM_HALFTONE) expect.push_back(IOCTL_SCANNER_SET_HALFTONE);
        expect.insert(expect.end(), {IOCTL_SCANNER_SET_TONE_TABLES, IOCTL_SCANNER_SET_PARAMS, IOCTL_SCANNER_START});
        EXPECT_EQ(ControlCodes(TakeLog()), expect);

        // Room for 10 lines, the scanner gives 7: partial.
        Bytes buffer(10 * (size_t)layout.bytesPerLine, 0x5A);
        Fault(VSC_FAULT_SHORT, 1, 0, 7);
        Read r = ReadInto(buffer.data(), (uint32_t)buffer.size());
        EXPECT_EQ(r.status, SCS_PARTIAL);
        EXPECT_EQ(r.count, 7u);
        uint32_t total = r.count;
        // Reads of 10 up to 90, then the last 3 lines with room for 10.
        while (total < 90) {
            r = ReadInto(buffer.data(), (uint32_t)buffer.size());
            ASSERT_EQ(r.status, SCS_OK);
            total += r.count;
        }
        EXPECT_EQ(total, 97u);
        memset(buffer.data(), 0x5A, buffer.size());
        r = ReadInto(buffer.data(), (uint32_t)buffer.size());
        EXPECT_EQ(r.status, SCS_OK);
        EXPECT_EQ(r.count, 3u);
        EXPECT_EQ(buffer[3 * layout.bytesPerLine], 0x5A) << "written past the lines delivered";
        r = ReadInto(buffer.data(), (uint32_t)buffer.size());
        EXPECT_EQ(r.status, SCS_END_OF_DATA);
        EXPECT_EQ(r.count, 0u);
        EXPECT_EQ(Run(SC_STOP_SCAN), SCS_OK);
        EXPECT_FALSE(SpoolExists()) << "a direct scan spools nothing";
    }
}

TEST_F(Scan, DirectReadFaultsAndSmallBuffers) {
    ScanParams p = Params(SCM_GRAY, 300, 200);
    ScanLayout layout = Layout(p);
    ASSERT_EQ(SetParams(p), SCS_OK);
    ASSERT_EQ(Run(SC_START_SCAN), SCS_OK);
    Bytes buffer(4 * (size_t)layout.bytesPerLine);
    // Room for less than one line: refused, nothing read.
    TakeLog();
    Read r = ReadInto(buffer.data(), layout.bytesPerLine - 1);
    EXPECT_EQ(r.status, SCS_BAD_PARAMETER);
    EXPECT_EQ(r.count, 0u);
    EXPECT_EQ(ReadInto(nullptr, 4096).status, SCS_BAD_PARAMETER);
    EXPECT_EQ(TakeLog().size(), 0u);
    // A failing read gives the system error; the scan goes on.
    Fault(VSC_FAULT_FAIL, 1, kStatusIoDeviceError);
    r = ReadInto(buffer.data(), (uint32_t)buffer.size());
    EXPECT_EQ(r.status, (int16_t)ERROR_IO_DEVICE);
    EXPECT_EQ(r.count, 0u);
    // No bytes while lines are due.
    Fault(VSC_FAULT_ZERO, 1);
    r = ReadInto(buffer.data(), (uint32_t)buffer.size());
    EXPECT_EQ(r.status, SCS_NO_DATA);
    EXPECT_EQ(r.count, 0u);
    uint32_t total = 0;
    for (int guard = 0; guard < 100; ++guard) {
        r = ReadInto(buffer.data(), (uint32_t)buffer.size());
        if (r.status == SCS_END_OF_DATA) break;
        ASSERT_EQ(r.status, SCS_OK);
        total += r.count;
    }
    EXPECT_EQ(total, layout.lineCount);
    EXPECT_EQ(Run(SC_STOP_SCAN), SCS_OK);
}

TEST_F(Scan, DirectBottomUpIsTheScannersOrder) {
    Lines down = ScanAll(Params(SCM_GRAY, 300, 200));
    Lines up = ScanAll(Params(SCM_GRAY, 300, 200, SPF_BOTTOM_UP));
    ASSERT_EQ(up.size(), down.size());
    for (size_t k = 0; k < up.size(); ++k) ASSERT_EQ(up[k], down[down.size() - 1 - k]) << k;
    ScanParams sent = {};
    ASSERT_TRUE(SentParams(TakeLog(), &sent));
    EXPECT_TRUE(sent.flags & SPF_BOTTOM_UP);
}

// ---------------------------------------------------------------------------
// Stretched scans: the library scans at the lens's native resolution and
// makes the requested lines itself.

struct Stretch {
    const char *what;
    uint16_t mode;
    uint16_t xRes, yRes;        // requested
    uint16_t nativeRes;         // what the scanner must be asked for, both ways
    uint32_t flags;
    uint16_t patternNumber;
    uint16_t top;  // 0: the picture
};

// Output line of a stretch from one native line, by the plain forms of the
// converters (the library runs the fast ones).
Bytes Converted(const Stretch &c, const ScanLayout &out, const ScanLayout &native, const Bytes &line,
                const uint8_t pattern[64], uint32_t *position) {
    Bytes o(out.bytesPerLine, 0);
    Bytes in = line;
    in.resize(in.size() + 8, 0);
    if (c.mode <= SCM_HALFTONE)
        ConvertToBitsPlain(o.data(), in.data(), out.pixelsPerLine, native.pixelsPerLine, c.xRes, c.nativeRes,
                           pattern, position);
    else if (c.mode == SCM_GRAY)
        ResampleGrayPlain(o.data(), in.data(), out.pixelsPerLine, native.pixelsPerLine);
    else
        ResampleRgbPlain(o.data(), in.data(), out.pixelsPerLine, native.pixelsPerLine);
    return o;
}

Bytes Average(const Bytes &a, const Bytes &b) {
    Bytes m = a;
    AverageLines(m.data(), b.data(), m.size());
    return m;
}

TEST_F(Scan, StretchedLinesAreTheConvertedNativeLines) {
    const Stretch cases[] = {
        {"gray, x only", SCM_GRAY, 1200, 600, 600, 0, 0, 0},
        {"gray, both ways", SCM_GRAY, 1200, 1200, 600, 0, 0, 0},
        {"gray, odd ratio", SCM_GRAY, 1000, 600, 600, 0, 0, 0},
        {"colour, both ways", SCM_COLOR, 600, 600, 300, 0, 0, 0},
        {"colour, odd ratio", SCM_COLOR, 451, 300, 300, 0, 0, 0},
        // Over the gray ramp, where native pixels of 127 and 128 lie.
        {"line art", SCM_LINEART, 1200, 600, 600, 0, 0, 300},
        {"line art, odd ratio", SCM_LINEART, 1100, 600, 600, 0, 0, 300},
        {"halftone, inverted pattern 2", SCM_HALFTONE, 1000, 600, 600, SPF_INVERT_PATTERN, 2, 0},
    };
    for (const Stretch &c : cases) {
        SCOPED_TRACE(c.what);
        // The native lines, scanned directly as the library must ask for them.
        ScanParams native = Params(c.mode <= SCM_HALFTONE ? (uint16_t)SCM_GRAY : c.mode, c.nativeRes, c.nativeRes);
        if (c.top) native.top = c.top;
        ScanLayout nativeLayout = Layout(native);
        Lines lines = ScanAll(native);
        if (c.mode == SCM_LINEART && c.xRes == 1200) {
            const Bytes &l = lines[0];
            ASSERT_TRUE(std::count(l.begin(), l.end(), 127) && std::count(l.begin(), l.end(), 128));
        }

        ScanParams p = Params(c.mode, c.xRes, c.yRes, c.flags);
        if (c.top) p.top = c.top;
        p.patternNumber = c.patternNumber;
        ScanLayout outLayout = Layout(p);
        TakeLog();
        Lines got = ScanAll(p, 7);
        std::vector<VscLogEntry> log = TakeLog();
        ScanParams sent = {};
        ASSERT_TRUE(SentParams(log, &sent));
        EXPECT_EQ(sent.xResolution, c.nativeRes);
        EXPECT_EQ(sent.yResolution, c.nativeRes);
        EXPECT_EQ(sent.colorMode, native.colorMode);
        EXPECT_FALSE(SpoolExists());
        ASSERT_EQ(got.size(), outLayout.lineCount);

        uint8_t pattern[64];
        if (c.mode == SCM_LINEART) {
            memset(pattern, 0x80, 64);
        } else {
            CommandBlock b = Block(SC_GET_HALFTONE_PATTERN, pattern);
            b.index = c.patternNumber;
            ASSERT_EQ(Send(lib, &b), SCS_OK);
            if (c.flags & SPF_INVERT_PATTERN)
                for (uint8_t &t : pattern) t = (uint8_t)~t;
        }
        uint32_t position = 0;
        const uint32_t ratio = c.yRes / c.nativeRes;
        for (size_t k = 0; k < got.size(); ++k) {
            Bytes expect;
            if (c.yRes == c.nativeRes) {
                // Line for line.
                expect = Converted(c, outLayout, nativeLayout, lines[k], pattern, &position);
            } else {
                ASSERT_EQ(ratio, 2u);
                // Twice: the blend of the previous and the new native line,
                // then the new line.
                size_t j = k / 2;
                const Bytes &source = (k % 2 == 1 || j == 0) ? lines[j] : Average(lines[j - 1], lines[j]);
                expect = Converted(c, outLayout, nativeLayout, source, pattern, &position);
            }
            ASSERT_EQ(got[k], expect) << "output line " << k;
        }
    }
}

TEST_F(Scan, RescaledOnlyAboveWhatTheLensDelivers) {
    struct {
        uint16_t mode, xRes, sentX, sentY;
        bool layoutsAsked;
    } cases[] = {
        {SCM_GRAY, 600, 600, 150, false},  // twice the colour native: direct
        {SCM_GRAY, 601, 600, 600, true},
        {SCM_COLOR, 300, 300, 150, false},
        {SCM_COLOR, 301, 300, 300, true},
        {SCM_LINEART, 601, 600, 600, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.xRes);
        ASSERT_EQ(SetParams(Params(c.mode, c.xRes, 150)), SCS_OK);
        TakeLog();
        ASSERT_EQ(Run(SC_START_SCAN), SCS_OK);
        std::vector<VscLogEntry> log = TakeLog();
        ScanParams sent = {};
        ASSERT_TRUE(SentParams(log, &sent));
        EXPECT_EQ(sent.xResolution, c.sentX);
        EXPECT_EQ(sent.yResolution, c.sentY);
        size_t layouts = 0;
        for (uint32_t code : ControlCodes(log)) layouts += code == IOCTL_SCANNER_GET_SCAN_LAYOUT;
        EXPECT_EQ(layouts, c.layoutsAsked ? 2u : 0u);
        EXPECT_EQ(Run(SC_STOP_SCAN), SCS_OK);
    }
}

TEST_F(Scan, RescaledReadsEndAfterTheRequestedLines) {
    ScanParams p = Params(SCM_GRAY, 1200, 1200);
    ScanLayout layout = Layout(p);
    ASSERT_EQ(layout.lineCount, 600u);
    ASSERT_EQ(SetParams(p), SCS_OK);
    ASSERT_EQ(Run(SC_START_SCAN), SCS_OK);
    EXPECT_FALSE(SpoolExists()) << "made before the first read";
    Bytes buffer(64 * (size_t)layout.bytesPerLine);
    // Room for less than one output line.
    EXPECT_EQ(ReadInto(buffer.data(), layout.bytesPerLine - 1).status, SCS_BAD_PARAMETER);
    uint32_t total = 0;
    Read r = ReadInto(buffer.data(), (uint32_t)buffer.size());
    EXPECT_TRUE(SpoolExists());
    while (r.status == SCS_OK) {
        total += r.count;
        r = ReadInto(buffer.data(), (uint32_t)buffer.size());
    }
    EXPECT_EQ(r.status, SCS_END_OF_DATA);
    EXPECT_EQ(r.count, 0u);
    EXPECT_EQ(total, 600u);
    EXPECT_EQ(ReadInto(buffer.data(), (uint32_t)buffer.size()).status, SCS_END_OF_DATA);
    EXPECT_EQ(Run(SC_STOP_SCAN), SCS_OK);
    EXPECT_FALSE(SpoolExists());
}

TEST_F(Scan, RescaledBottomUpFillsTheBufferFromItsEnd) {
    Lines down = ScanAll(Params(SCM_COLOR, 600, 600));
    ScanParams p = Params(SCM_COLOR, 600, 600, SPF_BOTTOM_UP);
    ScanLayout layout = Layout(p);
    ASSERT_EQ(SetParams(p), SCS_OK);
    ASSERT_EQ(Run(SC_START_SCAN), SCS_OK);
    const size_t bpl = layout.bytesPerLine;
    Bytes buffer(3 * bpl);
    Read r = ReadInto(buffer.data(), (uint32_t)buffer.size());
    ASSERT_EQ(r.status, SCS_OK);
    ASSERT_EQ(r.count, 3u);
    for (size_t slot = 0; slot < 3; ++slot)
        EXPECT_EQ(Bytes(buffer.begin() + slot * bpl, buffer.begin() + (slot + 1) * bpl), down[2 - slot]) << slot;
    EXPECT_EQ(Run(SC_STOP_SCAN), SCS_OK);
}

TEST_F(Scan, LineArtThroughAOneLineBuffer) {
    // A 1-bit output line is smaller than the gray native line behind it.
    Lines whole = ScanAll(Params(SCM_LINEART, 1200, 600));
    ScanParams p = Params(SCM_LINEART, 1200, 600);
    ScanLayout layout = Layout(p);
    Lines one = ScanAll(p, 1);
    EXPECT_EQ(one, whole);
    EXPECT_LT(layout.bytesPerLine, 600u);
}

TEST_F(Scan, BelowTheNativeResolutionVertically) {
    ScanParams native = Params(SCM_GRAY, 600, 600);
    ScanLayout nativeLayout = Layout(native);
    Lines lines = ScanAll(native);
    ScanParams p = Params(SCM_GRAY, 1200, 200);
    ScanLayout layout = Layout(p);
    Lines got = ScanAll(p);
    ASSERT_EQ(got.size(), 100u);
    // Every output line is one native line, going down the page.
    size_t j = 0;
    for (size_t k = 0; k < got.size(); ++k) {
        Bytes expect(layout.bytesPerLine);
        for (;; ++j) {
            ASSERT_LT(j, lines.size()) << "output line " << k << " is no native line";
            ResampleGray(expect.data(), lines[j].data(), layout.pixelsPerLine, nativeLayout.pixelsPerLine);
            if (expect == got[k]) break;
        }
    }
}

TEST_F(Scan, RestartReleaseAndStopLeaveNoSpool) {
    ScanParams p = Params(SCM_GRAY, 1200, 600);
    ScanLayout layout = Layout(p);
    Bytes buffer(8 * (size_t)layout.bytesPerLine);
    ASSERT_EQ(SetParams(p), SCS_OK);
    ASSERT_EQ(Run(SC_START_SCAN), SCS_OK);
    ASSERT_EQ(ReadInto(buffer.data(), (uint32_t)buffer.size()).status, SCS_OK);
    ASSERT_TRUE(SpoolExists());
    // Started again while scanning: the spool goes, the new scan is stretched
    // as the caller asked, not at the scanner's resolution of the first start.
    TakeLog();
    ASSERT_EQ(Run(SC_START_SCAN), SCS_OK);
    EXPECT_FALSE(SpoolExists());
    ScanParams sent = {};
    ASSERT_TRUE(SentParams(TakeLog(), &sent));
    EXPECT_EQ(sent.xResolution, 600);
    uint32_t total = 0;
    Read r;
    while ((r = ReadInto(buffer.data(), (uint32_t)buffer.size())).status == SCS_OK) total += r.count;
    EXPECT_EQ(r.status, SCS_END_OF_DATA);
    EXPECT_EQ(total, layout.lineCount);
    EXPECT_EQ(Run(SC_STOP_SCAN), SCS_OK);
    EXPECT_FALSE(SpoolExists());
    // Started again after the stop without new parameters: the same scan.
    Lines again = ScanAll(p);
    EXPECT_EQ(again.size(), layout.lineCount);

    // Released in the middle of a scan: the stop is sent and the spool goes.
    ASSERT_EQ(Run(SC_START_SCAN), SCS_OK);
    ASSERT_EQ(ReadInto(buffer.data(), (uint32_t)buffer.size()).status, SCS_OK);
    ASSERT_TRUE(SpoolExists());
    TakeLog();
    EXPECT_EQ(Run(SC_RELEASE), SCS_OK);
    EXPECT_EQ(ControlCodes(TakeLog()), (Codes_{IOCTL_SCANNER_STOP, IOCTL_SCANNER_RELEASE}));
    EXPECT_FALSE(SpoolExists());
    CommandBlock acquire = Block(SC_ACQUIRE);
    ASSERT_EQ(Send(lib, &acquire), SCS_OK);
    owner = acquire.ownerId;
    EXPECT_EQ(Run(SC_START_SCAN), SCS_WRONG_STATE);
}

TEST_F(Scan, UnloadInTheMiddleOfAStretchedScanTakesTheSpoolAlong) {
    ScanParams p = Params(SCM_GRAY, 1200, 600);
    ScanLayout layout = Layout(p);
    Bytes buffer(8 * (size_t)layout.bytesPerLine);
    ASSERT_EQ(SetParams(p), SCS_OK);
    ASSERT_EQ(Run(SC_START_SCAN), SCS_OK);
    ASSERT_EQ(ReadInto(buffer.data(), (uint32_t)buffer.size()).status, SCS_OK);
    ASSERT_TRUE(SpoolExists());
    FreeDevcmd(&lib);
    EXPECT_FALSE(SpoolExists());
    ASSERT_TRUE(LoadDevcmd(&lib));
    CommandBlock acquire = Block(SC_ACQUIRE);
    ASSERT_EQ(Send(lib, &acquire), SCS_OK);
    owner = acquire.ownerId;
}

TEST_F(Scan, ScannerFaultsWhileSpoolingLeaveTheScanStoppable) {
    struct {
        const char *what;
        uint32_t kind, status;
        int16_t expect;
    } cases[] = {
        {"failing read", VSC_FAULT_FAIL, kStatusIoDeviceError, SCS_SPOOL_ERROR},
        {"zero-byte read", VSC_FAULT_ZERO, 0, SCS_NO_DATA},
    };
    ScanParams p = Params(SCM_COLOR, 600, 600);
    ScanLayout layout = Layout(p);
    Bytes buffer(16 * (size_t)layout.bytesPerLine);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(SetParams(p), SCS_OK);
        ASSERT_EQ(Run(SC_START_SCAN), SCS_OK);
        Fault(c.kind, 1, c.status);
        Read r = ReadInto(buffer.data(), (uint32_t)buffer.size());
        EXPECT_EQ(r.status, c.expect);
        EXPECT_EQ(r.count, 0u);
        EXPECT_EQ(Run(SC_STOP_SCAN), SCS_OK);
        EXPECT_FALSE(SpoolExists());
        EXPECT_EQ(ReadInto(buffer.data(), (uint32_t)buffer.size()).status, SCS_WRONG_STATE);
    }
    // After a fault the next read goes on filling where it stopped, and the
    // scan comes out whole.
    Lines clean = ScanAll(p, 16);
    ASSERT_EQ(SetParams(p), SCS_OK);
    ASSERT_EQ(Run(SC_START_SCAN), SCS_OK);
    Fault(VSC_FAULT_ZERO, 1);
    ASSERT_EQ(ReadInto(buffer.data(), (uint32_t)buffer.size()).status, SCS_NO_DATA);
    Lines lines;
    Read r;
    while ((r = ReadInto(buffer.data(), (uint32_t)buffer.size())).status == SCS_OK)
        for (uint32_t k = 0; k < r.count; ++k)
            lines.emplace_back(buffer.begin() + (size_t)k * layout.bytesPerLine,
                               buffer.begin() + (size_t)(k + 1) * layout.bytesPerLine);
    EXPECT_EQ(r.status, SCS_END_OF_DATA);
    EXPECT_EQ(lines, clean);
    EXPECT_EQ(Run(SC_STOP_SCAN), SCS_OK);
}

TEST_F(Scan, OtherScannerProfileWithWordTables) {
    ASSERT_EQ(VscSetProfile(scanner, "scanport"), 0u);
    // The description was built from the flatbed: load afresh.
    CommandBlock release = Command(SC_RELEASE);
    Send(lib, &release);
    FreeDevcmd(&lib);
    ASSERT_TRUE(LoadDevcmd(&lib));
    CommandBlock acquire = Block(SC_ACQUIRE);
    ASSERT_EQ(Send(lib, &acquire), SCS_OK);
    owner = acquire.ownerId;
    // Uniform native 400: gray above 400 is stretched.
    ScanParams p = Params(SCM_GRAY, 800, 400);
    TakeLog();
    Lines got = ScanAll(p);
    ScanParams sent = {};
    ASSERT_TRUE(SentParams(TakeLog(), &sent));
    EXPECT_EQ(sent.xResolution, 400);
    EXPECT_EQ(got.size(), 200u);
}

}  // namespace
