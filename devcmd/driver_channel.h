// The library's side of the scanner driver "\\.\ORVSCNR": one handle per
// process, synchronous device control requests.
#pragma once

#include <windows.h>

#include <stdint.h>

#define SCANNER_DEVICE_PATH "\\\\.\\ORVSCNR"

// Opens the device into the process's handle; false when there is none.
bool OpenDriver();
// Closes the process's handle if it is valid and marks it invalid.
void CloseDriver();

// One DeviceIoControl on the process's handle. Returns 0 or the system
// error code; the byte count goes to the process's scratch word.
DWORD DeviceRequest(DWORD code, const void *input, DWORD inputSize, void *output, DWORD outputSize);

// Status word for a request result: 0, or the low 16 bits of the error.
int16_t RequestStatus(DWORD result);
