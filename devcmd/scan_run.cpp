// The scan commands: the layout query (9) and the gates of commands 16 to
// 19. The scan run itself lands here with the spool file and rescaling.
#include "scan_run.h"

#include <string.h>

#include "commands.h"
#include "driver_channel.h"
#include "scan_checks.h"
#include "shared_maps.h"
#include "shared_state.h"

int16_t CheckScanArea(uint32_t flags, uint16_t left, uint16_t top, uint16_t width, uint16_t height,
                      uint16_t xResolution, uint16_t yResolution, uint16_t lens) {
    uint16_t table = (flags & SPF_LENS_TABLE_1) ? 1 : (flags & SPF_LENS_TABLE_2) ? 2 : 0;
    int slot = LensTableSlot(table);
    uint16_t lensCount = g_shared.deviceInfo.lensCount;
    if (slot < 0 || lens >= lensCount) return SCS_BAD_PARAMETER;
    uint8_t *records = OpenMap(MAP_LENS);
    if (!records) return MapFailureStatus();
    uint64_t offset = ((uint64_t)lens + (uint64_t)lensCount * (uint64_t)slot) * LENS_RECORD_BYTES;
    int16_t status = SCS_BAD_PARAMETER;
    if (MapHolds(MAP_LENS, offset, LENS_RECORD_BYTES)) {
        LensRecord record;
        memcpy(&record, records + offset, sizeof record);
        ScanArea area = {left, top, width, height, xResolution, yResolution};
        if (AreaFitsLens(record, area)) status = SCS_OK;
    }
    CloseMap(MAP_LENS);
    return status;
}

int16_t CheckOption(uint16_t option) {
    return OptionAvailable(g_shared.deviceInfo.optionMask, option) ? SCS_OK : SCS_BAD_PARAMETER;
}

void CmdGetScanLayout(CommandBlock *block) {
    void *buffer = block->buffer;
    if (!buffer) {
        block->status = SCS_BAD_PARAMETER;
        return;
    }
    ScanLayout layout;
    memcpy(&layout, buffer, sizeof layout);
    int16_t status = SCS_OK;
    if (layout.colorMode > g_shared.deviceInfo.maxColorMode || layout.lens >= g_shared.deviceInfo.lensCount)
        status = SCS_BAD_PARAMETER;
    if (status == SCS_OK && layout.colorMode >= SCM_GRAY) status = CheckOption(layout.option);
    if (status == SCS_OK)
        status = CheckScanArea(layout.flags, layout.left, layout.top, layout.width, layout.height,
                               layout.xResolution, layout.yResolution, layout.lens);
    if (status != SCS_OK) {
        block->status = status;
        return;
    }
    block->status = RequestStatus(DeviceRequest(IOCTL_SCANNER_GET_SCAN_LAYOUT, buffer, sizeof(ScanLayout),
                                                buffer, sizeof(ScanLayout)));
}

// Until the scan run is in, the commands keep their ownership and state
// gates and refuse the rest as an unknown command.
void CmdSetScanParams(CommandBlock *block) {
    block->status = PresentsOwner(block) ? SCS_BAD_COMMAND : SCS_NOT_OWNER;
}

void CmdStartScan(CommandBlock *block) {
    if (!PresentsOwner(block))
        block->status = SCS_NOT_OWNER;
    else if (!(g_shared.stateWord & SCF_PARAMS_SET))
        block->status = SCS_WRONG_STATE;
    else
        block->status = SCS_BAD_COMMAND;
}

void CmdReadLines(CommandBlock *block) {
    block->count = 0;
    if (!PresentsOwner(block))
        block->status = SCS_NOT_OWNER;
    else if (!(g_shared.stateWord & SCF_SCANNING))
        block->status = SCS_WRONG_STATE;
    else
        block->status = SCS_BAD_COMMAND;
}

void CmdStopScan(CommandBlock *block) {
    if (!PresentsOwner(block))
        block->status = SCS_NOT_OWNER;
    else if (!(g_shared.stateWord & SCF_SCANNING))
        block->status = SCS_WRONG_STATE;
    else
        block->status = SCS_BAD_COMMAND;
}
