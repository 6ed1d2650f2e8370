// The command library's one entry, ScannerCommander, and what a client
// passes to it: the command block, the command and status codes, and the
// port-service request.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "scanner_records.h"

#ifdef _WIN32
#include <windows.h>
// winuser.h's system-menu SC_CLOSE (0xF060) would silently replace the
// command code below; WM_SYSCOMMAND code can spell 0xF060 itself.
#undef SC_CLOSE
#endif

// Command codes (CommandBlock.command).
enum : uint16_t {
    SC_OPEN = 0,
    SC_CLOSE = 1,
    SC_GET_DEVICE_INFO = 2,
    SC_GET_LENS_RECORD = 3,
    SC_GET_DESCRIPTION = 4,
    SC_GET_HALFTONE_PATTERN = 5,
    SC_GET_TABLE_FORMAT = 6,
    SC_GET_DEFAULT_TONE_TABLE = 7,
    SC_ADJUST_TONE_TABLE = 8,
    SC_GET_SCAN_LAYOUT = 9,
    SC_POLL_BUTTON = 10,
    SC_DEVICE_ACTION_1 = 11,
    SC_DEVICE_ACTION_2 = 12,
    SC_DEVICE_ACTION_3 = 13,
    SC_DEVICE_ACTION_4 = 14,
    SC_ACQUIRE = 15,
    SC_SET_SCAN_PARAMS = 16,
    SC_START_SCAN = 17,
    SC_READ_LINES = 18,
    SC_STOP_SCAN = 19,
    SC_RELEASE = 20,
    SC_PORT_SERVICE = 21,
    SC_LAST_COMMAND = 21,
};

// Status codes (CommandBlock.status). Other positive values are the low
// 16 bits of a system error code.
enum : int16_t {
    SCS_OK = 0,
    SCS_END_OF_DATA = 1,
    SCS_PARTIAL = 4,
    SCS_BAD_COMMAND = -2,
    SCS_BAD_PARAMETER = -3,
    SCS_SPOOL_ERROR = -4,
    SCS_NO_DATA = -5,
    SCS_WRONG_STATE = -8,
    SCS_NOT_OWNER = -9,
};

// Port-service sub-commands (PortRequest.subCode).
enum : uint16_t {
    SCP_GET_SETTINGS = 0,
    SCP_LAMP_ON = 1,
    SCP_LAMP_OFF = 2,
    SCP_SET_LAMP_TIMEOUT = 3,
    SCP_TEST_PORT = 4,
    SCP_NOP = 5,
    SCP_RAW_IOCTL = 100,
};

#pragma pack(push, 1)

struct CommandBlock {
    uint16_t command;  // 0
    int16_t status;    // 2
#if UINTPTR_MAX == 0xFFFFFFFFu
    void *buffer;      // 4
#else
    uint32_t buffer;   // 4: a 32-bit address
#endif
    union {            // 8
        struct {
            uint16_t index;   // 8
            uint16_t select;  // 10
        };
        uint32_t bufferSize;  // 8 (SC_READ_LINES)
    };
    uint32_t count;    // 12
    uint16_t ownerId;  // 16
};

// SC_PORT_SERVICE: the block's buffer points to a 4-byte pointer, which
// points to this request.
struct PortRequest {
    uint16_t subCode;     // 0
    uint8_t payload[12];  // 2
};

// SC_PORT_SERVICE sub-command 100.
struct PortRawRequest {
    uint16_t subCode;     // 0
    uint32_t code;        // 2
    uint32_t input;       // 6: address
    uint32_t output;      // 10: address
    uint32_t inputSize;   // 14
    uint32_t outputSize;  // 18
};

// SC_ADJUST_TONE_TABLE.
struct ToneAdjustRequest {
    uint32_t toneTable;  // 0: address of the caller's table
    int16_t brightness;  // 4
    int16_t contrast;    // 6
};

#pragma pack(pop)

static_assert(sizeof(CommandBlock) == 18);
static_assert(offsetof(CommandBlock, status) == 2);
static_assert(offsetof(CommandBlock, buffer) == 4);
static_assert(offsetof(CommandBlock, index) == 8);
static_assert(offsetof(CommandBlock, select) == 10);
static_assert(offsetof(CommandBlock, bufferSize) == 8);
static_assert(offsetof(CommandBlock, count) == 12);
static_assert(offsetof(CommandBlock, ownerId) == 16);
static_assert(sizeof(PortRequest) == 14);
static_assert(offsetof(PortRequest, payload) == 2);
static_assert(sizeof(PortRawRequest) == 22);
static_assert(offsetof(PortRawRequest, outputSize) == 18);
static_assert(sizeof(ToneAdjustRequest) == 8);

#ifdef _WIN32
typedef SHORT(WINAPI *ScannerCommanderProc)(CommandBlock *block);
#endif
