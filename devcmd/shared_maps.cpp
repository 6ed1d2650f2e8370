#include "shared_maps.h"

#include <string.h>

#include "driver_channel.h"
#include "spool_path.h"
#include "suite_config.h"
#include "tone_tables.h"

namespace {

const char *const kMapNames[MAP_COUNT] = {"OrvSysMapMemFile", "OrvUserMapMemFile", "OrvLensMemFile"};

DWORD g_mapError = 0;
HANDLE g_createdHere[MAP_COUNT] = {};

// Maps the whole object behind `handle` into the slot of `map`.
bool MapIntoSlot(int map, HANDLE handle) {
    void *view = MapViewOfFile(handle, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (!view) {
        g_mapError = GetLastError();
        return false;
    }
    MEMORY_BASIC_INFORMATION info;
    SIZE_T extent = 0;
    if (VirtualQuery(view, &info, sizeof info) == sizeof info) extent = info.RegionSize;
    g_process.mapHandle[map] = handle;
    g_process.mapView[map] = static_cast<uint8_t *>(view);
    g_process.mapViewBytes[map] = extent;
    return true;
}

// Opens an existing map by name, without building.
bool OpenExisting(int map) {
    HANDLE handle = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kMapNames[map]);
    if (!handle) {
        g_mapError = GetLastError();
        return false;
    }
    if (!MapIntoSlot(map, handle)) {
        CloseHandle(handle);
        return false;
    }
    return true;
}

// Loads the map file named in MERVIX.INI into the view; true only when it
// filled the map exactly.
bool LoadMapFile(uint8_t *view, DWORD size) {
    char path[CFG_MAP_FILE_CHARS];
    if (ReadMapFile(path) == 0) return false;
    HFILE file = _lopen(path, OF_READ | OF_SHARE_DENY_NONE);
    if (file == HFILE_ERROR) return false;
    UINT got = _lread(file, view, size);
    _lclose(file);
    return got == size;
}

void RememberCreation(int map, HANDLE handle) {
    if (g_createdHere[map] && g_createdHere[map] != handle) CloseHandle(g_createdHere[map]);
    g_createdHere[map] = handle;
}

}  // namespace

DWORD MapBytes(int map) {
    uint32_t tables = g_shared.tableFormat.tableCount;
    switch (map) {
    case MAP_SYSTEM: return tables * g_shared.bytesPerTable;
    case MAP_USER: return (tables + 1) * g_shared.bytesPerTable;
    case MAP_LENS: return (DWORD)g_shared.deviceInfo.lensCount * LENS_RECORD_BYTES * LensTableCount();
    }
    return 0;
}

uint32_t LensTableCount() {
    uint8_t flags = g_shared.deviceInfo.deviceFlags;
    return 1u + ((flags & DIF_LENS_TABLE_1) ? 1u : 0u) + ((flags & DIF_LENS_TABLE_2) ? 1u : 0u);
}

int LensTableSlot(uint16_t table) {
    uint8_t flags = g_shared.deviceInfo.deviceFlags;
    switch (table) {
    case 0: return 0;
    case 1: return (flags & DIF_LENS_TABLE_1) ? 1 : -1;
    case 2:
        if (!(flags & DIF_LENS_TABLE_2)) return -1;
        return (flags & DIF_LENS_TABLE_1) ? 2 : 1;
    }
    return -1;
}

HANDLE CreateMap(int map, DWORD size) {
    return CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, kMapNames[map]);
}

uint8_t *OpenMap(int map) {
    if (g_process.mapView[map]) return g_process.mapView[map];
    if (!OpenExisting(map)) {
        // The process that built the maps has ended: build them again here.
        bool tables = BuildTableMaps();
        bool lenses = BuildLensMap();
        if (tables && lenses && g_shared.builtMarker == 0) MarkMapsBuilt();
        if (!OpenExisting(map)) return nullptr;
    }
    return g_process.mapView[map];
}

void CloseMap(int map) {
    if (g_process.mapView[map]) UnmapViewOfFile(g_process.mapView[map]);
    if (g_process.mapHandle[map]) CloseHandle(g_process.mapHandle[map]);
    g_process.mapView[map] = nullptr;
    g_process.mapHandle[map] = nullptr;
    g_process.mapViewBytes[map] = 0;
}

void CloseOpenMaps() {
    for (int map = 0; map < MAP_COUNT; ++map) CloseMap(map);
}

void DropMapHandles() { CloseOpenMaps(); }

int16_t MapFailureStatus() {
    DWORD error = g_mapError ? g_mapError : ERROR_NOT_ENOUGH_MEMORY;
    return RequestStatus(error);
}

bool MapHolds(int map, uint64_t offset, uint64_t bytes) {
    return g_process.mapView[map] && offset + bytes <= g_process.mapViewBytes[map];
}

bool BuildTableMaps() {
    DeviceRequest(IOCTL_SCANNER_GET_TABLE_FORMAT, nullptr, 0, &g_shared.tableFormat, sizeof(TableFormat));
    g_shared.bytesPerTable = (uint16_t)(g_shared.tableFormat.entriesPerTable * g_shared.tableFormat.bytesPerEntry);
    g_shared.monoTableSelect = g_shared.tableFormat.monoTableSelect;

    DWORD systemBytes = MapBytes(MAP_SYSTEM);
    HANDLE system = CreateMap(MAP_SYSTEM, systemBytes);
    if (!system) return false;
    HANDLE user = CreateMap(MAP_USER, MapBytes(MAP_USER));
    if (!user) {
        CloseHandle(system);
        return false;
    }
    g_shared.systemMapCreation = system;
    g_shared.userMapCreation = user;
    RememberCreation(MAP_SYSTEM, system);
    RememberCreation(MAP_USER, user);

    void *view = MapViewOfFile(system, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (view) {
        uint8_t *tables = static_cast<uint8_t *>(view);
        if (!LoadMapFile(tables, systemBytes))
            FillDefaultTables(ToneGeometryOf(g_shared.tableFormat), tables, g_shared.tableFormat.tableCount);
        UnmapViewOfFile(view);
    }
    return true;
}

bool BuildLensMap() {
    DeviceRequest(IOCTL_SCANNER_GET_DEVICE_INFO, nullptr, 0, &g_shared.deviceInfo, sizeof(DeviceInfo));

    char model[CFG_MODEL_NAME_CHARS];
    if (ReadModelName(model) == 0) strcpy(model, DEFAULT_MODEL_NAME);
    g_shared.description.version = DESCRIPTION_VERSION_BUILT;
    g_shared.description.descriptionWord = g_shared.deviceInfo.descriptionWord;
    memset(g_shared.description.modelName, 0, MODEL_NAME_BYTES);
    memcpy(g_shared.description.modelName, model, strlen(model));

    uint16_t lensCount = g_shared.deviceInfo.lensCount;
    HANDLE lens = CreateMap(MAP_LENS, MapBytes(MAP_LENS));
    if (!lens) return false;
    g_shared.lensMapCreation = lens;
    RememberCreation(MAP_LENS, lens);

    void *view = MapViewOfFile(lens, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (view) {
        uint8_t *records = static_cast<uint8_t *>(view);
        uint32_t slot = 0;
        for (uint16_t table = 0; table < 3; ++table) {
            if (LensTableSlot(table) < 0) continue;
            for (uint16_t i = 0; i < lensCount; ++i, ++slot) {
                LensRequest request = {i, table};
                DeviceRequest(IOCTL_SCANNER_GET_LENS_RECORD, &request, sizeof request,
                              records + (size_t)slot * LENS_RECORD_BYTES, LENS_RECORD_BYTES);
            }
        }
        LensRecord first;
        memcpy(&first, records, sizeof first);
        g_shared.uniformNative = first.nativeResolution == first.nativeResolutionMono ? 1 : 0;
        UnmapViewOfFile(view);
    }
    DeviceRequest(IOCTL_SCANNER_GET_CURRENT_LENS, nullptr, 0, &g_shared.currentLens, sizeof(uint16_t));
    return true;
}

void ReleaseSystemMap() {
    if (g_createdHere[MAP_SYSTEM]) CloseHandle(g_createdHere[MAP_SYSTEM]);
    g_createdHere[MAP_SYSTEM] = nullptr;
    g_shared.systemMapCreation = nullptr;
}

void MarkMapsBuilt() {
    g_shared.builtMarker = (uint32_t)(uintptr_t)g_process.module;
    if (g_shared.builtMarker == 0) g_shared.builtMarker = 1;
    char temp[MAX_PATH + 1];
    DWORD length = GetTempPathA(sizeof temp, temp);
    if (length >= sizeof temp) length = 0;
    ComposeSpoolPath(g_shared.spoolPath, temp, length);
}

void CloseCreationHandles() {
    for (int map = 0; map < MAP_COUNT; ++map) {
        if (g_createdHere[map]) CloseHandle(g_createdHere[map]);
        g_createdHere[map] = nullptr;
    }
}

bool OpenToneWork(ToneWork *work, int16_t *status) {
    uint8_t *system = OpenMap(MAP_SYSTEM);
    uint8_t *user = system ? OpenMap(MAP_USER) : nullptr;
    if (!system || !user) {
        *status = MapFailureStatus();
        return false;
    }
    work->g = ToneGeometryOf(g_shared.tableFormat);
    work->tableCount = g_shared.tableFormat.tableCount;
    work->monoTableSelect = g_shared.monoTableSelect;
    // Both maps must hold what the routines will touch.
    if (!MapHolds(MAP_SYSTEM, 0, (uint64_t)work->tableCount * work->g.bytesPerTable) ||
        !MapHolds(MAP_USER, 0, (uint64_t)(work->tableCount + 1) * work->g.bytesPerTable)) {
        *status = SCS_BAD_PARAMETER;
        return false;
    }
    work->systemTables = system;
    work->workingTables = user + work->g.bytesPerTable;
    work->workingPattern = g_shared.workingPattern.threshold;
    work->builtInPatterns = g_shared.builtInPatterns[0].threshold;
    return true;
}
