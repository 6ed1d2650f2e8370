// Tone-table arithmetic: the default ramp, brightness and contrast steps,
// copies and reversal. Platform-free; the command library and the host
// tests share it. Tables are byte tables (one unsigned byte an entry) or
// word tables (little-endian u16 entries).
#pragma once

#include <stdint.h>

#include "scanner_records.h"

// The geometry every table of the scanner shares, derived from its
// TableFormat. `entries` never reaches past `bytesPerTable`, the size every
// table buffer and map slot is made with.
struct ToneGeometry {
    uint32_t entries;        // E
    uint32_t width;          // 1 for byte tables, 2 for word tables
    uint32_t bytesPerTable;  // entriesPerTable x bytesPerEntry in 16 bits
    uint32_t maxValue;
};

ToneGeometry ToneGeometryOf(const TableFormat &format);

uint32_t ToneEntry(const ToneGeometry &g, const uint8_t *table, uint32_t i);
void SetToneEntry(const ToneGeometry &g, uint8_t *table, uint32_t i, uint32_t value);

// Clipping helpers over `count` entries.
void AddClipBytes(uint8_t *table, uint8_t limit, uint32_t step, uint32_t count);
void AddClipWords(uint8_t *table, uint16_t limit, uint32_t step, uint32_t count);
void SubtractClipBytes(uint8_t *table, uint8_t floor, uint32_t step, uint32_t count);
void SubtractClipWords(uint8_t *table, uint16_t floor, uint32_t step, uint32_t count);
// Stores `value` into `count` consecutive word entries from `position`.
void FillEntries(uint8_t *position, uint16_t value, uint32_t count);

// Levels -127..127; callers check the range.
void AdjustBrightness(const ToneGeometry &g, uint8_t *table, int level);
void AdjustContrast(const ToneGeometry &g, uint8_t *table, int level);
void CopyAndAdjust(const ToneGeometry &g, const uint8_t *source, uint8_t *destination,
                   int brightness, int contrast, bool apply);

// Entry i = i x (maxValue + 1) / E, truncated.
void FillDefaultRamp(const ToneGeometry &g, uint8_t *table);
void FillDefaultTables(const ToneGeometry &g, uint8_t *first, uint32_t count);

// Reverses each of `count` consecutive tables in place.
void ReverseToneTables(const ToneGeometry &g, uint8_t *first, uint32_t count);
