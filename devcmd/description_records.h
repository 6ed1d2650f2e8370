// Records the command library hands out besides the driver's own answers
// (SC_GET_DESCRIPTION, SC_GET_HALFTONE_PATTERN). Platform-free.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum : uint16_t {
    DESCRIPTION_VERSION_INITIAL = 512,  // until the maps are built
    DESCRIPTION_VERSION_BUILT = 266,
};

enum : uint32_t { MODEL_NAME_BYTES = 40, BUILT_IN_PATTERNS = 4 };

#define DEFAULT_MODEL_NAME "Oravine Scanner"

#pragma pack(push, 1)

struct ScannerDescription {
    uint16_t version;
    uint16_t descriptionWord;
    char modelName[MODEL_NAME_BYTES];  // zero-terminated
};

// 8 x 8 threshold matrix, row by row.
struct HalftonePattern {
    uint8_t threshold[64];
};

#pragma pack(pop)

static_assert(sizeof(ScannerDescription) == 44);
static_assert(offsetof(ScannerDescription, descriptionWord) == 2);
static_assert(offsetof(ScannerDescription, modelName) == 4);
static_assert(sizeof(HalftonePattern) == 64);
