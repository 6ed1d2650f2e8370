// Tone-table arithmetic. Contrast holds its factor in single precision and
// forms every quotient in long double before truncating, so the host and
// the 32-bit build give the same tables.
#include "tone_tables.h"

#include <string.h>

namespace {

// The single-precision value nearest to 1/127.
constexpr float kOneOver127 = 1.0f / 127.0f;

// Rounds the factor to single precision even where the compiler would keep
// it in an extended register.
long double SinglePrecisionFactor(int numerator) {
    volatile float f = (float)numerator * kOneOver127;
    return (long double)f;
}

// Truncation toward zero of an extended-precision value.
int64_t Trunc(long double x) { return (int64_t)x; }

uint32_t Clamp(int64_t v, uint32_t top) {
    if (v < 0) return 0;
    if (v > (int64_t)top) return top;
    return (uint32_t)v;
}

}  // namespace

ToneGeometry ToneGeometryOf(const TableFormat &format) {
    ToneGeometry g;
    g.width = format.bytesPerEntry == 1 ? 1u : 2u;
    g.bytesPerTable = (uint16_t)(format.entriesPerTable * format.bytesPerEntry);
    g.entries = format.entriesPerTable;
    if (g.entries * g.width > g.bytesPerTable) g.entries = g.bytesPerTable / g.width;
    g.maxValue = format.maxValue;
    return g;
}

uint32_t ToneEntry(const ToneGeometry &g, const uint8_t *table, uint32_t i) {
    if (g.width == 1) return table[i];
    return (uint32_t)table[2 * i] | ((uint32_t)table[2 * i + 1] << 8);
}

void SetToneEntry(const ToneGeometry &g, uint8_t *table, uint32_t i, uint32_t value) {
    if (g.width == 1) {
        table[i] = (uint8_t)value;
    } else {
        table[2 * i] = (uint8_t)value;
        table[2 * i + 1] = (uint8_t)(value >> 8);
    }
}

void AddClipBytes(uint8_t *table, uint8_t limit, uint32_t step, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t w = table[i] + step;
        table[i] = (w > 0xFF || w > limit) ? limit : (uint8_t)w;
    }
}

void AddClipWords(uint8_t *table, uint16_t limit, uint32_t step, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t v = (uint32_t)table[2 * i] | ((uint32_t)table[2 * i + 1] << 8);
        uint32_t w = v + step;
        uint32_t r = (w > 0xFFFF || w > limit) ? limit : w;
        table[2 * i] = (uint8_t)r;
        table[2 * i + 1] = (uint8_t)(r >> 8);
    }
}

void SubtractClipBytes(uint8_t *table, uint8_t floor, uint32_t step, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t v = table[i];
        table[i] = (v < step || v - step < floor) ? floor : (uint8_t)(v - step);
    }
}

void SubtractClipWords(uint8_t *table, uint16_t floor, uint32_t step, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t v = (uint32_t)table[2 * i] | ((uint32_t)table[2 * i + 1] << 8);
        uint32_t r = (v < step || v - step < floor) ? floor : v - step;
        table[2 * i] = (uint8_t)r;
        table[2 * i + 1] = (uint8_t)(r >> 8);
    }
}

void FillEntries(uint8_t *position, uint16_t value, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        position[2 * i] = (uint8_t)value;
        position[2 * i + 1] = (uint8_t)(value >> 8);
    }
}

void AdjustBrightness(const ToneGeometry &g, uint8_t *table, int level) {
    uint32_t e = g.entries;
    if (e == 0) return;
    if (level > 0) {
        uint32_t step = (uint32_t)level * (e - 1) / 127u;
        uint32_t limit = ToneEntry(g, table, e - 1);
        if (g.width == 1)
            AddClipBytes(table, (uint8_t)limit, step, e);
        else
            AddClipWords(table, (uint16_t)limit, step, e);
    } else {
        uint32_t step = (e - 1) * (uint32_t)(-level) / 127u;
        uint32_t floor = ToneEntry(g, table, 0);
        if (g.width == 1)
            SubtractClipBytes(table, (uint8_t)floor, step, e);
        else
            SubtractClipWords(table, (uint16_t)floor, step, e);
    }
}

void AdjustContrast(const ToneGeometry &g, uint8_t *table, int level) {
    uint32_t e = g.entries;
    if (e == 0) return;
    uint32_t top = g.width == 1 ? 0xFFu : 0xFFFFu;
    uint32_t low = ToneEntry(g, table, 0);
    uint32_t high = ToneEntry(g, table, e - 1);
    uint32_t half = e / 2;

    if (level >= 127) {
        // The odd last entry of an odd table is already high.
        if (g.width == 1) {
            memset(table, (int)low, half);
            memset(table + half, (int)high, half);
        } else {
            FillEntries(table, (uint16_t)low, half);
            FillEntries(table + 2 * half, (uint16_t)high, half);
        }
        return;
    }
    if (level <= -127) {
        uint32_t middle = ToneEntry(g, table, half);
        if (g.width == 1)
            memset(table, (int)middle, e);
        else
            FillEntries(table, (uint16_t)middle, e);
        return;
    }

    int64_t m = g.width == 1 ? 128 : (int64_t)half;
    if (level > 0) {
        long double f = SinglePrecisionFactor(127 - level);
        int64_t a = Trunc((long double)m * f);
        for (uint32_t i = 0; i < e; ++i) {
            int64_t v = ToneEntry(g, table, i);
            int64_t r;
            if (v > m) {
                if (v - m >= a) {
                    r = high;
                } else {
                    r = m + Trunc((long double)(v - m) / f + 0.5L);
                    if (r > (int64_t)high) r = high;
                }
            } else {
                if (v <= m - a) {
                    r = low;
                } else {
                    r = Trunc((long double)(v - (m - a)) / f + 0.5L);
                    if (r < (int64_t)low) r = low;
                }
            }
            SetToneEntry(g, table, i, Clamp(r, top));
        }
    } else {
        long double f = SinglePrecisionFactor(level + 127);
        for (uint32_t i = 0; i < e; ++i) {
            int64_t v = ToneEntry(g, table, i);
            int64_t r;
            if (v > m)
                r = m + Trunc((long double)(v - m) * f + 0.5L);
            else
                r = Trunc((long double)m - ((long double)(m - v) + 0.5L) * f);
            if (r < (int64_t)low) r = low;
            SetToneEntry(g, table, i, Clamp(r, top));
        }
    }
}

void CopyAndAdjust(const ToneGeometry &g, const uint8_t *source, uint8_t *destination,
                   int brightness, int contrast, bool apply) {
    memmove(destination, source, g.bytesPerTable);
    if (!apply) return;
    if (brightness != 0) AdjustBrightness(g, destination, brightness);
    if (contrast != 0) AdjustContrast(g, destination, contrast);
}

void FillDefaultRamp(const ToneGeometry &g, uint8_t *table) {
    uint32_t e = g.entries;
    if (e == 0) return;
    // maxValue + 1 is formed in 32 bits, so a maxValue of 65535 still gives
    // a full ramp.
    uint32_t span = g.maxValue + 1;
    for (uint32_t i = 0; i < e; ++i) SetToneEntry(g, table, i, (uint32_t)((uint64_t)i * span / e));
}

void FillDefaultTables(const ToneGeometry &g, uint8_t *first, uint32_t count) {
    for (uint32_t k = 0; k < count; ++k) FillDefaultRamp(g, first + (uint64_t)k * g.bytesPerTable);
}

void ReverseToneTables(const ToneGeometry &g, uint8_t *first, uint32_t count) {
    uint32_t e = g.entries;
    if (e < 2) return;
    for (uint32_t k = 0; k < count; ++k) {
        uint8_t *table = first + (uint64_t)k * g.bytesPerTable;
        for (uint32_t i = 0; i < e / 2; ++i) {
            uint32_t a = ToneEntry(g, table, i);
            uint32_t b = ToneEntry(g, table, e - 1 - i);
            SetToneEntry(g, table, i, b);
            SetToneEntry(g, table, e - 1 - i, a);
        }
    }
}
