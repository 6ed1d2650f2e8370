// State of the command library: what every client process shares (the
// .DShare section) and what each process keeps for itself.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "description_records.h"
#include "scanner_commander.h"
#include "scanner_records.h"
#include "spool_path.h"

// State word bits.
enum : uint32_t {
    SCF_ACQUIRED = 0x01,
    SCF_PARAMS_SET = 0x02,
    SCF_SCANNING = 0x10,
};

// The three named maps.
enum : int { MAP_SYSTEM = 0, MAP_USER = 1, MAP_LENS = 2, MAP_COUNT = 3 };

enum : uint32_t { LENS_RECORD_BYTES = 36 };

// One copy for every process that has the library loaded; it starts from
// these initial values when the first process loads the library. Handles
// in it are meaningful in the process that made them only.
struct SharedState {
    HalftonePattern builtInPatterns[BUILT_IN_PATTERNS];
    HalftonePattern workingPattern;
    HANDLE userMapCreation;
    HANDLE systemMapCreation;
    TableFormat tableFormat;
    uint16_t bytesPerTable;
    uint16_t monoTableSelect;
    uint32_t builtMarker;    // module handle of the process that built the maps, or 0
    uint32_t uniformNative;  // 1: native resolution is the same in every colour mode
    char spoolPath[SPOOL_PATH_CHARS];  // empty when the temporary path leaves no room
    uint32_t stateWord;
    HANDLE lensMapCreation;
    DeviceInfo deviceInfo;
    ScanParams scanParams;
    ScanParams requestedParams;  // as the caller set them
    ScannerDescription description;
    ScanStartInfo startInfo;
    uint16_t ownerId;
    uint16_t openCount;
    uint16_t currentLens;  // 0xFFFF until the driver has reported one
    // Scan run and rescaling.
    uint32_t rescaling;
    ScanLayout requestedLayout;
    ScanLayout nativeLayout;
    HANDLE spoolFile;   // null: none
    HGLOBAL lineBuffer; // null: none
    uint32_t verticalAccumulator;
    uint32_t halftonePosition;
    uint32_t repeatCount;
    int32_t lineStep;
    uint32_t lineConverter;
    // Kept beside the above so that a scan always ends clean.
    uint32_t paramsRewritten;        // the stored ScanParams are the rewritten ones of a rescaled start
    HalftonePattern rescalePattern;  // thresholds of library-made 1-bit lines
    DWORD spoolProcess;              // process that owns the spool file and line buffer handles
    uint32_t spoolLinesLeft;         // native lines still to spool
    uint32_t spoolPartialBytes;      // bytes of a native line spooled without the rest of it
    uint32_t spoolFilled;            // 1 once the whole native scan is in the spool file
};

extern SharedState g_shared;

// Per process.
struct ProcessState {
    HMODULE module;
    HANDLE driver;  // INVALID_HANDLE_VALUE: no device
    HANDLE mapHandle[MAP_COUNT];
    uint8_t *mapView[MAP_COUNT];
    SIZE_T mapViewBytes[MAP_COUNT];  // extent of the mapped view
    DWORD bytesReturned;             // receives the driver's byte counts
};

extern ProcessState g_process;
