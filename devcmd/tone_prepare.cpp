#include "tone_prepare.h"

#include <string.h>

#include "scanner_commander.h"

static_assert(sizeof(void *) == 4, "ScanParams holds 32-bit addresses");

namespace {

uint32_t AddressOf(const void *p) { return (uint32_t)(uintptr_t)p; }
const uint8_t *PointerAt(uint32_t address) { return reinterpret_cast<const uint8_t *>((uintptr_t)address); }

const uint8_t *SystemTable(const ToneWork &work, uint32_t k) {
    return work.systemTables + (size_t)k * work.g.bytesPerTable;
}

uint8_t *WorkingTable(const ToneWork &work, uint32_t k) {
    return work.workingTables + (size_t)k * work.g.bytesPerTable;
}

// The mono default table, or null when the selector names no table.
const uint8_t *MonoDefaultTable(const ToneWork &work) {
    if (work.monoTableSelect < 3 || work.monoTableSelect - 3 >= work.tableCount) return nullptr;
    return SystemTable(work, work.monoTableSelect - 3);
}

}  // namespace

int16_t PrepareOneTable(const ToneWork &work, ScanParams *params) {
    if (params->flags & SPF_DEFAULT_TONE) {
        FillDefaultRamp(work.g, WorkingTable(work, 0));
        params->toneTable = AddressOf(work.workingTables);
        params->toneLayout = TL_ONE_TABLE;
        return SCS_OK;
    }
    if (params->toneLayout == TL_DEFAULT_ADJUSTED) {
        const uint8_t *source = MonoDefaultTable(work);
        if (!source) return SCS_BAD_PARAMETER;
        params->toneTable = AddressOf(source);
        CopyAndAdjust(work.g, source, WorkingTable(work, 0), params->brightness, params->contrast, true);
    } else if (params->toneLayout == TL_ONE_TABLE) {
        if (params->toneTable == 0) return SCS_BAD_PARAMETER;
        CopyAndAdjust(work.g, PointerAt(params->toneTable), WorkingTable(work, 0), 0, 0, false);
    } else {
        return SCS_BAD_PARAMETER;
    }
    params->toneLayout = TL_ONE_TABLE;
    return SCS_OK;
}

int16_t PrepareColorTables(const ToneWork &work, ScanParams *params) {
    if (params->flags & SPF_DEFAULT_TONE) {
        FillDefaultTables(work.g, WorkingTable(work, 0), work.tableCount);
        params->toneTable = AddressOf(work.workingTables);
        params->toneLayout = work.tableCount == 3 ? TL_THREE_TABLES : TL_ONE_TABLE;
        return SCS_OK;
    }
    const uint8_t *sources[3];
    uint32_t count;
    bool apply;
    if (params->toneLayout == TL_DEFAULT_ADJUSTED) {
        apply = true;
        if (work.tableCount == 1) {
            sources[0] = SystemTable(work, 0);
            params->toneTable = AddressOf(sources[0]);
            count = 1;
        } else if (work.tableCount >= 3) {
            for (uint32_t k = 0; k < 3; ++k) sources[k] = SystemTable(work, k);
            count = 3;
        } else {
            // Two tables: neither one nor three colours.
            return SCS_BAD_PARAMETER;
        }
    } else {
        if (params->toneTable == 0) return SCS_BAD_PARAMETER;
        apply = false;
        const uint8_t *client = PointerAt(params->toneTable);
        if (params->toneLayout == TL_ONE_TABLE && work.tableCount == 1) {
            sources[0] = client;
            count = 1;
        } else if (params->toneLayout == TL_THREE_TABLES && work.tableCount == 3) {
            for (uint32_t k = 0; k < 3; ++k) sources[k] = client + (size_t)k * work.g.bytesPerTable;
            count = 3;
        } else {
            return SCS_BAD_PARAMETER;
        }
    }
    for (uint32_t k = 0; k < count; ++k)
        CopyAndAdjust(work.g, sources[k], WorkingTable(work, k), params->brightness, params->contrast, apply);
    params->toneLayout = count == 1 ? TL_ONE_TABLE : TL_THREE_TABLES;
    return SCS_OK;
}

void SelectHalftonePattern(const ToneWork &work, ScanParams *params) {
    const uint8_t *source = nullptr;
    if (params->patternNumber == 4)
        source = PointerAt(params->pattern);
    else if (params->patternNumber < 4)
        source = work.builtInPatterns + (size_t)params->patternNumber * HALFTONE_PATTERN_BYTES;
    if (source) memmove(work.workingPattern, source, HALFTONE_PATTERN_BYTES);
    params->pattern = AddressOf(work.workingPattern);
}

void ReverseWorkingTables(const ToneWork &work) {
    ReverseToneTables(work.g, work.workingTables, work.tableCount < 3 ? work.tableCount : 3);
}
