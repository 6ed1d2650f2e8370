// The virtual scanner: one flatbed, its description answers, its scan
// engine with the test chart, its button, lamp and port, the control
// interface for tests and the log of requests received.
//
// Platform-free and freestanding (no C library), so that the kernel driver
// and the host tests run the same code. The driver only moves bytes between
// IRPs and these calls; every length is checked here.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "scanner_records.h"
#include "vscan_control.h"

// The NTSTATUS values the model completes requests with.
enum : uint32_t {
    VS_STATUS_SUCCESS = 0x00000000,
    VS_STATUS_UNSUCCESSFUL = 0xC0000001,
    VS_STATUS_INVALID_DEVICE_REQUEST = 0xC0000010,
    VS_STATUS_INVALID_PARAMETER = 0xC000000D,
    VS_STATUS_BUFFER_TOO_SMALL = 0xC0000023,
    VS_STATUS_INVALID_DEVICE_STATE = 0xC0000184,
    VS_STATUS_DEVICE_NOT_CONNECTED = 0xC000009D,
    VS_STATUS_IO_DEVICE_ERROR = 0xC0000185,
    VS_STATUS_DEVICE_BUSY = 0x80000011,
    VS_STATUS_IO_TIMEOUT = 0xC00000B5,
};

// Bed coordinates of the chart: 4800 per inch (8 per scan-area unit).
enum : uint32_t { CHART_UNITS_PER_INCH = 4800, AREA_UNITS_PER_INCH = 600 };

#include "model_entry.h"

// The chart's colour at a bed position (chart units); for tests and docs.
void ChartColor(uint32_t x, uint32_t y, uint8_t rgb[3]);

// Layout the scanner computes for parameters; false when it refuses them.
bool ComputeLayout(const ScanLayout &request, ScanLayout *layout);

// Names of the profiles, for vscanctl and the docs.
uint32_t ModelProfileCount();
const char *ModelProfileName(uint32_t index);
