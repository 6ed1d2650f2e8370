// Preparation of the working tone tables and pattern, on tables in memory
// laid out as the maps hold them (32-bit: ScanParams carries addresses).
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "scanner_commander.h"
#include "tone_prepare.h"

namespace {

struct Maps {
    std::vector<uint8_t> system, user, patterns, working;
    ToneWork work;
    Maps(uint16_t tableCount, uint16_t monoTableSelect = 3) {
        TableFormat f = {255, tableCount, 1, 256, monoTableSelect};
        work.g = ToneGeometryOf(f);
        work.tableCount = tableCount;
        work.monoTableSelect = monoTableSelect;
        system.assign(tableCount * 256, 0);
        // Distinct default tables: table k holds (i + 10 k) mod 256.
        for (uint32_t k = 0; k < tableCount; ++k)
            for (uint32_t i = 0; i < 256; ++i) system[k * 256 + i] = (uint8_t)(i + 10 * k);
        user.assign((tableCount + 1) * 256 + 16, 0xEE);
        patterns.resize(4 * 64);
        for (size_t i = 0; i < patterns.size(); ++i) patterns[i] = (uint8_t)(i / 64 + 1);
        working.assign(64, 0);
        work.systemTables = system.data();
        work.workingTables = user.data() + 256;
        work.workingPattern = working.data();
        work.builtInPatterns = patterns.data();
    }
    uint8_t Working(uint32_t k, uint32_t i) { return user[256 + k * 256 + i]; }
};

uint32_t Address(const void *p) { return (uint32_t)(uintptr_t)p; }

ScanParams Params(uint16_t toneLayout, uint32_t flags = 0, const void *table = nullptr) {
    ScanParams p;
    memset(&p, 0, sizeof p);
    p.toneLayout = toneLayout;
    p.flags = flags;
    p.toneTable = Address(table);
    return p;
}

TEST(TonePrepare, OneTableByLayout) {
    Maps m(3);
    ScanParams p = Params(TL_THREE_TABLES);
    EXPECT_EQ(PrepareOneTable(m.work, &p), SCS_BAD_PARAMETER);
    EXPECT_EQ(m.Working(0, 5), 0xEE) << "nothing copied";
    p = Params(TL_ONE_TABLE);
    EXPECT_EQ(PrepareOneTable(m.work, &p), SCS_BAD_PARAMETER);

    // The client's table, unchanged whatever the levels.
    uint8_t client[256];
    for (int i = 0; i < 256; ++i) client[i] = (uint8_t)(255 - i);
    p = Params(TL_ONE_TABLE, 0, client);
    p.brightness = 50;
    EXPECT_EQ(PrepareOneTable(m.work, &p), SCS_OK);
    EXPECT_EQ(m.Working(0, 0), 255);
    EXPECT_EQ(m.Working(0, 255), 0);
    EXPECT_EQ(p.toneTable, Address(client));
    EXPECT_EQ(p.toneLayout, TL_ONE_TABLE);

    // The mono default table with brightness applied.
    p = Params(TL_DEFAULT_ADJUSTED);
    p.brightness = 64;
    EXPECT_EQ(PrepareOneTable(m.work, &p), SCS_OK);
    EXPECT_EQ(p.toneTable, Address(m.system.data()));
    EXPECT_EQ(p.toneLayout, TL_ONE_TABLE);
    EXPECT_EQ(m.Working(0, 0), 128);
    EXPECT_EQ(m.Working(0, 200), 255);
    EXPECT_EQ(m.Working(1, 0), 0xEE) << "one table only";

    // The default ramp, whatever the layout says.
    p = Params(TL_THREE_TABLES, SPF_DEFAULT_TONE);
    EXPECT_EQ(PrepareOneTable(m.work, &p), SCS_OK);
    EXPECT_EQ(p.toneTable, Address(m.work.workingTables));
    EXPECT_EQ(p.toneLayout, TL_ONE_TABLE);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(m.Working(0, i), i);
}

TEST(TonePrepare, MonoSelectorBeyondTheMap) {
    Maps m(3, 7);
    ScanParams p = Params(TL_DEFAULT_ADJUSTED);
    EXPECT_EQ(PrepareOneTable(m.work, &p), SCS_BAD_PARAMETER);
    EXPECT_EQ(m.Working(0, 0), 0xEE);
}

TEST(TonePrepare, ColorTablesByLayoutAndTableCount) {
    Maps m(3);
    ScanParams p = Params(TL_ONE_TABLE, SPF_DEFAULT_TONE);
    EXPECT_EQ(PrepareColorTables(m.work, &p), SCS_OK);
    EXPECT_EQ(p.toneLayout, TL_THREE_TABLES);
    for (uint32_t k = 0; k < 3; ++k)
        for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(m.Working(k, i), i);
    EXPECT_EQ(m.user[4 * 256], 0xEE);

    // The three default tables, each adjusted.
    p = Params(TL_DEFAULT_ADJUSTED);
    p.contrast = 127;
    EXPECT_EQ(PrepareColorTables(m.work, &p), SCS_OK);
    EXPECT_EQ(p.toneLayout, TL_THREE_TABLES);
    EXPECT_EQ(m.Working(1, 0), 10);   // low of table 1
    EXPECT_EQ(m.Working(1, 255), 9);  // high of table 1: (255 + 10) mod 256
    EXPECT_EQ(m.Working(2, 128), 19);

    // Three client tables, unchanged.
    std::vector<uint8_t> client(3 * 256);
    for (size_t i = 0; i < client.size(); ++i) client[i] = (uint8_t)(i / 256 + 100);
    p = Params(TL_THREE_TABLES, 0, client.data());
    p.brightness = 10;
    EXPECT_EQ(PrepareColorTables(m.work, &p), SCS_OK);
    EXPECT_EQ(m.Working(0, 9), 100);
    EXPECT_EQ(m.Working(2, 9), 102);

    p = Params(TL_ONE_TABLE, 0, client.data());
    EXPECT_EQ(PrepareColorTables(m.work, &p), SCS_BAD_PARAMETER);
    p = Params(TL_THREE_TABLES);
    EXPECT_EQ(PrepareColorTables(m.work, &p), SCS_BAD_PARAMETER);
}

TEST(TonePrepare, ColorTablesOnAOneTableScanner) {
    Maps m(1);
    uint8_t client[256] = {};
    ScanParams p = Params(TL_THREE_TABLES, 0, client);
    EXPECT_EQ(PrepareColorTables(m.work, &p), SCS_BAD_PARAMETER);
    EXPECT_EQ(m.Working(0, 0), 0xEE);
    p = Params(TL_ONE_TABLE, SPF_DEFAULT_TONE);
    EXPECT_EQ(PrepareColorTables(m.work, &p), SCS_OK);
    EXPECT_EQ(p.toneLayout, TL_ONE_TABLE);
    EXPECT_EQ(m.user[2 * 256], 0xEE) << "only the table that exists";
    p = Params(TL_DEFAULT_ADJUSTED);
    EXPECT_EQ(PrepareColorTables(m.work, &p), SCS_OK);
    EXPECT_EQ(p.toneTable, Address(m.system.data()));
    EXPECT_EQ(p.toneLayout, TL_ONE_TABLE);
    Maps two(2);
    p = Params(TL_DEFAULT_ADJUSTED);
    EXPECT_EQ(PrepareColorTables(two.work, &p), SCS_BAD_PARAMETER);
}

TEST(TonePrepare, HalftonePatternAndReversal) {
    Maps m(3);
    ScanParams p = Params(TL_DEFAULT_ADJUSTED);
    p.patternNumber = 2;
    SelectHalftonePattern(m.work, &p);
    EXPECT_EQ(p.pattern, Address(m.working.data()));
    EXPECT_EQ(m.working[0], 3);
    EXPECT_EQ(m.working[63], 3);
    uint8_t own[64];
    for (int i = 0; i < 64; ++i) own[i] = (uint8_t)(200 + i / 8);
    p.pattern = Address(own);
    p.patternNumber = 4;
    SelectHalftonePattern(m.work, &p);
    EXPECT_EQ(p.pattern, Address(m.working.data()));
    EXPECT_EQ(m.working[63], 207);

    ScanParams d = Params(TL_ONE_TABLE, SPF_DEFAULT_TONE);
    PrepareColorTables(m.work, &d);
    ReverseWorkingTables(m.work);
    for (uint32_t k = 0; k < 3; ++k) {
        EXPECT_EQ(m.Working(k, 0), 255);
        EXPECT_EQ(m.Working(k, 255), 0);
    }
    Maps one(1);
    ScanParams o = Params(TL_ONE_TABLE, SPF_DEFAULT_TONE);
    PrepareOneTable(one.work, &o);
    ReverseWorkingTables(one.work);
    EXPECT_EQ(one.Working(0, 0), 255);
    EXPECT_EQ(one.user[2 * 256], 0xEE) << "no table beyond the map";
}

}  // namespace
