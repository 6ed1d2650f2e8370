#include "utility_logic.h"

#include <string.h>

const uint16_t PARALLEL_PORT_ADDRESSES[PARALLEL_PORT_COUNT] = {0x378, 0x278, 0x3BC};

int ParallelAddressIndex(uint16_t address) {
    for (uint32_t i = 0; i < PARALLEL_PORT_COUNT; ++i)
        if (PARALLEL_PORT_ADDRESSES[i] == address) return static_cast<int>(i);
    return -1;
}

uint32_t ParallelCandidates(bool search, uint16_t currentAddress, uint16_t currentMode,
                            PortCandidate (&out)[PARALLEL_SEARCH_PAIRS]) {
    if (!search) {
        out[0] = {currentAddress, currentMode};
        return 1;
    }
    uint32_t n = 0;
    for (uint16_t address : PARALLEL_PORT_ADDRESSES) {
        out[n++] = {address, MODE_EPP};
        out[n++] = {address, MODE_SPP};
    }
    return n;
}

uint32_t ScanPortCandidates(bool search, const uint16_t *list, uint32_t count, int selected, uint16_t currentAddress,
                            uint32_t (&order)[SCANPORT_LIST_CAPACITY]) {
    if (count > SCANPORT_LIST_CAPACITY) count = SCANPORT_LIST_CAPACITY;
    if (!search) {
        if (selected < 0 || static_cast<uint32_t>(selected) >= count) return 0;
        order[0] = static_cast<uint32_t>(selected);
        return 1;
    }
    for (uint32_t i = 0; i < count; ++i) order[i] = i;
    for (uint32_t k = 0; k < count; ++k) {
        if (list[k] == currentAddress) {
            order[0] = k;
            order[k] = 0;
            break;
        }
    }
    return count;
}

uint16_t OpeningAddress(uint16_t portAddress) {
    return portAddress == 0 ? static_cast<uint16_t>(DEFAULT_PORT_ADDRESS) : portAddress;
}

uint16_t MinutesFromSeconds(uint32_t seconds) { return static_cast<uint16_t>(seconds / 60); }

bool ParseUnsigned(const char *text, uint32_t *value) {
    if (!text) return false;
    while (*text == ' ' || *text == '\t') ++text;
    if (*text < '0' || *text > '9') return false;
    uint64_t v = 0;
    while (*text >= '0' && *text <= '9') {
        v = v * 10 + static_cast<uint32_t>(*text - '0');
        if (v > 0xFFFFFFFFu) return false;
        ++text;
    }
    while (*text == ' ' || *text == '\t') ++text;
    if (*text) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

MinutesEdit CheckTypedMinutes(const char *text, uint16_t lampMinutes, uint16_t *accepted) {
    uint32_t v = 0;
    if (!ParseUnsigned(text, &v) || v < LAMP_MINUTES_MIN || v > LAMP_MINUTES_MAX) return MINUTES_PUT_BACK;
    if (v == lampMinutes) return MINUTES_UNCHANGED;
    *accepted = static_cast<uint16_t>(v);
    return MINUTES_ACCEPTED;
}

uint16_t StepMinutes(uint16_t lampMinutes, uint32_t code) {
    int32_t v = lampMinutes;
    if (code == 0) ++v;
    if (code == 1) --v;
    if (v < LAMP_MINUTES_MIN) v = LAMP_MINUTES_MIN;
    if (v > LAMP_MINUTES_MAX) v = LAMP_MINUTES_MAX;
    return static_cast<uint16_t>(v);
}

uint32_t LampSecondsAtClose(bool fieldRead, uint32_t fieldValue, uint16_t lampMinutes, uint16_t lampChoice) {
    uint32_t minutes = lampMinutes;
    if (fieldRead && fieldValue >= LAMP_MINUTES_MIN && fieldValue <= LAMP_MINUTES_MAX) minutes = fieldValue;
    if (lampChoice == LAMP_CHOICE_KEEP_ON) minutes = 0;
    return minutes * 60u;
}

bool JoinLibraryPath(const char *directory, const char *file, char *out, uint32_t size) {
    if (!out || size == 0) return false;
    out[0] = 0;
    const size_t a = directory ? strlen(directory) : 0, b = strlen(file);
    if (a + b + 1 > size) return false;
    if (a) memcpy(out, directory, a);
    memcpy(out + a, file, b + 1);
    return true;
}
