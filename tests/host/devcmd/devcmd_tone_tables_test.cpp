// Tone-table arithmetic against one table of cases; the same program runs
// in the host build and, 32-bit, under Wine, so both must give these values.
#include <gtest/gtest.h>

#include <stdint.h>

#include <vector>

#include "tone_tables.h"

namespace {

ToneGeometry Geometry(uint16_t entries, uint16_t bytesPerEntry, uint16_t maxValue) {
    TableFormat f{};
    f.maxValue = maxValue;
    f.tableCount = 3;
    f.bytesPerEntry = bytesPerEntry;
    f.entriesPerTable = entries;
    f.monoTableSelect = 3;
    return ToneGeometryOf(f);
}

// A table with a guard zone behind it, to see writes past its end.
struct Table {
    ToneGeometry g;
    std::vector<uint8_t> bytes;
    explicit Table(const ToneGeometry &geometry) : g(geometry), bytes(geometry.bytesPerTable + 16, 0xA5) {}
    uint8_t *data() { return bytes.data(); }
    uint32_t at(uint32_t i) { return ToneEntry(g, data(), i); }
    bool GuardIntact() {
        for (size_t i = g.bytesPerTable; i < bytes.size(); ++i)
            if (bytes[i] != 0xA5) return false;
        return true;
    }
};

Table Identity(uint16_t entries, uint16_t bytesPerEntry) {
    Table t(Geometry(entries, bytesPerEntry, (uint16_t)(entries - 1)));
    for (uint32_t i = 0; i < entries; ++i) SetToneEntry(t.g, t.data(), i, i);
    return t;
}

enum Kind { BRIGHTNESS, CONTRAST };

struct Case {
    Kind kind;
    int level;
    uint16_t entries;
    uint16_t bytesPerEntry;
    // pairs of (input level, expected output) on the identity table
    std::vector<std::pair<uint32_t, uint32_t>> expect;
};

// Expected values from the formulas in exact rational arithmetic with the
// single-precision factor.
const Case kCases[] = {
    // Byte tables.
    {BRIGHTNESS, 64, 256, 1, {{0, 128}, {126, 254}, {127, 255}, {255, 255}}},
    {BRIGHTNESS, -64, 256, 1, {{0, 0}, {128, 0}, {129, 1}, {255, 127}}},
    {BRIGHTNESS, 1, 256, 1, {{0, 2}, {100, 102}, {253, 255}, {254, 255}}},
    {BRIGHTNESS, -1, 256, 1, {{0, 0}, {1, 0}, {2, 0}, {3, 1}, {255, 253}}},
    {BRIGHTNESS, 127, 256, 1, {{0, 255}, {255, 255}}},
    {CONTRAST, 64, 256, 1, {{60, 0}, {65, 0}, {66, 2}, {100, 71}, {128, 127}, {150, 172}, {191, 255}, {200, 255}}},
    {CONTRAST, -64, 256, 1, {{0, 64}, {100, 113}, {128, 127}, {129, 128}, {200, 164}, {255, 191}}},
    {CONTRAST, 127, 256, 1, {{0, 0}, {127, 0}, {128, 255}, {255, 255}}},
    {CONTRAST, -127, 256, 1, {{0, 128}, {77, 128}, {255, 128}}},
    {CONTRAST, 1, 256, 1, {{2, 0}, {3, 1}, {127, 126}, {128, 127}, {129, 129}, {254, 255}, {255, 255}}},
    {CONTRAST, -126, 256, 1, {{0, 126}, {128, 127}, {255, 129}}},
    // Word tables, identity over 4096 entries: pivot E / 2 = 2048.
    {BRIGHTNESS, 64, 4096, 2, {{0, 2063}, {2032, 4095}, {2033, 4095}, {4095, 4095}}},
    {BRIGHTNESS, -64, 4096, 2, {{0, 0}, {2063, 0}, {2064, 1}, {4095, 2032}}},
    {CONTRAST, 64, 4096, 2, {{0, 0}, {1033, 0}, {1034, 2}, {2049, 2050}, {3062, 4092}, {3063, 4095}}},
    {CONTRAST, -64, 4096, 2, {{0, 1031}, {2048, 2047}, {4095, 3063}}},
    {CONTRAST, 127, 4096, 2, {{0, 0}, {2047, 0}, {2048, 4095}, {4095, 4095}}},
    {CONTRAST, -127, 4096, 2, {{0, 2048}, {4095, 2048}}},
    // An odd table at the maximum: the last entry keeps its value.
    {CONTRAST, 127, 5, 2, {{0, 0}, {1, 0}, {2, 4}, {3, 4}, {4, 4}}},
    {CONTRAST, -127, 5, 1, {{0, 2}, {4, 2}}},
};

TEST(ToneTables, BrightnessAndContrastOnIdentityTables) {
    for (const Case &c : kCases) {
        Table t = Identity(c.entries, c.bytesPerEntry);
        if (c.kind == BRIGHTNESS)
            AdjustBrightness(t.g, t.data(), c.level);
        else
            AdjustContrast(t.g, t.data(), c.level);
        for (auto [in, out] : c.expect)
            EXPECT_EQ(t.at(in), out) << (c.kind == BRIGHTNESS ? "brightness " : "contrast ") << c.level
                                     << " E=" << c.entries << " width=" << c.bytesPerEntry << " entry " << in;
        EXPECT_TRUE(t.GuardIntact());
    }
}

TEST(ToneTables, ContrastOutputIsMonotonicAndInRange) {
    for (int level = -127; level <= 127; ++level) {
        for (uint16_t width : {1, 2}) {
            Table t = Identity(256, width);
            AdjustContrast(t.g, t.data(), level);
            for (uint32_t i = 1; i < 256; ++i) ASSERT_LE(t.at(i - 1), t.at(i)) << level << " at " << i;
            ASSERT_LE(t.at(255), 255u);
            ASSERT_TRUE(t.GuardIntact());
        }
    }
}

TEST(ToneTables, DefaultRamp) {
    struct {
        uint16_t entries, width, maxValue;
        std::vector<std::pair<uint32_t, uint32_t>> expect;
    } ramps[] = {
        {256, 1, 255, {{0, 0}, {1, 1}, {128, 128}, {255, 255}}},
        {1024, 2, 255, {{0, 0}, {3, 0}, {4, 1}, {1023, 255}}},
        {4096, 2, 4095, {{0, 0}, {1234, 1234}, {4095, 4095}}},
        // The full 16-bit span, beyond what 16-bit arithmetic would hold.
        {256, 2, 65535, {{0, 0}, {1, 256}, {255, 65280}}},
        // A byte table of 1024 entries keeps the low 8 bits.
        {1024, 1, 1023, {{255, 255}, {256, 0}, {1023, 255}}},
    };
    for (auto &r : ramps) {
        Table t(Geometry(r.entries, r.width, r.maxValue));
        FillDefaultRamp(t.g, t.data());
        for (auto [in, out] : r.expect) EXPECT_EQ(t.at(in), out) << "E=" << r.entries << " entry " << in;
        EXPECT_TRUE(t.GuardIntact());
    }
    // Identity in every entry where E = maxValue + 1.
    Table word(Geometry(4096, 2, 4095));
    FillDefaultRamp(word.g, word.data());
    for (uint32_t i = 0; i < 4096; ++i) ASSERT_EQ(word.at(i), i);
}

TEST(ToneTables, DefaultTablesFillEachTableAndNothingMore) {
    ToneGeometry g = Geometry(256, 1, 255);
    std::vector<uint8_t> tables(4 * 256, 0x11);
    FillDefaultTables(g, tables.data(), 3);
    for (uint32_t k = 0; k < 3; ++k)
        for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(tables[k * 256 + i], i);
    for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(tables[3 * 256 + i], 0x11);
    FillDefaultTables(g, tables.data() + 3 * 256, 0);
    EXPECT_EQ(tables[3 * 256], 0x11);
}

TEST(ToneTables, ClipHelpersOverflowAndLimits) {
    uint8_t bytes[] = {0, 100, 200, 250};
    AddClipBytes(bytes, 240, 20, 4);
    EXPECT_EQ(bytes[0], 20);
    EXPECT_EQ(bytes[1], 120);
    EXPECT_EQ(bytes[2], 220);
    EXPECT_EQ(bytes[3], 240);  // 270 overflows the byte
    uint8_t low[] = {5, 30, 100};
    SubtractClipBytes(low, 10, 20, 3);
    EXPECT_EQ(low[0], 10);  // would go below 0
    EXPECT_EQ(low[1], 10);  // 10 is the floor
    EXPECT_EQ(low[2], 80);
    uint8_t words[] = {0xF0, 0xFF, 0x10, 0x00};  // 65520, 16
    AddClipWords(words, 0xFFFF, 100, 2);
    EXPECT_EQ(words[0] | words[1] << 8, 0xFFFF);
    EXPECT_EQ(words[2] | words[3] << 8, 116);
    uint8_t fill[8] = {};
    FillEntries(fill + 2, 0x1234, 2);
    EXPECT_EQ(fill[1], 0);
    EXPECT_EQ(fill[2], 0x34);
    EXPECT_EQ(fill[5], 0x12);
    EXPECT_EQ(fill[6], 0);
}

TEST(ToneTables, ByteTableWiderThanAByteClipsWithoutWrapping) {
    // E = 1024 byte entries: the brightness step exceeds 255.
    Table t(Geometry(1024, 1, 255));
    FillDefaultRamp(t.g, t.data());
    AdjustBrightness(t.g, t.data(), 100);
    for (uint32_t i = 0; i < 1024; ++i) ASSERT_EQ(t.at(i), 255u);
    FillDefaultRamp(t.g, t.data());
    AdjustBrightness(t.g, t.data(), -100);
    for (uint32_t i = 0; i < 1024; ++i) ASSERT_EQ(t.at(i), 0u);
    EXPECT_TRUE(t.GuardIntact());
}

TEST(ToneTables, CopyAndAdjustBrightnessBeforeContrast) {
    Table source = Identity(256, 1);
    Table copied(source.g), adjusted(source.g), expected = Identity(256, 1);
    CopyAndAdjust(source.g, source.data(), copied.data(), 30, 40, false);
    for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(copied.at(i), i);
    CopyAndAdjust(source.g, source.data(), adjusted.data(), 30, 40, true);
    AdjustBrightness(expected.g, expected.data(), 30);
    AdjustContrast(expected.g, expected.data(), 40);
    for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(adjusted.at(i), expected.at(i));
    EXPECT_TRUE(adjusted.GuardIntact());
}

TEST(ToneTables, ReverseEachTable) {
    ToneGeometry g = Geometry(256, 1, 255);
    std::vector<uint8_t> tables(3 * 256);
    FillDefaultTables(g, tables.data(), 3);
    ReverseToneTables(g, tables.data(), 3);
    for (uint32_t k = 0; k < 3; ++k)
        for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(tables[k * 256 + i], 255 - i);
    Table odd = Identity(5, 2);
    ReverseToneTables(odd.g, odd.data(), 1);
    EXPECT_EQ(odd.at(0), 4u);
    EXPECT_EQ(odd.at(2), 2u);
    EXPECT_EQ(odd.at(4), 0u);
}

TEST(ToneTables, GeometryNeverReachesPastTheTable) {
    // 40000 word entries do not fit a 16-bit table size.
    ToneGeometry g = Geometry(40000, 2, 255);
    EXPECT_EQ(g.bytesPerTable, (uint32_t)(uint16_t)(40000 * 2));
    EXPECT_LE(g.entries * g.width, g.bytesPerTable);
    Table t(g);
    FillDefaultRamp(g, t.data());
    AdjustContrast(g, t.data(), 50);
    AdjustBrightness(g, t.data(), 50);
    ReverseToneTables(g, t.data(), 1);
    EXPECT_TRUE(t.GuardIntact());
    // No entries: nothing happens.
    ToneGeometry none = Geometry(0, 1, 255);
    Table empty(none);
    FillDefaultRamp(none, empty.data());
    AdjustBrightness(none, empty.data(), 10);
    AdjustContrast(none, empty.data(), 10);
    EXPECT_TRUE(empty.GuardIntact());
}

}  // namespace
