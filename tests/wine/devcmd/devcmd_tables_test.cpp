// The description commands 3 to 8 and the layout query: what the maps and
// the shared section hold after a build from the virtual scanner, in both
// of its profiles, what the build sent, and the configuration it read.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "description_records.h"
#include "devcmd_client.h"
#include "scanner_records.h"
#include "suite_config.h"
#include "wine_test_support.h"

namespace {

const uint8_t kPatterns[4][64] = {
#include "expected_patterns.inc"
};

std::string IniPath() { return WindowsDir() + "\\MERVIX.INI"; }

// Rewrites one key of MERVIX.INI (the restorer puts the file back).
void SetIni(const char *section, const char *key, const char *value) {
    WritePrivateProfileStringA(section, key, value, IniPath().c_str());
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, IniPath().c_str());
}

class Tables : public ::testing::Test {
protected:
    void SetUp() override {
        scanner = VscOpen();
        ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
        ASSERT_EQ(VscReset(scanner), 0u);
    }
    void TearDown() override {
        FreeDevcmd(&lib);
        VscReset(scanner);
        CloseHandle(scanner);
    }
    // Loads the library as the first process: the build's requests are
    // returned.
    std::vector<Logged> LoadFresh() {
        VscClearLog(scanner);
        EXPECT_TRUE(LoadDevcmd(&lib));
        std::vector<Logged> log = ReadRequestLog(scanner);
        VscClearLog(scanner);
        EXPECT_FALSE(log.empty()) << "no build at load: another process holds the library";
        return log;
    }
    int16_t Lens(uint16_t index, uint16_t select, LensRecord *record, CommandBlock *out = nullptr) {
        memset(record, 0xEE, sizeof *record);
        CommandBlock b = Block(SC_GET_LENS_RECORD, record);
        b.index = index;
        b.select = select;
        int16_t status = Send(lib, &b);
        if (out) *out = b;
        return status;
    }
    int16_t DefaultTable(uint16_t index, void *buffer) {
        CommandBlock b = Block(SC_GET_DEFAULT_TONE_TABLE, buffer);
        b.index = index;
        return Send(lib, &b);
    }
    HANDLE scanner = INVALID_HANDLE_VALUE;
    Devcmd lib;
};

TEST_F(Tables, BuildAsksTheScannerOnceForEverything) {
    std::vector<Logged> log = LoadFresh();
    // Table format, device info, 2 lenses x 3 tables, current lens.
    std::vector<uint32_t> expect = {IOCTL_SCANNER_GET_TABLE_FORMAT, IOCTL_SCANNER_GET_DEVICE_INFO};
    for (int i = 0; i < 6; ++i) expect.push_back(IOCTL_SCANNER_GET_LENS_RECORD);
    expect.push_back(IOCTL_SCANNER_GET_CURRENT_LENS);
    ASSERT_EQ(Codes(log), expect) << CodeNames(Codes(log));
    const uint16_t requests[6][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {0, 2}, {1, 2}};
    for (int i = 0; i < 6; ++i) {
        const Logged &l = log[2 + i];
        ASSERT_EQ(l.input.size(), sizeof(LensRequest));
        LensRequest r;
        memcpy(&r, l.input.data(), sizeof r);
        EXPECT_EQ(r.lensIndex, requests[i][0]);
        EXPECT_EQ(r.tableNumber, requests[i][1]);
        EXPECT_EQ(l.outputLength, sizeof(LensRecord));
    }

    // A second process finds the maps built and asks nothing.
    EXPECT_EQ(RunHelper("load"), 0u);
    EXPECT_EQ(Codes(ReadRequestLog(scanner)), std::vector<uint32_t>{});
}

TEST_F(Tables, DescriptionPatternsAndFormat) {
    LoadFresh();
    ScannerDescription d;
    memset(&d, 0xEE, sizeof d);
    CommandBlock b = Block(SC_GET_DESCRIPTION, &d);
    EXPECT_EQ(Send(lib, &b), SCS_OK);
    EXPECT_EQ(d.version, DESCRIPTION_VERSION_BUILT);
    EXPECT_EQ(d.descriptionWord, 0x0301);
    char model[CFG_MODEL_NAME_CHARS];
    GetPrivateProfileStringA("MervixSystem", "ModelName", "", model, sizeof model, "MERVIX.INI");
    EXPECT_STREQ(d.modelName, model);

    for (uint16_t i = 0; i < 4; ++i) {
        uint8_t pattern[64];
        b = Block(SC_GET_HALFTONE_PATTERN, pattern);
        b.index = i;
        EXPECT_EQ(Send(lib, &b), SCS_OK);
        EXPECT_EQ(memcmp(pattern, kPatterns[i], 64), 0) << "pattern " << i;
    }
    uint8_t untouched[64];
    memset(untouched, 0x77, sizeof untouched);
    b = Block(SC_GET_HALFTONE_PATTERN, untouched);
    b.index = 4;
    EXPECT_EQ(Send(lib, &b), SCS_BAD_PARAMETER);
    EXPECT_EQ(untouched[0], 0x77);

    TableFormat f;
    b = Block(SC_GET_TABLE_FORMAT, &f);
    EXPECT_EQ(Send(lib, &b), SCS_OK);
    EXPECT_EQ(f.maxValue, 255);
    EXPECT_EQ(f.tableCount, 3);
    EXPECT_EQ(f.bytesPerEntry, 1);
    EXPECT_EQ(f.entriesPerTable, 256);
    EXPECT_EQ(f.monoTableSelect, 3);
    // None of these reaches the scanner.
    EXPECT_EQ(Codes(ReadRequestLog(scanner)), std::vector<uint32_t>{});
}

TEST_F(Tables, LensRecordsOfEveryTable) {
    LoadFresh();
    LensRecord r;
    // lensId tells which record came back: table t, lens i -> 2t + i + 1.
    struct {
        uint16_t index, select, lensId;
    } good[] = {{0, 0, 1}, {1, 0, 2}, {0, 1, 3}, {1, 1, 4}, {0, 2, 5}, {1, 2, 6}};
    for (auto &g : good) {
        EXPECT_EQ(Lens(g.index, g.select, &r), SCS_OK);
        EXPECT_EQ(r.lensId, g.lensId) << g.index << "/" << g.select;
    }
    EXPECT_EQ(r.nativeResolution, 600);

    // 0xFFFF: the current lens, written back into index and count.
    CommandBlock out;
    memset(&r, 0, sizeof r);
    CommandBlock b = Block(SC_GET_LENS_RECORD, &r);
    b.index = 0xFFFF;
    b.count = 0xABCD1234;
    EXPECT_EQ(Send(lib, &b), SCS_OK);
    EXPECT_EQ(b.index, 0);
    EXPECT_EQ(b.count, 0xABCD0000u);
    EXPECT_EQ(r.lensId, 1);

    for (auto bad : {std::pair<uint16_t, uint16_t>{2, 0}, {0, 3}, {0xFFFE, 0}, {0, 0xFFFF}}) {
        EXPECT_EQ(Lens(bad.first, bad.second, &r, &out), SCS_BAD_PARAMETER);
        EXPECT_EQ(r.lensId, 0xEEEE);
    }
    b = Block(SC_GET_LENS_RECORD);
    EXPECT_EQ(Send(lib, &b), SCS_BAD_PARAMETER);
    EXPECT_EQ(Codes(ReadRequestLog(scanner)), std::vector<uint32_t>{});
}

TEST_F(Tables, DefaultToneTablesByIndex) {
    LoadFresh();
    std::vector<uint8_t> buffer(3 * 256 + 16, 0xEE);
    EXPECT_EQ(DefaultTable(1, buffer.data()), SCS_OK);
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 256; ++i) ASSERT_EQ(buffer[k * 256 + i], i) << k;
    EXPECT_EQ(buffer[3 * 256], 0xEE);
    for (uint16_t index : {0, 3, 4, 5}) {
        std::fill(buffer.begin(), buffer.end(), 0xEE);
        EXPECT_EQ(DefaultTable(index, buffer.data()), SCS_OK) << index;
        EXPECT_EQ(buffer[200], 200);
        EXPECT_EQ(buffer[256], 0xEE) << index;
    }
    for (uint16_t index : {2, 6, 0xFFFF}) {
        std::fill(buffer.begin(), buffer.end(), 0xEE);
        EXPECT_EQ(DefaultTable(index, buffer.data()), SCS_BAD_PARAMETER) << index;
        EXPECT_EQ(buffer[0], 0xEE);
    }
    EXPECT_EQ(DefaultTable(0, nullptr), SCS_BAD_PARAMETER);
}

TEST_F(Tables, AdjustToneTableOnTheCallersTable) {
    LoadFresh();
    uint8_t table[256 + 4];
    for (int i = 0; i < 256; ++i) table[i] = (uint8_t)i;
    memset(table + 256, 0x99, 4);
    ToneAdjustRequest request = {(uint32_t)(uintptr_t)table, 64, 0};
    CommandBlock b = Block(SC_ADJUST_TONE_TABLE, &request);
    EXPECT_EQ(Send(lib, &b), SCS_OK);
    EXPECT_EQ(table[0], 128);
    EXPECT_EQ(table[126], 254);
    EXPECT_EQ(table[127], 255);
    EXPECT_EQ(table[256], 0x99);

    for (int i = 0; i < 256; ++i) table[i] = (uint8_t)i;
    request = {(uint32_t)(uintptr_t)table, 0, -64};
    b = Block(SC_ADJUST_TONE_TABLE, &request);
    EXPECT_EQ(Send(lib, &b), SCS_OK);
    EXPECT_EQ(table[0], 64);
    EXPECT_EQ(table[128], 127);
    EXPECT_EQ(table[255], 191);

    // Out of range or nothing to do: the table stays as it is.
    for (int i = 0; i < 256; ++i) table[i] = (uint8_t)i;
    struct {
        int16_t brightness, contrast, status;
    } refused[] = {{-128, 0, SCS_BAD_PARAMETER}, {0, 128, SCS_BAD_PARAMETER}, {128, 10, SCS_BAD_PARAMETER},
                   {10, -32768, SCS_BAD_PARAMETER}, {0, 0, SCS_OK}};
    for (auto &r : refused) {
        request = {(uint32_t)(uintptr_t)table, r.brightness, r.contrast};
        b = Block(SC_ADJUST_TONE_TABLE, &request);
        EXPECT_EQ(Send(lib, &b), r.status) << r.brightness << "/" << r.contrast;
    }
    for (int i = 0; i < 256; ++i) ASSERT_EQ(table[i], i);
    request = {0, 10, 10};
    b = Block(SC_ADJUST_TONE_TABLE, &request);
    EXPECT_EQ(Send(lib, &b), SCS_BAD_PARAMETER);
    b = Block(SC_ADJUST_TONE_TABLE);
    EXPECT_EQ(Send(lib, &b), SCS_BAD_PARAMETER);
}

TEST_F(Tables, ScanLayoutChecksBeforeAsking) {
    LoadFresh();
    auto Layout = [](uint16_t colorMode, uint16_t option, uint32_t flags, uint16_t x) {
        ScanLayout l;
        memset(&l, 0, sizeof l);
        l.flags = flags;
        l.width = 600;
        l.height = 600;
        l.xResolution = x;
        l.yResolution = 300;
        l.colorMode = colorMode;
        l.option = option;
        return l;
    };
    ScanLayout l = Layout(SCM_GRAY, 0, 0, 300);
    CommandBlock b = Block(SC_GET_SCAN_LAYOUT, &l);
    EXPECT_EQ(Send(lib, &b), SCS_OK);
    EXPECT_EQ(l.pixelsPerLine, 300u);  // one inch at 300 dpi
    EXPECT_GT(l.lineCount, 0u);
    std::vector<Logged> log = ReadRequestLog(scanner);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].code, (uint32_t)IOCTL_SCANNER_GET_SCAN_LAYOUT);
    EXPECT_EQ(log[0].input.size(), sizeof(ScanLayout));
    VscClearLog(scanner);

    // optionMask 5: option 2 is missing, which only gray and colour check;
    // a layout that passes goes to the scanner, which has the last word.
    ScanLayout wrongLens = Layout(SCM_GRAY, 0, 0, 300);
    wrongLens.lens = 2;
    ScanLayout beyondBed = Layout(SCM_GRAY, 0, 0, 300);
    beyondBed.left = 5100 - 599;
    struct {
        ScanLayout l;
        bool refused;
    } cases[] = {
        {Layout(SCM_GRAY, 2, 0, 300), true},
        {Layout(SCM_COLOR, 2, 0, 300), true},
        {Layout(SCM_LINEART, 2, 0, 300), false},
        {Layout(SCM_COLOR, 3, 0, 300), false},
        {Layout(4, 0, 0, 300), true},
        {Layout(SCM_GRAY, 0, 0, 49), true},
        {Layout(SCM_GRAY, 0, 0, 1201), true},
        {Layout(SCM_GRAY, 0, SPF_LENS_TABLE_1, 300), false},
        {wrongLens, true},
        {beyondBed, true},
    };
    for (auto &c : cases) {
        b = Block(SC_GET_SCAN_LAYOUT, &c.l);
        int16_t status = Send(lib, &b);
        std::vector<uint32_t> sent = Codes(ReadRequestLog(scanner));
        VscClearLog(scanner);
        if (c.refused) {
            EXPECT_EQ(status, SCS_BAD_PARAMETER) << c.l.colorMode << "/" << c.l.option;
            EXPECT_EQ(sent, std::vector<uint32_t>{});
        } else {
            EXPECT_NE(status, SCS_BAD_PARAMETER);
            EXPECT_EQ(sent, std::vector<uint32_t>{IOCTL_SCANNER_GET_SCAN_LAYOUT});
        }
    }
}

TEST_F(Tables, ScanPortProfileWordTablesAndOneLensTable) {
    ASSERT_EQ(VscSetProfile(scanner, "scanport"), 0u);
    std::vector<Logged> log = LoadFresh();
    // Table 0 and table 1 of one lens.
    EXPECT_EQ(Codes(log), (std::vector<uint32_t>{IOCTL_SCANNER_GET_TABLE_FORMAT, IOCTL_SCANNER_GET_DEVICE_INFO,
                                                 IOCTL_SCANNER_GET_LENS_RECORD, IOCTL_SCANNER_GET_LENS_RECORD,
                                                 IOCTL_SCANNER_GET_CURRENT_LENS}))
        << CodeNames(Codes(log));
    TableFormat f;
    CommandBlock b = Block(SC_GET_TABLE_FORMAT, &f);
    EXPECT_EQ(Send(lib, &b), SCS_OK);
    EXPECT_EQ(f.bytesPerEntry, 2);
    EXPECT_EQ(f.entriesPerTable, 1024);

    std::vector<uint8_t> table(2048 + 8, 0xEE);
    EXPECT_EQ(DefaultTable(0, table.data()), SCS_OK);
    auto Word = [&](int i) { return table[2 * i] | table[2 * i + 1] << 8; };
    EXPECT_EQ(Word(0), 0);
    EXPECT_EQ(Word(3), 0);
    EXPECT_EQ(Word(4), 1);
    EXPECT_EQ(Word(1023), 255);
    EXPECT_EQ(table[2048], 0xEE);

    LensRecord r;
    EXPECT_EQ(Lens(0, 0, &r), SCS_OK);
    EXPECT_EQ(r.lensId, 1);
    EXPECT_EQ(Lens(0, 1, &r), SCS_OK);
    EXPECT_EQ(r.lensId, 3);
    EXPECT_EQ(Lens(0, 2, &r), SCS_BAD_PARAMETER);
    EXPECT_EQ(Lens(1, 0, &r), SCS_BAD_PARAMETER);

    // Brightness on the word table: step 64 x 1023 / 127 = 515.
    std::vector<uint8_t> ramp(2048);
    for (int i = 0; i < 1024; ++i) {
        ramp[2 * i] = (uint8_t)i;
        ramp[2 * i + 1] = (uint8_t)(i >> 8);
    }
    ToneAdjustRequest request = {(uint32_t)(uintptr_t)ramp.data(), -64, 0};
    b = Block(SC_ADJUST_TONE_TABLE, &request);
    EXPECT_EQ(Send(lib, &b), SCS_OK);
    EXPECT_EQ(ramp[2 * 515] | ramp[2 * 515 + 1] << 8, 0);
    EXPECT_EQ(ramp[2 * 1023] | ramp[2 * 1023 + 1] << 8, 1023 - 515);
}

TEST_F(Tables, ModelNameFromTheConfiguration) {
    FileRestorer restore(IniPath());
    struct {
        const char *value;
        const char *expect;
    } cases[] = {
        {"", DEFAULT_MODEL_NAME},
        {nullptr, DEFAULT_MODEL_NAME},
        {"123456789012345678901234567890123456789", "123456789012345678901234567890123456789"},
        {"123456789012345678901234567890123456789ABCDEF", "123456789012345678901234567890123456789"},
    };
    for (auto &c : cases) {
        SetIni("MervixSystem", "ModelName", c.value);
        LoadFresh();
        ScannerDescription d;
        memset(&d, 0xEE, sizeof d);
        CommandBlock b = Block(SC_GET_DESCRIPTION, &d);
        EXPECT_EQ(Send(lib, &b), SCS_OK);
        EXPECT_EQ(std::string(d.modelName, strnlen(d.modelName, sizeof d.modelName)), c.expect)
            << (c.value ? c.value : "(missing)");
        FreeDevcmd(&lib);
    }
}

TEST_F(Tables, MapFileExactShortLongAndMissing) {
    FileRestorer restore(IniPath());
    std::string mapPath = BinDir() + "\\devcmd_test_map.bin";
    FileRestorer restoreMap(mapPath);
    std::string exact(3 * 256, 0);
    for (size_t i = 0; i < exact.size(); ++i) exact[i] = (char)(255 - i % 256 + i / 256);
    struct {
        std::string bytes;
        bool write;
        bool fromFile;
    } cases[] = {
        {exact, true, true},
        {exact + std::string(100, '\x42'), true, true},
        {exact.substr(0, exact.size() - 1), true, false},
        {std::string(), true, false},
        {std::string(), false, false},
    };
    for (auto &c : cases) {
        SetIni("MervixSystem", "MapFile", mapPath.c_str());
        DeleteFileA(mapPath.c_str());
        if (c.write) {
            ASSERT_TRUE(WriteWholeFile(mapPath, c.bytes));
        }
        LoadFresh();
        std::vector<uint8_t> tables(3 * 256);
        EXPECT_EQ(DefaultTable(1, tables.data()), SCS_OK);
        for (size_t i = 0; i < tables.size(); ++i) {
            uint8_t expect = c.fromFile ? (uint8_t)exact[i] : (uint8_t)(i % 256);
            ASSERT_EQ(tables[i], expect) << "size " << c.bytes.size() << " written " << c.write << " at " << i;
        }
        FreeDevcmd(&lib);
    }
    // A path too long for its buffer is cut and names nothing: the ramp.
    std::string overlong = mapPath + std::string(300, 'x');
    ASSERT_TRUE(WriteWholeFile(mapPath, exact));
    SetIni("MervixSystem", "MapFile", overlong.c_str());
    LoadFresh();
    std::vector<uint8_t> tables(3 * 256);
    EXPECT_EQ(DefaultTable(1, tables.data()), SCS_OK);
    EXPECT_EQ(tables[300], 300 - 256);
}

}  // namespace
