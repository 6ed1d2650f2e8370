// Records that cross the boundary between the command library and the
// scanner driver, and the driver's control codes. Little-endian, packed,
// the exact 32-bit layout on every build: pointer fields are 32-bit words.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Device control codes of "\\.\ORVSCNR" (device type 0x16).
enum : uint32_t {
    IOCTL_SCANNER_GET_DEVICE_INFO = 0x166402,
    IOCTL_SCANNER_GET_LENS_RECORD = 0x166406,
    IOCTL_SCANNER_GET_TABLE_FORMAT = 0x16640A,
    IOCTL_SCANNER_SET_TONE_TABLES = 0x16240E,
    IOCTL_SCANNER_GET_SCAN_LAYOUT = 0x166412,
    IOCTL_SCANNER_POLL_BUTTON = 0x166414,
    IOCTL_SCANNER_ACTION_1 = 0x166418,
    IOCTL_SCANNER_ACTION_2 = 0x16A41C,
    IOCTL_SCANNER_ACTION_3 = 0x166420,
    IOCTL_SCANNER_ACTION_4 = 0x166424,
    IOCTL_SCANNER_ACQUIRE = 0x162428,
    IOCTL_SCANNER_SET_PARAMS = 0x16242E,
    IOCTL_SCANNER_START = 0x16A430,
    IOCTL_SCANNER_STOP = 0x16A434,
    IOCTL_SCANNER_RELEASE = 0x16A438,
    IOCTL_SCANNER_PORT_SERVICE = 0x16243E,
    IOCTL_SCANNER_SET_HALFTONE = 0x16A442,
    IOCTL_SCANNER_SELECT_LENS = 0x16A444,
    IOCTL_SCANNER_GET_CURRENT_LENS = 0x166448,
};

// Colour modes.
enum : uint16_t { SCM_LINEART = 0, SCM_HALFTONE = 1, SCM_GRAY = 2, SCM_COLOR = 3 };

// ScanParams.flags bits.
enum : uint32_t {
    SPF_INVERT_PATTERN = 0x01,
    SPF_COLOR_ONLY = 0x10,  // kept for colour scans only
    SPF_BOTTOM_UP = 0x20,
    SPF_DEFAULT_TONE = 0x80,
    SPF_LENS_TABLE_1 = 0x100,
    SPF_LENS_TABLE_2 = 0x200,
};

// DeviceInfo.deviceFlags bits.
enum : uint8_t { DIF_LENS_TABLE_1 = 0x20, DIF_LENS_TABLE_2 = 0x40 };

// toneLayout values.
enum : uint16_t { TL_ONE_TABLE = 0, TL_THREE_TABLES = 1, TL_DEFAULT_ADJUSTED = 2 };

#pragma pack(push, 1)

// Answer of IOCTL_SCANNER_GET_DEVICE_INFO. The library uses maxColorMode,
// optionMask, deviceFlags, lensCount and descriptionWord; the rest describes
// the virtual scanner and is passed through.
struct DeviceInfo {
    uint16_t modelId;          // 0
    uint16_t firmwareVersion;  // 2
    uint16_t maxColorMode;     // 4
    uint16_t areaUnit;         // 6: scan-area units per inch
    uint32_t optionMask;       // 8
    uint8_t deviceFlags;       // 12
    uint8_t reserved13;        // 13
    uint16_t bedWidth;         // 14: in area units
    uint16_t bedHeight;        // 16
    uint16_t reserved18;       // 18
    uint16_t reserved20;       // 20
    uint16_t lensCount;        // 22
    uint16_t reserved24;       // 24
    uint16_t reserved26;       // 26
    uint16_t descriptionWord;  // 28
};

// One lens record (IOCTL_SCANNER_GET_LENS_RECORD).
struct LensRecord {
    uint16_t minResolution;         // 0
    uint16_t lensId;                // 2
    uint16_t maxResolution;         // 4
    uint16_t nativeResolution;      // 6
    uint16_t reserved8;             // 8
    uint16_t reserved10;            // 10
    uint16_t reserved12;            // 12
    uint16_t nativeResolutionMono;  // 14
    uint16_t minWidth;              // 16
    uint16_t reserved18;            // 18
    uint16_t areaWidth;             // 20
    uint16_t reserved22;            // 22
    uint16_t minHeight;             // 24
    uint16_t reserved26;            // 26
    uint16_t areaHeight;            // 28
    uint16_t reserved30;            // 30
    uint16_t reserved32;            // 32
    uint16_t reserved34;            // 34
};

struct LensRequest {
    uint16_t lensIndex;
    uint16_t tableNumber;
};

struct TableFormat {
    uint16_t maxValue;
    uint16_t tableCount;
    uint16_t bytesPerEntry;
    uint16_t entriesPerTable;
    uint16_t monoTableSelect;
};

// Scan parameters: the caller's record of SC_SET_SCAN_PARAMS and the input
// of IOCTL_SCANNER_SET_PARAMS.
struct ScanParams {
    uint32_t pattern;    // 0: address of a 64-byte halftone pattern
    uint32_t toneTable;  // 4: address of the tone table(s)
    uint32_t flags;      // 8
    uint16_t left;       // 12
    uint16_t top;        // 14
    uint16_t width;      // 16
    uint16_t height;     // 18
    uint16_t xResolution;    // 20
    uint16_t yResolution;    // 22
    uint16_t colorMode;      // 24
    uint16_t option;         // 26
    uint16_t lens;           // 28
    uint16_t toneLayout;     // 30
    uint16_t patternNumber;  // 32
    int16_t brightness;      // 34
    int16_t contrast;        // 36
};

// In and out of IOCTL_SCANNER_GET_SCAN_LAYOUT: the driver fills the first
// 20 bytes from the parameter bytes, which are ScanParams bytes 8 to 29.
struct ScanLayout {
    uint32_t pixelsPerLine;  // 0
    uint32_t bytesPerLine;   // 4
    uint32_t lineCount;      // 8
    uint16_t bitsPerPixel;   // 12: driver's own, not used by the library
    uint16_t reserved14;     // 14
    uint32_t imageBytes;     // 16: driver's own, not used by the library
    uint32_t flags;          // 20
    uint16_t left;           // 24
    uint16_t top;            // 26
    uint16_t width;          // 28
    uint16_t height;         // 30
    uint16_t xResolution;    // 32
    uint16_t yResolution;    // 34
    uint16_t colorMode;      // 36
    uint16_t option;         // 38
    uint16_t lens;           // 40
};

// Answer of IOCTL_SCANNER_START.
struct ScanStartInfo {
    uint32_t bytesPerLine;
    uint32_t linesLeft;
};

// Port-service sub-commands' answers, as they lie in PortRequest.payload.
struct PortSettings {          // SCP_GET_SETTINGS, 12 bytes
    uint32_t lampOffSeconds;   // 0 = lamp stays on
    uint16_t lampState;        // 1 while the lamp is lit (not read by the utility)
    uint16_t portAddress;      // 0xFFFF = none
    uint16_t portMode;         // PORT_MODE_EPP 0, PORT_MODE_SPP 1
    uint16_t portKind;         // PORT_KIND_SCANPORT 16, else a parallel port
};

struct PortTest {              // SCP_TEST_PORT, 4 bytes
    uint16_t address;
    uint16_t mode;
};

#pragma pack(pop)

enum : uint16_t {
    PORT_ADDRESS_UNDEFINED = 0xFFFF,
    PORT_MODE_EPP = 0,
    PORT_MODE_SPP = 1,
    PORT_KIND_SCANPORT = 16,
};

enum : uint32_t { HALFTONE_PATTERN_BYTES = 64, SCAN_SETTINGS_BYTES = 22 };

static_assert(sizeof(DeviceInfo) == 30);
static_assert(offsetof(DeviceInfo, maxColorMode) == 4);
static_assert(offsetof(DeviceInfo, optionMask) == 8);
static_assert(offsetof(DeviceInfo, deviceFlags) == 12);
static_assert(offsetof(DeviceInfo, lensCount) == 22);
static_assert(offsetof(DeviceInfo, descriptionWord) == 28);

static_assert(sizeof(LensRecord) == 36);
static_assert(offsetof(LensRecord, minResolution) == 0);
static_assert(offsetof(LensRecord, maxResolution) == 4);
static_assert(offsetof(LensRecord, nativeResolution) == 6);
static_assert(offsetof(LensRecord, nativeResolutionMono) == 14);
static_assert(offsetof(LensRecord, minWidth) == 16);
static_assert(offsetof(LensRecord, areaWidth) == 20);
static_assert(offsetof(LensRecord, minHeight) == 24);
static_assert(offsetof(LensRecord, areaHeight) == 28);

static_assert(sizeof(LensRequest) == 4);
static_assert(sizeof(TableFormat) == 10);
static_assert(offsetof(TableFormat, tableCount) == 2);
static_assert(offsetof(TableFormat, bytesPerEntry) == 4);
static_assert(offsetof(TableFormat, entriesPerTable) == 6);
static_assert(offsetof(TableFormat, monoTableSelect) == 8);

static_assert(sizeof(ScanParams) == 38);
static_assert(offsetof(ScanParams, toneTable) == 4);
static_assert(offsetof(ScanParams, flags) == 8);
static_assert(offsetof(ScanParams, left) == 12);
static_assert(offsetof(ScanParams, top) == 14);
static_assert(offsetof(ScanParams, width) == 16);
static_assert(offsetof(ScanParams, height) == 18);
static_assert(offsetof(ScanParams, xResolution) == 20);
static_assert(offsetof(ScanParams, yResolution) == 22);
static_assert(offsetof(ScanParams, colorMode) == 24);
static_assert(offsetof(ScanParams, option) == 26);
static_assert(offsetof(ScanParams, lens) == 28);
static_assert(offsetof(ScanParams, toneLayout) == 30);
static_assert(offsetof(ScanParams, patternNumber) == 32);
static_assert(offsetof(ScanParams, brightness) == 34);
static_assert(offsetof(ScanParams, contrast) == 36);

static_assert(sizeof(ScanLayout) == 42);
static_assert(offsetof(ScanLayout, bytesPerLine) == 4);
static_assert(offsetof(ScanLayout, lineCount) == 8);
static_assert(offsetof(ScanLayout, flags) == 20);
static_assert(offsetof(ScanLayout, lens) == 40);
static_assert(offsetof(ScanLayout, lens) - offsetof(ScanLayout, flags) ==
              offsetof(ScanParams, lens) - offsetof(ScanParams, flags));
static_assert(offsetof(ScanParams, toneLayout) - offsetof(ScanParams, flags) == SCAN_SETTINGS_BYTES);

static_assert(sizeof(ScanStartInfo) == 8);
static_assert(sizeof(PortSettings) == 12);
static_assert(offsetof(PortSettings, portAddress) == 6);
static_assert(offsetof(PortSettings, portMode) == 8);
static_assert(offsetof(PortSettings, portKind) == 10);
static_assert(sizeof(PortTest) == 4);
