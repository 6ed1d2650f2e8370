// Checks of scan settings against the scanner's description. Platform-free.
#pragma once

#include <stdint.h>

#include "scanner_records.h"

struct ScanArea {
    uint16_t left;
    uint16_t top;
    uint16_t width;
    uint16_t height;
    uint16_t xResolution;
    uint16_t yResolution;
};

// Resolutions within the lens's range, the area within its bed, width and
// height at least the lens's minimum. Sums are formed without 16-bit overflow.
bool AreaFitsLens(const LensRecord &lens, const ScanArea &area);

// Option 0 is "none"; option n needs bit (n - 1) mod 32 of the mask.
bool OptionAvailable(uint32_t optionMask, uint16_t option);
