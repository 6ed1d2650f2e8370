// Client side of the virtual scanner's control interface, for vscanctl,
// the tests and the demo. Windows only.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "scanner_records.h"
#include "vscan_control.h"

// The service that hosts the driver.
#define VSCAN_SERVICE_NAME "orvscnr"

// Opens "\\.\ORVSCNR"; INVALID_HANDLE_VALUE when the driver is not running.
HANDLE VscOpen();

// One control request; returns 0 or the system error code.
DWORD VscRequest(HANDLE device, uint32_t code, const void *input, DWORD inputSize,
                 void *output, DWORD outputSize, DWORD *returned);

DWORD VscGetStatus(HANDLE device, VscStatus *status);
DWORD VscReset(HANDLE device);
DWORD VscSetProfile(HANDLE device, const char *name);
DWORD VscSetButton(HANDLE device, bool down);
DWORD VscSetPort(HANDLE device, uint16_t address, uint16_t mode);
DWORD VscSetLamp(HANDLE device, const VscLamp &lamp);
DWORD VscAddFault(HANDLE device, const VscFault &fault);
DWORD VscClearFaults(HANDLE device);
DWORD VscClearLog(HANDLE device);
// Reads up to `capacity` log entries starting at `first`; *count receives how many.
DWORD VscReadLog(HANDLE device, uint32_t first, VscLogEntry *entries, uint32_t capacity,
                 uint32_t *count);

// Name of a scanner control code ("GET_DEVICE_INFO", "READ", ...), or null.
const char *VscCodeName(uint32_t code);

// Service management (vscanctl install/uninstall/start/stop).
// `sysPath` is the driver file beside vscanctl; install copies it into
// the system's drivers folder.
DWORD VscInstall(const char *sysPath);
DWORD VscUninstall();
DWORD VscStart();
DWORD VscStop();
