// The virtual scanner as a client process sees it: CreateFileA,
// DeviceIoControl and ReadFile on "\\.\ORVSCNR".
#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scanner_records.h"
#include "wine_test_support.h"

namespace {

struct Answer {
    bool ok;
    DWORD error;
    DWORD returned;
};

Answer Ioctl(HANDLE h, uint32_t code, const void *in, DWORD inSize, void *out, DWORD outSize) {
    DWORD n = 0;
    BOOL ok = DeviceIoControl(h, code, const_cast<void *>(in), inSize, out, outSize, &n, nullptr);
    return {ok != 0, ok ? 0 : GetLastError(), n};
}

ScanParams Params(uint16_t mode, uint16_t xres, uint16_t yres, uint16_t left = 600, uint16_t top = 600,
                  uint16_t width = 600, uint16_t height = 300) {
    ScanParams p = {};
    p.left = left;
    p.top = top;
    p.width = width;
    p.height = height;
    p.xResolution = xres;
    p.yResolution = yres;
    p.colorMode = mode;
    return p;
}

ScanLayout LayoutOf(const ScanParams &p) {
    ScanLayout l = {};
    memcpy(&l.flags, &p.flags, SCAN_SETTINGS_BYTES);
    return l;
}

// A whole scan through the driver: parameters, start, reads of `chunk` lines.
std::vector<uint8_t> Scan(HANDLE h, const ScanParams &p, ScanStartInfo *info = nullptr, uint32_t chunk = 7) {
    ScanParams echo;
    EXPECT_TRUE(Ioctl(h, IOCTL_SCANNER_SET_PARAMS, &p, sizeof(p), &echo, sizeof(echo)).ok);
    ScanStartInfo start = {};
    Answer a = Ioctl(h, IOCTL_SCANNER_START, nullptr, 0, &start, sizeof(start));
    EXPECT_TRUE(a.ok) << a.error;
    if (info) *info = start;
    std::vector<uint8_t> image(size_t(start.bytesPerLine) * start.linesLeft);
    size_t at = 0;
    while (at < image.size()) {
        DWORD want = DWORD(std::min<size_t>(chunk * start.bytesPerLine, image.size() - at)), got = 0;
        if (!ReadFile(h, image.data() + at, want, &got, nullptr) || got == 0) {
            ADD_FAILURE() << "read failed at " << at << " error " << GetLastError();
            break;
        }
        EXPECT_EQ(got % start.bytesPerLine, 0u) << "reads deliver whole lines";
        at += got;
    }
    EXPECT_TRUE(Ioctl(h, IOCTL_SCANNER_STOP, nullptr, 0, nullptr, 0).ok);
    return image;
}

class Driver : public ::testing::Test {
protected:
    VirtualScanner scanner;
    HANDLE h = scanner.device;
};

// Every code with the sizes of its answer, and a buffer one byte short.
TEST_F(Driver, EachCodeAnswersWithItsSizesAndRefusesShortBuffers) {
    ScanParams params = Params(SCM_GRAY, 300, 300);
    ScanLayout layout = LayoutOf(params);
    LensRequest lens = {0, 0};
    uint16_t word = 0;
    uint8_t pattern[64] = {};
    uint8_t port[14] = {};  // SCP_GET_SETTINGS
    struct Row {
        uint32_t code;
        const void *in;
        DWORD inSize;
        DWORD outSize;  // expected answer size
        DWORD returned;
    } rows[] = {
        {IOCTL_SCANNER_GET_DEVICE_INFO, nullptr, 0, 30, 30},
        {IOCTL_SCANNER_GET_LENS_RECORD, &lens, 4, 36, 36},
        {IOCTL_SCANNER_GET_TABLE_FORMAT, nullptr, 0, 10, 10},
        {IOCTL_SCANNER_GET_SCAN_LAYOUT, &layout, 42, 42, 42},
        {IOCTL_SCANNER_ACQUIRE, nullptr, 0, 2, 2},
        {IOCTL_SCANNER_SET_PARAMS, &params, 38, 38, 38},
        {IOCTL_SCANNER_START, nullptr, 0, 8, 8},
        {IOCTL_SCANNER_STOP, nullptr, 0, 0, 0},
        {IOCTL_SCANNER_RELEASE, nullptr, 0, 0, 0},
        {IOCTL_SCANNER_PORT_SERVICE, port, 14, 12, 12},
        {IOCTL_SCANNER_SET_HALFTONE, pattern, 64, 0, 0},
        {IOCTL_SCANNER_SELECT_LENS, &word, 2, 0, 0},
        {IOCTL_SCANNER_GET_CURRENT_LENS, nullptr, 0, 2, 2},
        {IOCTL_SCANNER_ACTION_1, nullptr, 0, 0, 0},
        {IOCTL_SCANNER_ACTION_2, nullptr, 0, 0, 0},
        {IOCTL_SCANNER_ACTION_3, nullptr, 0, 0, 0},
        {IOCTL_SCANNER_ACTION_4, nullptr, 0, 0, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(VscCodeName(r.code));
        uint8_t out[64];
        memset(out, 0xEE, sizeof(out));
        Answer a = Ioctl(h, r.code, r.in, r.inSize, r.outSize ? out : nullptr, r.outSize);
        EXPECT_TRUE(a.ok) << a.error;
        EXPECT_EQ(a.returned, r.returned);
        if (r.outSize) {
            a = Ioctl(h, r.code, r.in, r.inSize, out, r.outSize - 1);
            EXPECT_FALSE(a.ok);
            EXPECT_EQ(a.error, DWORD(ERROR_INSUFFICIENT_BUFFER));
        }
        if (r.inSize) {
            a = Ioctl(h, r.code, r.in, r.inSize - 1, r.outSize ? out : nullptr, r.outSize);
            EXPECT_FALSE(a.ok);
            EXPECT_EQ(a.error, DWORD(ERROR_INSUFFICIENT_BUFFER));
        }
    }
    // The tone tables travel in the output buffer: three tables of the format.
    TableFormat f;
    ASSERT_TRUE(Ioctl(h, IOCTL_SCANNER_GET_TABLE_FORMAT, nullptr, 0, &f, sizeof(f)).ok);
    std::vector<uint8_t> tables(3u * f.entriesPerTable * f.bytesPerEntry);
    uint16_t layoutWord = TL_THREE_TABLES;
    EXPECT_TRUE(Ioctl(h, IOCTL_SCANNER_SET_TONE_TABLES, &layoutWord, 2, tables.data(), DWORD(tables.size())).ok);
    Answer a = Ioctl(h, IOCTL_SCANNER_SET_TONE_TABLES, &layoutWord, 2, tables.data(), DWORD(tables.size() - 1));
    EXPECT_EQ(a.error, DWORD(ERROR_INSUFFICIENT_BUFFER));
    // The button is up: polling fails; an unknown code is refused.
    EXPECT_FALSE(Ioctl(h, IOCTL_SCANNER_POLL_BUTTON, nullptr, 0, nullptr, 0).ok);
    a = Ioctl(h, 0x166500, nullptr, 0, nullptr, 0);
    EXPECT_EQ(a.error, DWORD(ERROR_INVALID_FUNCTION));
}

// Nothing a client sends takes the driver down: odd codes of every
// transfer method, odd sizes, null buffers.
TEST_F(Driver, SurvivesArbitraryRequests) {
    std::vector<uint8_t> buf(4096, 0x5A);
    uint32_t seed = 12345;
    for (int i = 0; i < 400; ++i) {
        seed = seed * 1103515245u + 12345u;
        uint32_t code = (0x16u << 16) | ((seed >> 8) & 0x3FFF);
        if (i % 3 == 0) code = IOCTL_SCANNER_PORT_SERVICE;
        DWORD inSize = (seed >> 4) % 80, outSize = (seed >> 12) % 80;
        Ioctl(h, code, i % 5 ? buf.data() : nullptr, i % 5 ? inSize : 0, i % 7 ? buf.data() + 2048 : nullptr,
              i % 7 ? outSize : 0);
    }
    DWORD got = 0;
    ReadFile(h, buf.data(), 3, &got, nullptr);
    DeviceInfo info;
    EXPECT_TRUE(Ioctl(h, IOCTL_SCANNER_GET_DEVICE_INFO, nullptr, 0, &info, sizeof(info)).ok);
}

// The description is coherent: lens tables 1 and 2, two lenses, a scan
// above the native resolution is within the lens's limits.
TEST_F(Driver, DescriptionOfTheDefaultProfile) {
    DeviceInfo info;
    ASSERT_TRUE(Ioctl(h, IOCTL_SCANNER_GET_DEVICE_INFO, nullptr, 0, &info, sizeof(info)).ok);
    EXPECT_EQ(info.deviceFlags & (DIF_LENS_TABLE_1 | DIF_LENS_TABLE_2), DIF_LENS_TABLE_1 | DIF_LENS_TABLE_2);
    EXPECT_GE(info.lensCount, 2);
    EXPECT_EQ(info.maxColorMode, SCM_COLOR);
    TableFormat f;
    ASSERT_TRUE(Ioctl(h, IOCTL_SCANNER_GET_TABLE_FORMAT, nullptr, 0, &f, sizeof(f)).ok);
    EXPECT_EQ(f.tableCount, 3);
    EXPECT_EQ(f.bytesPerEntry, 1);
    EXPECT_EQ(f.entriesPerTable, 256);
    for (uint16_t table = 0; table < 3; ++table) {
        for (uint16_t i = 0; i < info.lensCount; ++i) {
            LensRequest req = {i, table};
            LensRecord r;
            ASSERT_TRUE(Ioctl(h, IOCTL_SCANNER_GET_LENS_RECORD, &req, 4, &r, sizeof(r)).ok);
            EXPECT_LT(r.nativeResolution, r.maxResolution);
            EXPECT_LE(r.minResolution, r.nativeResolution);
        }
        LensRequest past = {info.lensCount, table};
        LensRecord r;
        EXPECT_EQ(Ioctl(h, IOCTL_SCANNER_GET_LENS_RECORD, &past, 4, &r, sizeof(r)).error, DWORD(ERROR_INVALID_PARAMETER));
    }
    LensRequest noTable = {0, 3};
    LensRecord r;
    EXPECT_FALSE(Ioctl(h, IOCTL_SCANNER_GET_LENS_RECORD, &noTable, 4, &r, sizeof(r)).ok);

    // The scan-port card: portKind 16, one lens table besides table 0, word tables.
    ASSERT_EQ(VscSetProfile(h, "scanport"), 0u);
    ASSERT_TRUE(Ioctl(h, IOCTL_SCANNER_GET_DEVICE_INFO, nullptr, 0, &info, sizeof(info)).ok);
    EXPECT_EQ(info.deviceFlags & (DIF_LENS_TABLE_1 | DIF_LENS_TABLE_2), DIF_LENS_TABLE_1);
    ASSERT_TRUE(Ioctl(h, IOCTL_SCANNER_GET_TABLE_FORMAT, nullptr, 0, &f, sizeof(f)).ok);
    EXPECT_EQ(f.bytesPerEntry, 2);
    uint8_t request[14] = {};
    PortSettings s;
    ASSERT_TRUE(Ioctl(h, IOCTL_SCANNER_PORT_SERVICE, request, 14, &s, sizeof(s)).ok);
    EXPECT_EQ(s.portKind, PORT_KIND_SCANPORT);
}

// Layouts follow the area, the resolutions and the colour mode.
TEST_F(Driver, LayoutsAgreeWithLensAndColourMode) {
    struct Row {
        uint16_t mode, xres, yres, width, height;
        uint32_t pixels, bytes, lines;
    } rows[] = {
        {SCM_LINEART, 300, 300, 600, 300, 300, 38, 150},
        {SCM_HALFTONE, 600, 300, 600, 300, 600, 75, 150},
        {SCM_GRAY, 300, 150, 600, 300, 300, 300, 75},
        {SCM_COLOR, 300, 300, 600, 300, 300, 900, 150},
        {SCM_COLOR, 1200, 1200, 601, 60, 1202, 3606, 120},
        {SCM_GRAY, 50, 50, 5100 - 600, 7020 - 600, 375, 375, 535},
    };
    for (const Row &r : rows) {
        ScanLayout l = LayoutOf(Params(r.mode, r.xres, r.yres, 600, 600, r.width, r.height));
        Answer a = Ioctl(h, IOCTL_SCANNER_GET_SCAN_LAYOUT, &l, sizeof(l), &l, sizeof(l));
        ASSERT_TRUE(a.ok) << a.error;
        EXPECT_EQ(l.pixelsPerLine, r.pixels);
        EXPECT_EQ(l.bytesPerLine, r.bytes);
        EXPECT_EQ(l.lineCount, r.lines);
        EXPECT_EQ(l.width, r.width) << "parameter bytes come back unchanged";
    }
    // Outside the lens: a resolution above its maximum, an area past the bed,
    // a lens or a table the scanner does not have.
    ScanParams bad[] = {Params(SCM_GRAY, 1201, 300), Params(SCM_GRAY, 300, 300, 5000, 0, 101, 300),
                        Params(4, 300, 300), Params(SCM_GRAY, 300, 300)};
    bad[3].lens = 2;
    for (const ScanParams &p : bad) {
        ScanLayout l = LayoutOf(p);
        EXPECT_EQ(Ioctl(h, IOCTL_SCANNER_GET_SCAN_LAYOUT, &l, sizeof(l), &l, sizeof(l)).error,
                  DWORD(ERROR_INVALID_PARAMETER));
    }
}

// The chart is deterministic, follows the tone tables and the line order.
TEST_F(Driver, ChartLinesAreDeterministicAndFollowTablesAndOrder) {
    ScanParams p = Params(SCM_GRAY, 150, 150, 300, 300, 4500, 600);  // across the gray ramp
    ScanStartInfo info;
    std::vector<uint8_t> first = Scan(h, p, &info, 7);
    EXPECT_EQ(Scan(h, p, nullptr, 13), first) << "same parameters, same bytes";
    ASSERT_EQ(info.bytesPerLine, 1125u);
    // The ramp rises from left to right across its band.
    const uint8_t *line = &first[size_t(info.bytesPerLine) * (info.linesLeft - 1)];
    EXPECT_LT(line[100], line[600]);
    EXPECT_LT(line[600], line[1100]);

    // An inverting table gives the complement.
    std::vector<uint8_t> tables(3 * 256);
    for (int t = 0; t < 3; ++t)
        for (int i = 0; i < 256; ++i) tables[t * 256 + i] = uint8_t(255 - i);
    uint16_t layoutWord = TL_ONE_TABLE;
    ASSERT_TRUE(Ioctl(h, IOCTL_SCANNER_SET_TONE_TABLES, &layoutWord, 2, tables.data(), DWORD(tables.size())).ok);
    std::vector<uint8_t> inverted = Scan(h, p);
    ASSERT_EQ(inverted.size(), first.size());
    for (size_t i = 0; i < first.size(); i += 97) ASSERT_EQ(inverted[i], 255 - first[i]) << i;

    // Bottom-up delivers the last line first.
    p.flags |= SPF_BOTTOM_UP;
    std::vector<uint8_t> reversed = Scan(h, p);
    const size_t bpl = info.bytesPerLine, lines = info.linesLeft;
    for (size_t r = 0; r < lines; ++r)
        ASSERT_EQ(memcmp(&reversed[r * bpl], &inverted[(lines - 1 - r) * bpl], bpl), 0) << r;
}

TEST_F(Driver, HalftoneUsesThePatternItWasSent) {
    // A flat gray area: every pixel against the 8x8 matrix.
    ScanParams p = Params(SCM_HALFTONE, 300, 300, 300, 990, 64, 64);  // paper between two bands
    uint8_t pattern[64];
    for (int i = 0; i < 64; ++i) pattern[i] = uint8_t(i % 2 ? 255 : 0);  // alternate columns
    ASSERT_TRUE(Ioctl(h, IOCTL_SCANNER_SET_HALFTONE, pattern, 64, nullptr, 0).ok);
    ScanStartInfo info;
    std::vector<uint8_t> bits = Scan(h, p, &info);
    ASSERT_EQ(info.bytesPerLine, 4u);
    for (uint8_t b : bits) EXPECT_EQ(b, 0xAA) << "paper is below 255 and above 0";
}

// Faults come back as the system's error codes; reads deliver what was asked.
TEST_F(Driver, InjectedFaultsComeBackAsSystemErrors) {
    VscFault fail = {VSC_FAULT_FAIL, IOCTL_SCANNER_GET_DEVICE_INFO, 2, 0xC00000A3 /* device not ready */, 0};
    ASSERT_EQ(VscAddFault(h, fail), 0u);
    DeviceInfo info;
    EXPECT_EQ(Ioctl(h, IOCTL_SCANNER_GET_DEVICE_INFO, nullptr, 0, &info, sizeof(info)).error, DWORD(ERROR_NOT_READY));
    EXPECT_EQ(Ioctl(h, IOCTL_SCANNER_GET_DEVICE_INFO, nullptr, 0, &info, sizeof(info)).error, DWORD(ERROR_NOT_READY));
    EXPECT_TRUE(Ioctl(h, IOCTL_SCANNER_GET_DEVICE_INFO, nullptr, 0, &info, sizeof(info)).ok) << "two failures only";

    ScanParams p = Params(SCM_GRAY, 100, 100, 600, 600, 600, 600);  // 100 x 100
    ScanStartInfo start;
    ASSERT_TRUE(Ioctl(h, IOCTL_SCANNER_SET_PARAMS, &p, sizeof(p), &p, sizeof(p)).ok);
    ASSERT_TRUE(Ioctl(h, IOCTL_SCANNER_START, nullptr, 0, &start, sizeof(start)).ok);
    ASSERT_EQ(start.linesLeft, 100u);
    std::vector<uint8_t> buf(10 * 100);
    DWORD got = 0;
    VscFault readFail = {VSC_FAULT_FAIL, VSC_READ_CODE, 1, 0xC0000185 /* io error */, 0};
    VscFault shortRead = {VSC_FAULT_SHORT, 0, 1, 0, 7};
    VscFault zero = {VSC_FAULT_ZERO, 0, 1, 0, 0};
    ASSERT_EQ(VscAddFault(h, readFail), 0u);
    EXPECT_FALSE(ReadFile(h, buf.data(), DWORD(buf.size()), &got, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_IO_DEVICE));
    ASSERT_EQ(VscAddFault(h, shortRead), 0u);
    EXPECT_TRUE(ReadFile(h, buf.data(), DWORD(buf.size()), &got, nullptr));
    EXPECT_EQ(got, 700u);
    ASSERT_EQ(VscAddFault(h, zero), 0u);
    EXPECT_TRUE(ReadFile(h, buf.data(), DWORD(buf.size()), &got, nullptr));
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(ReadFile(h, buf.data(), DWORD(buf.size()), &got, nullptr));
    EXPECT_EQ(got, 1000u);
    EXPECT_FALSE(ReadFile(h, buf.data(), 99, &got, nullptr)) << "less than one line";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(scanner.Status().linesLeft, 83u);
}

// The log holds each request with its input bytes, in order.
TEST_F(Driver, LogRecordsWhatWasSentInOrder) {
    ASSERT_EQ(VscClearLog(h), 0u);
    uint16_t lens = 1;
    uint8_t port[14] = {4, 0, 0x78, 0x02, 1, 0};  // SCP_TEST_PORT 0x278 SPP
    uint8_t answer[4];
    DeviceInfo info;
    Ioctl(h, IOCTL_SCANNER_SELECT_LENS, &lens, 2, nullptr, 0);
    Ioctl(h, IOCTL_SCANNER_PORT_SERVICE, port, 14, answer, 4);
    Ioctl(h, IOCTL_SCANNER_GET_DEVICE_INFO, nullptr, 0, &info, sizeof(info));
    scanner.Status();  // control requests are not logged
    std::vector<std::string> expected = {
        "SELECT_LENS 0100",
        "PORT_SERVICE 0400780201000000000000000000",
        "GET_DEVICE_INFO -",
    };
    EXPECT_EQ(LogLines(scanner.Log()), expected);
    EXPECT_EQ(memcmp(answer, "\x78\x02\x01\x00", 4), 0);
}

// A second process sees the same owner and the same button.
TEST_F(Driver, TwoProcessesSeeOneScanner) {
    uint16_t owner = 0;
    ASSERT_TRUE(Ioctl(h, IOCTL_SCANNER_ACQUIRE, nullptr, 0, &owner, 2).ok);
    EXPECT_NE(owner, 0);
    ASSERT_EQ(VscSetButton(h, true), 0u);

    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    DWORD code = 99;
    std::string out;
    ASSERT_TRUE(RunProcess(std::string("\"") + self + "\" --child", 30000, &code, &out));
    EXPECT_EQ(code, 0u) << out;
    char want[64];
    snprintf(want, sizeof(want), "owner %04x button down", owner);
    EXPECT_NE(out.find(want), std::string::npos) << out;

    // The child acquired after us: a new id, never 0.
    VscStatus s = scanner.Status();
    EXPECT_NE(s.ownerId, owner);
    EXPECT_NE(s.ownerId, 0);
}

int Child() {
    HANDLE h = VscOpen();
    if (h == INVALID_HANDLE_VALUE) return 1;
    VscStatus s;
    if (VscGetStatus(h, &s)) return 2;
    bool down = Ioctl(h, IOCTL_SCANNER_POLL_BUTTON, nullptr, 0, nullptr, 0).ok;
    printf("owner %04x button %s\n", s.ownerId, down ? "down" : "up");
    uint16_t owner = 0;
    if (!Ioctl(h, IOCTL_SCANNER_ACQUIRE, nullptr, 0, &owner, 2).ok) return 3;
    fflush(stdout);
    CloseHandle(h);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 2 && strcmp(argv[1], "--child") == 0) return Child();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
