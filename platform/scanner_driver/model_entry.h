/* The scanner model's entry points as the driver calls them (C linkage:
   the driver glue is C, since the DDK headers are). */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ModelBuffers {
    const uint8_t *input; /* may be null when inputLength is 0 */
    uint32_t inputLength;
    uint8_t *output; /* may be null when outputLength is 0 */
    uint32_t outputLength;
} ModelBuffers;

/* Back to the first profile's defaults: button up, lamp off, port as the
   profile has it, no owner, no scan, no faults, empty log. */
void ModelReset(void);

/* One device control request; nowMs is a millisecond clock for the lamp.
   Returns the NTSTATUS; *information receives the bytes returned. */
uint32_t ModelDeviceControl(uint32_t code, const ModelBuffers *buffers, uint32_t nowMs,
                            uint32_t *information);

/* One line read into output: whole lines only. */
uint32_t ModelRead(uint8_t *output, uint32_t length, uint32_t nowMs, uint32_t *information);

#ifdef __cplusplus
}
#endif
