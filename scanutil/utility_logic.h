// The utility's choices that need no window: which port tests a search
// makes and in which order, and the rules of the lamp page's minutes.
#pragma once

#include <stdint.h>

enum : uint16_t {
    DEFAULT_PORT_ADDRESS = 0x378,
    PORT_ADDRESS_NONE = 0xFFFF,
    MODE_EPP = 0,
    MODE_SPP = 1,
};

enum : uint32_t {
    PARALLEL_PORT_COUNT = 3,
    PARALLEL_SEARCH_PAIRS = 6,
    SCANPORT_LIST_CAPACITY = 40,
};

extern const uint16_t PARALLEL_PORT_ADDRESSES[PARALLEL_PORT_COUNT];

struct PortCandidate {
    uint16_t address;
    uint16_t mode;
};

// Index of an address in PARALLEL_PORT_ADDRESSES, -1 when it is none of them.
int ParallelAddressIndex(uint16_t address);

// I/O Verify page: Verify Port tries (currentAddress, currentMode); Auto.
// Search tries every standard address, each with EPP then SPP. Returns the
// number of pairs written (at most PARALLEL_SEARCH_PAIRS).
uint32_t ParallelCandidates(bool search, uint16_t currentAddress, uint16_t currentMode,
                            PortCandidate (&out)[PARALLEL_SEARCH_PAIRS]);

// ScanPort page: Verify Port tries the selected entry (none when
// `selected` is not a list position); Auto. Search tries the list with the
// entry equal to currentAddress exchanged with the first. Returns the
// number of list positions written into `order`.
uint32_t ScanPortCandidates(bool search, const uint16_t *list, uint32_t count, int selected, uint16_t currentAddress,
                            uint32_t (&order)[SCANPORT_LIST_CAPACITY]);

// The selection the port page opens with: address 0 reads as the default.
uint16_t OpeningAddress(uint16_t portAddress);

// Lamp page.
enum : uint16_t {
    LAMP_MINUTES_MIN = 1,
    LAMP_MINUTES_MAX = 60,
    LAMP_MINUTES_DEFAULT = 5,
};

enum : uint16_t {
    LAMP_CHOICE_OFF_AFTER = 602,
    LAMP_CHOICE_KEEP_ON = 603,
    LAMP_CHOICE_TURN_OFF = 604,
};

// Whole minutes of a lamp-off time, cut to 16 bits (0: the lamp stays on).
uint16_t MinutesFromSeconds(uint32_t seconds);

// An unsigned decimal number, optionally between blanks; false for
// anything else or a value that does not fit 32 bits.
bool ParseUnsigned(const char *text, uint32_t *value);

enum MinutesEdit { MINUTES_PUT_BACK, MINUTES_UNCHANGED, MINUTES_ACCEPTED };
// What leaving the minutes field with `text` in it does.
MinutesEdit CheckTypedMinutes(const char *text, uint16_t lampMinutes, uint16_t *accepted);

// One scroll-bar notification: code 0 steps up, 1 down, others not; the
// result is clamped into 1-60.
uint16_t StepMinutes(uint16_t lampMinutes, uint32_t code);

// The lamp-off time sent at Close: the field when it reads as 1-60, else
// lampMinutes; 0 when the lamp is to stay on.
uint32_t LampSecondsAtClose(bool fieldRead, uint32_t fieldValue, uint16_t lampMinutes, uint16_t lampChoice);

// "<directory>BTNDRAW.DLL" into `out`; false, with nothing usable in
// `out`, when the joined path does not fit `size` characters.
bool JoinLibraryPath(const char *directory, const char *file, char *out, uint32_t size);
