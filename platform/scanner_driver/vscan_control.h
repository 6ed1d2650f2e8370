// Control interface of the virtual scanner, outside the scanner's own
// control codes: used by vscanctl, the tests and the demo to steer the
// virtual scanner and to read the log of requests it received.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Function numbers 0xA00 and up of device type 0x16, buffered.
#define VSC_CODE(fn) ((0x16u << 16) | ((0xA00u + (fn)) << 2))

enum : uint32_t {
    VSC_GET_STATUS = VSC_CODE(0),   // out VscStatus
    VSC_RESET = VSC_CODE(1),        // back to the first profile's defaults; log and faults cleared
    VSC_SET_PROFILE = VSC_CODE(2),  // in VscProfileName
    VSC_SET_BUTTON = VSC_CODE(3),   // in uint32_t: 1 down, 0 up
    VSC_SET_PORT = VSC_CODE(4),     // in VscPort
    VSC_SET_LAMP = VSC_CODE(5),     // in VscLamp
    VSC_ADD_FAULT = VSC_CODE(6),    // in VscFault
    VSC_CLEAR_FAULTS = VSC_CODE(7),
    VSC_GET_LOG = VSC_CODE(8),      // in uint32_t first entry; out VscLogEntry[]
    VSC_CLEAR_LOG = VSC_CODE(9),
};

// Pseudo control code under which line reads (ReadFile) are logged and
// faulted.
enum : uint32_t { VSC_READ_CODE = 0 };

enum : uint32_t { VSC_NAME_CHARS = 16, VSC_LOG_DATA_BYTES = 64, VSC_LOG_CAPACITY = 4096 };

#pragma pack(push, 1)

struct VscProfileName {
    char name[VSC_NAME_CHARS];  // zero-terminated
};

struct VscStatus {
    char profile[VSC_NAME_CHARS];
    uint16_t ownerId;          // 0 while nobody holds the scanner
    uint16_t buttonDown;
    uint16_t lampOn;
    uint16_t scanning;
    uint32_t lampOffSeconds;   // switch-off time; 0 = stays on
    uint32_t lampSecondsLeft;  // until it switches off; 0 when off or never
    uint16_t portAddress;      // the port setting reported to the suite (0xFFFF none)
    uint16_t portMode;
    uint16_t portKind;
    uint16_t answerAddress;    // where the scanner answers a port test (0xFFFF none)
    uint16_t answerMode;
    uint16_t currentLens;
    uint32_t linesLeft;        // of the running scan
    uint32_t bytesPerLine;
    uint32_t logCount;         // entries held
    uint32_t logDropped;       // entries lost since the last clear
    uint32_t faultCount;       // fault rules still armed
};

struct VscPort {
    uint16_t address;  // 0xFFFF: no port answers
    uint16_t mode;
};

struct VscLamp {
    uint32_t setOn;          // 1: apply lampOn
    uint32_t lampOn;
    uint32_t setOffSeconds;  // 1: apply offSeconds
    uint32_t offSeconds;
};

enum : uint32_t {
    VSC_FAULT_FAIL = 1,   // the next `count` requests of `code` fail with `status`
    VSC_FAULT_SHORT = 2,  // the next `count` reads deliver at most `lines` lines
    VSC_FAULT_ZERO = 3,   // the next `count` reads deliver no bytes
};

struct VscFault {
    uint32_t kind;
    uint32_t code;    // VSC_FAULT_FAIL: a control code, or VSC_READ_CODE
    uint32_t count;   // how many requests it applies to
    uint32_t status;  // VSC_FAULT_FAIL: the NTSTATUS to complete with
    uint32_t lines;   // VSC_FAULT_SHORT
};

struct VscLogEntry {
    uint32_t sequence;      // counts every logged request since the last clear
    uint32_t code;          // control code, or VSC_READ_CODE for a line read
    uint32_t inputLength;
    uint32_t outputLength;  // for a read: bytes asked for
    uint32_t status;        // NTSTATUS the request completed with
    uint32_t information;   // bytes returned
    uint32_t dataHash;      // FNV-1a of data sent in the output buffer (tone tables), else 0
    uint32_t dataLength;    // input bytes kept in data
    uint8_t data[VSC_LOG_DATA_BYTES];
};

#pragma pack(pop)

static_assert(sizeof(VscLogEntry) == 32 + VSC_LOG_DATA_BYTES);
