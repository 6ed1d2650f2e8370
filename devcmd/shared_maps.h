// The three named maps backed by the paging file, and how they are built
// from the driver's description answers and the configuration file.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "shared_state.h"
#include "tone_prepare.h"

// Map sizes from the shared description records.
DWORD MapBytes(int map);
// Number of lens tables the scanner has (1 to 3).
uint32_t LensTableCount();
// Slot of lens table `table` (0, 1 or 2) in LensMap, or -1 when the scanner
// lacks it. Tables are stored without gaps, so table 2 follows table 0
// directly on a scanner without table 1.
int LensTableSlot(uint16_t table);

HANDLE CreateMap(int map, DWORD size);
// Opens the map into the process's slot and maps all of it; when it is
// gone, builds all three maps again first. Null when it can neither be
// opened nor built: MapFailureStatus() then tells why.
uint8_t *OpenMap(int map);
void CloseMap(int map);
// Closes whatever map view or handle of this process is still open; the
// dispatcher runs it after every command.
void CloseOpenMaps();
// SC_CLOSE: closes the process's map handles that are still open.
void DropMapHandles();
int16_t MapFailureStatus();
// True when [offset, offset + bytes) lies inside the open view of `map`.
bool MapHolds(int map, uint64_t offset, uint64_t bytes);

bool BuildTableMaps();
bool BuildLensMap();
// Gives up SystemMap after a failed lens build at attach.
void ReleaseSystemMap();
// First complete build: sets the built-marker and the spool path.
void MarkMapsBuilt();
// At unload without process exit: the maps this process created.
void CloseCreationHandles();

// Opens SystemMap and UserMap and describes them for the tone routines;
// false with *status set when a map is not to be had. The caller closes
// both maps (the dispatcher also does after every command).
bool OpenToneWork(ToneWork *work, int16_t *status);
