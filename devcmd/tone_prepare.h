// Preparation of the working tone tables and the working halftone pattern
// for SC_SET_SCAN_PARAMS, and their reversal at scan start. The pointer
// fields of ScanParams are 32-bit addresses, so this is 32-bit code.
#pragma once

#include <stdint.h>

#include "scanner_records.h"
#include "tone_tables.h"

// Where the tables are, for one command: the views of the maps as the
// calling process has them.
struct ToneWork {
    ToneGeometry g;
    uint32_t tableCount;       // default tables in SystemMap, working slots in UserMap
    uint32_t monoTableSelect;  // the mono default table is number monoTableSelect - 3
    uint8_t *systemTables;     // SystemMap
    uint8_t *workingTables;    // UserMap from its second table slot
    uint8_t *workingPattern;   // 64 bytes
    const uint8_t *builtInPatterns;  // 4 x 64 bytes
};

// Halftone and gray scans: one working table. SCS_OK or SCS_BAD_PARAMETER.
int16_t PrepareOneTable(const ToneWork &work, ScanParams *params);
// Colour scans: one or three working tables. SCS_OK or SCS_BAD_PARAMETER.
int16_t PrepareColorTables(const ToneWork &work, ScanParams *params);
// Copies pattern `patternNumber` (4: the caller's at `pattern`) into the
// working pattern and points `pattern` at it.
void SelectHalftonePattern(const ToneWork &work, ScanParams *params);
// Reverses the working tables that exist, at most three.
void ReverseWorkingTables(const ToneWork &work);
