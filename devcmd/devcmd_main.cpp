// Library entry of devcmd.dll: the attach sequence, the detach, and
// ScannerCommander, the one export.
#include <windows.h>

#include "commands.h"
#include "driver_channel.h"
#include "scan_run.h"
#include "shared_maps.h"
#include "shared_state.h"

namespace {

// Once per process. Only a missing device refuses the load; a failed build
// leaves the process without a device.
BOOL Attach() {
    if (!OpenDriver()) return FALSE;
    if (g_shared.builtMarker != 0) return TRUE;
    if (!BuildTableMaps()) {
        CloseDriver();
        return TRUE;
    }
    if (!BuildLensMap()) {
        ReleaseSystemMap();
        CloseDriver();
        return TRUE;
    }
    MarkMapsBuilt();
    return TRUE;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        g_process.module = instance;
        g_process.driver = INVALID_HANDLE_VALUE;
        DisableThreadLibraryCalls(instance);
        return Attach();
    case DLL_PROCESS_DETACH:
        // A scan whose spool file this process made cannot go on without
        // it: the file goes with the process.
        if (SpoolIsHere()) DiscardSpool();
        CloseOpenMaps();
        CloseDriver();
        // Unloaded while the process goes on: give up the maps it created,
        // as its end would. The shared state itself stays as it is.
        if (!reserved) CloseCreationHandles();
        return TRUE;
    }
    return TRUE;
}

extern "C" SHORT WINAPI ScannerCommander(CommandBlock *block) {
    if (!block) return SCS_BAD_PARAMETER;
    uint16_t command = block->command;
    block->status = SCS_OK;
    if (command > SC_LAST_COMMAND) {
        block->status = SCS_BAD_COMMAND;
        return block->status;
    }
    kCommandHandlers[command](block);
    // No map stays open past a command, whichever way it ended.
    CloseOpenMaps();
    return block->status;
}
