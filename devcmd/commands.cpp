// Commands 0 to 15, 20 and 21. Checks run in the order of the command
// table; the first that fails sets the status and ends the command.
#include "commands.h"

#include <string.h>

#include "driver_channel.h"
#include "scan_run.h"
#include "shared_maps.h"
#include "shared_state.h"
#include "tone_tables.h"

namespace {

void SetStatus(CommandBlock *block, int16_t status) { block->status = status; }

void *BlockBuffer(const CommandBlock *block) { return block->buffer; }

// A command that copies a shared record into the caller's buffer.
void CopyOut(CommandBlock *block, const void *record, size_t bytes) {
    void *buffer = BlockBuffer(block);
    if (!buffer) return SetStatus(block, SCS_BAD_PARAMETER);
    memcpy(buffer, record, bytes);
}

void CmdOpen(CommandBlock *) { ++g_shared.openCount; }

void CmdClose(CommandBlock *) {
    if (g_shared.openCount != 0) --g_shared.openCount;
    DropMapHandles();
}

void CmdGetDeviceInfo(CommandBlock *block) {
    void *buffer = BlockBuffer(block);
    if (!buffer) return SetStatus(block, SCS_BAD_PARAMETER);
    SetStatus(block, RequestStatus(DeviceRequest(IOCTL_SCANNER_GET_DEVICE_INFO, nullptr, 0, buffer,
                                                 sizeof(DeviceInfo))));
}

void CmdGetLensRecord(CommandBlock *block) {
    uint16_t index = block->index;
    if (index == 0xFFFF) {
        index = g_shared.currentLens;
        block->index = index;
        block->count = (block->count & 0xFFFF0000u) | index;
    }
    uint16_t lensCount = g_shared.deviceInfo.lensCount;
    if (index >= lensCount) return SetStatus(block, SCS_BAD_PARAMETER);
    int slot = LensTableSlot(block->select);
    if (slot < 0) return SetStatus(block, SCS_BAD_PARAMETER);
    void *buffer = BlockBuffer(block);
    if (!buffer) return SetStatus(block, SCS_BAD_PARAMETER);

    uint8_t *records = OpenMap(MAP_LENS);
    if (!records) return SetStatus(block, MapFailureStatus());
    uint64_t offset = ((uint64_t)index + (uint64_t)lensCount * (uint64_t)slot) * LENS_RECORD_BYTES;
    if (MapHolds(MAP_LENS, offset, LENS_RECORD_BYTES))
        memcpy(buffer, records + offset, LENS_RECORD_BYTES);
    else
        SetStatus(block, SCS_BAD_PARAMETER);
    CloseMap(MAP_LENS);
}

void CmdGetDescription(CommandBlock *block) {
    CopyOut(block, &g_shared.description, sizeof(ScannerDescription));
}

void CmdGetHalftonePattern(CommandBlock *block) {
    if (block->index >= BUILT_IN_PATTERNS) return SetStatus(block, SCS_BAD_PARAMETER);
    CopyOut(block, &g_shared.builtInPatterns[block->index], sizeof(HalftonePattern));
}

void CmdGetTableFormat(CommandBlock *block) {
    CopyOut(block, &g_shared.tableFormat, sizeof(TableFormat));
}

void CmdGetDefaultToneTable(CommandBlock *block) {
    uint32_t tableCount = g_shared.tableFormat.tableCount;
    uint32_t first = 0, count = 1;
    switch (block->index) {
    case 0:
        // A mono selector that names no table of the map is refused.
        if (g_shared.monoTableSelect < 3 || g_shared.monoTableSelect - 3u >= tableCount)
            return SetStatus(block, SCS_BAD_PARAMETER);
        first = g_shared.monoTableSelect - 3u;
        break;
    case 1:
        if (tableCount != 3) return SetStatus(block, SCS_BAD_PARAMETER);
        first = 0;
        count = 3;
        break;
    case 3:
    case 4:
    case 5:
        if (tableCount != 3) return SetStatus(block, SCS_BAD_PARAMETER);
        first = block->index - 3u;
        break;
    default:
        return SetStatus(block, SCS_BAD_PARAMETER);
    }
    void *buffer = BlockBuffer(block);
    if (!buffer) return SetStatus(block, SCS_BAD_PARAMETER);

    uint8_t *tables = OpenMap(MAP_SYSTEM);
    if (!tables) return SetStatus(block, MapFailureStatus());
    uint64_t offset = (uint64_t)first * g_shared.bytesPerTable;
    uint64_t bytes = (uint64_t)count * g_shared.bytesPerTable;
    if (MapHolds(MAP_SYSTEM, offset, bytes))
        memcpy(buffer, tables + offset, (size_t)bytes);
    else
        SetStatus(block, SCS_BAD_PARAMETER);
    CloseMap(MAP_SYSTEM);
}

bool LevelInRange(int level) { return level >= -127 && level <= 127; }

void CmdAdjustToneTable(CommandBlock *block) {
    const void *buffer = BlockBuffer(block);
    if (!buffer) return SetStatus(block, SCS_BAD_PARAMETER);
    ToneAdjustRequest request;
    memcpy(&request, buffer, sizeof request);
    if (!LevelInRange(request.brightness) || !LevelInRange(request.contrast))
        return SetStatus(block, SCS_BAD_PARAMETER);
    if (request.brightness == 0 && request.contrast == 0) return;
    uint8_t *table = reinterpret_cast<uint8_t *>((uintptr_t)request.toneTable);
    if (!table) return SetStatus(block, SCS_BAD_PARAMETER);
    ToneGeometry g = ToneGeometryOf(g_shared.tableFormat);
    if (request.brightness != 0) AdjustBrightness(g, table, request.brightness);
    if (request.contrast != 0) AdjustContrast(g, table, request.contrast);
}

void CmdPollButton(CommandBlock *block) {
    SetStatus(block, RequestStatus(DeviceRequest(IOCTL_SCANNER_POLL_BUTTON, nullptr, 0, nullptr, 0)));
}

void OwnerAction(CommandBlock *block, DWORD code) {
    if (!PresentsOwner(block)) return SetStatus(block, SCS_NOT_OWNER);
    SetStatus(block, RequestStatus(DeviceRequest(code, nullptr, 0, nullptr, 0)));
}

void CmdAction1(CommandBlock *block) { OwnerAction(block, IOCTL_SCANNER_ACTION_1); }
void CmdAction2(CommandBlock *block) { OwnerAction(block, IOCTL_SCANNER_ACTION_2); }
void CmdAction3(CommandBlock *block) { OwnerAction(block, IOCTL_SCANNER_ACTION_3); }
void CmdAction4(CommandBlock *block) { OwnerAction(block, IOCTL_SCANNER_ACTION_4); }

void CmdAcquire(CommandBlock *block) {
    if (g_shared.stateWord & SCF_ACQUIRED) return SetStatus(block, SCS_NOT_OWNER);
    uint16_t ownerId = 0;
    DWORD result = DeviceRequest(IOCTL_SCANNER_ACQUIRE, nullptr, 0, &ownerId, sizeof ownerId);
    if (result == 0) {
        block->ownerId = ownerId;
        g_shared.ownerId = ownerId;
        g_shared.stateWord |= SCF_ACQUIRED;
    }
    SetStatus(block, RequestStatus(result));
}

void CmdRelease(CommandBlock *block) {
    if (!PresentsOwner(block)) return SetStatus(block, SCS_NOT_OWNER);
    if (g_shared.stateWord & SCF_SCANNING) DeviceRequest(IOCTL_SCANNER_STOP, nullptr, 0, nullptr, 0);
    // The scan ends here as at SC_STOP_SCAN: no spool file outlives it.
    DiscardSpool();
    DWORD result = DeviceRequest(IOCTL_SCANNER_RELEASE, nullptr, 0, nullptr, 0);
    g_shared.stateWord = 0;
    SetStatus(block, RequestStatus(result));
}

void CmdPortService(CommandBlock *block) {
    const void *buffer = BlockBuffer(block);
    if (!buffer) return SetStatus(block, SCS_BAD_PARAMETER);
    uint32_t address;
    memcpy(&address, buffer, sizeof address);
    uint8_t *request = reinterpret_cast<uint8_t *>((uintptr_t)address);
    if (!request) return SetStatus(block, SCS_BAD_PARAMETER);
    uint16_t subCode;
    memcpy(&subCode, request, sizeof subCode);

    DWORD answerBytes = 0;
    switch (subCode) {
    case SCP_GET_SETTINGS: answerBytes = sizeof(PortSettings); break;
    case SCP_LAMP_ON:
    case SCP_LAMP_OFF:
    case SCP_SET_LAMP_TIMEOUT: answerBytes = 0; break;
    case SCP_TEST_PORT: answerBytes = sizeof(PortTest); break;
    case SCP_NOP: return;
    case SCP_RAW_IOCTL: {
        PortRawRequest raw;
        memcpy(&raw, request, sizeof raw);
        return SetStatus(block, RequestStatus(DeviceRequest(
                                    raw.code, reinterpret_cast<void *>((uintptr_t)raw.input), raw.inputSize,
                                    reinterpret_cast<void *>((uintptr_t)raw.output), raw.outputSize)));
    }
    default: return SetStatus(block, SCS_BAD_COMMAND);
    }
    SetStatus(block, RequestStatus(DeviceRequest(IOCTL_SCANNER_PORT_SERVICE, request, sizeof(PortRequest),
                                                 answerBytes ? request + 2 : nullptr, answerBytes)));
}

}  // namespace

bool PresentsOwner(const CommandBlock *block) {
    return (g_shared.stateWord & SCF_ACQUIRED) && block->ownerId == g_shared.ownerId;
}

const CommandHandler kCommandHandlers[SC_LAST_COMMAND + 1] = {
    CmdOpen,            // 0
    CmdClose,           // 1
    CmdGetDeviceInfo,   // 2
    CmdGetLensRecord,   // 3
    CmdGetDescription,  // 4
    CmdGetHalftonePattern,   // 5
    CmdGetTableFormat,       // 6
    CmdGetDefaultToneTable,  // 7
    CmdAdjustToneTable,      // 8
    CmdGetScanLayout,        // 9
    CmdPollButton,           // 10
    CmdAction1,              // 11
    CmdAction2,              // 12
    CmdAction3,              // 13
    CmdAction4,              // 14
    CmdAcquire,              // 15
    CmdSetScanParams,        // 16
    CmdStartScan,            // 17
    CmdReadLines,            // 18
    CmdStopScan,             // 19
    CmdRelease,              // 20
    CmdPortService,          // 21
};
