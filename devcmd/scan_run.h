// Checks shared by the scan commands.
#pragma once

#include <stdint.h>

#include "scanner_records.h"

// Lens record of the table that `flags` choose (SPF_LENS_TABLE_1, else
// SPF_LENS_TABLE_2, else table 0) checked against the area and resolutions:
// SCS_OK, SCS_BAD_PARAMETER, or the status of a map that cannot be opened.
int16_t CheckScanArea(uint32_t flags, uint16_t left, uint16_t top, uint16_t width, uint16_t height,
                      uint16_t xResolution, uint16_t yResolution, uint16_t lens);
// SCS_OK when `option` is 0 or available, else SCS_BAD_PARAMETER.
int16_t CheckOption(uint16_t option);
