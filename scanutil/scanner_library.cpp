// Binding of the scanner command library and of the painting library, the
// commands sent through the one block, and their release at exit.
#include <string.h>

#include "suite_config.h"
#include "resource.h"
#include "utility.h"

ScannerLibrary g_scanner;
ScannerSettings g_settings;
PaintLibrary g_paint;

bool SendCommand(uint16_t code) {
    g_scanner.block.command = code;
    g_scanner.entry(&g_scanner.block);
    return g_scanner.block.status == SCS_OK;
}

bool SendPortService(uint16_t subCode) {
    g_scanner.requestSlot = &g_scanner.request;
    g_scanner.block.buffer = &g_scanner.requestSlot;
    g_scanner.request.subCode = subCode;
    return SendCommand(SC_PORT_SERVICE);
}

// The payload starts at byte 2 of the request.
void PutRequestWord(uint32_t offset, uint16_t value) {
    if (offset < 2 || offset + 2 > sizeof(PortRequest)) return;
    memcpy(g_scanner.request.payload + (offset - 2), &value, sizeof(value));
}

void PutRequestLong(uint32_t offset, uint32_t value) {
    if (offset < 2 || offset + 4 > sizeof(PortRequest)) return;
    memcpy(g_scanner.request.payload + (offset - 2), &value, sizeof(value));
}

uint16_t RequestWord(uint32_t offset) {
    uint16_t v = 0;
    if (offset >= 2 && offset + 2 <= sizeof(PortRequest)) memcpy(&v, g_scanner.request.payload + (offset - 2), sizeof(v));
    return v;
}

uint32_t RequestLong(uint32_t offset) {
    uint32_t v = 0;
    if (offset >= 2 && offset + 4 <= sizeof(PortRequest)) memcpy(&v, g_scanner.request.payload + (offset - 2), sizeof(v));
    return v;
}

int BindScannerLibrary() {
    int error = IDS_DLL_NOT_FOUND;
    char path[CFG_LIBRARY_PATH_UTILITY_CHARS] = "";
    if (ReadCommandLibraryPath(path, sizeof(path)) == 0) return error;
    OFSTRUCT of = {};
    of.cBytes = sizeof(of);
    if (OpenFile(path, &of, OF_EXIST) == HFILE_ERROR) return error;
    g_scanner.module = LoadLibraryA(path);
    if (!g_scanner.module) return error;
    g_scanner.entry = reinterpret_cast<ScannerCommanderProc>(
        reinterpret_cast<void *>(GetProcAddress(g_scanner.module, "ScannerCommander")));
    if (!g_scanner.entry) {
        FreeLibrary(g_scanner.module);
        g_scanner.module = nullptr;
        return IDS_WRONG_MODEL;
    }
    SendCommand(SC_OPEN);

    static uint8_t deviceInfo[30];
    g_scanner.block.buffer = deviceInfo;
    if (!SendCommand(SC_GET_DEVICE_INFO)) {
        SendCommand(SC_CLOSE);
        FreeLibrary(g_scanner.module);
        g_scanner.module = nullptr;
        g_scanner.entry = nullptr;
        return error;
    }
    g_scanner.scannerAcquired = SendCommand(SC_ACQUIRE);
    if (!g_scanner.scannerAcquired) {
        SendCommand(SC_CLOSE);
        FreeLibrary(g_scanner.module);
        g_scanner.module = nullptr;
        g_scanner.entry = nullptr;
        return IDS_SCANNER_IN_USE;
    }
    // Whatever the status: a failed request leaves the zeroed record.
    SendPortService(SCP_GET_SETTINGS);
    g_settings.lampOffSeconds = RequestLong(2);
    g_settings.portAddress = RequestWord(8);
    g_settings.portMode = RequestWord(10);
    g_settings.portKind = RequestWord(12);
    return 0;
}

int BindPaintLibrary() {
    char directory[CFG_LIBRARY_DIR_CHARS] = "";
    ReadSharedLibraryDir(directory);
    char path[MAX_PATH] = "";
    // A joined path that does not fit is not cut: a cut path could name
    // another file. The utility then runs without the library.
    if (!JoinLibraryPath(directory, "BTNDRAW.DLL", path, sizeof(path))) return 0;
    g_paint.module = LoadLibraryA(path);
    if (!g_paint.module) return 0;
    PaintRegisterProc registerProc = reinterpret_cast<PaintRegisterProc>(
        reinterpret_cast<void *>(GetProcAddress(g_paint.module, "Paint_Register")));
    if (!registerProc) {
        FreeLibrary(g_paint.module);
        g_paint.module = nullptr;
        return IDS_SHARED_DLLS;
    }
    registerProc();
    g_paint.initItem = reinterpret_cast<PaintInitItemProc>(
        reinterpret_cast<void *>(GetProcAddress(g_paint.module, "Paint_InitItem")));
    g_paint.endItem = reinterpret_cast<PaintEndItemProc>(
        reinterpret_cast<void *>(GetProcAddress(g_paint.module, "Paint_EndItem")));
    g_paint.drawItem = reinterpret_cast<PaintDrawItemProc>(
        reinterpret_cast<void *>(GetProcAddress(g_paint.module, "Paint_DrawItem")));
    return 0;
}

void ShowStartupError(HWND owner, int id) {
    char text[STARTUP_MESSAGE_CHARS] = "";
    LoadStringA(g_instance, static_cast<UINT>(id), text, sizeof(text));
    MessageBoxA(owner ? owner : GetFocus(), text, g_caption, MB_OK | MB_ICONSTOP);
}

void ReleaseLibraries() {
    if (g_paint.module) {
        PaintUnregisterProc unregisterProc = reinterpret_cast<PaintUnregisterProc>(
            reinterpret_cast<void *>(GetProcAddress(g_paint.module, "Paint_Unregister")));
        if (unregisterProc) unregisterProc();
        FreeLibrary(g_paint.module);
        g_paint = PaintLibrary{};
    }
    if (g_scanner.module) {
        if (g_scanner.scannerAcquired) {
            SendCommand(SC_RELEASE);
            g_scanner.scannerAcquired = false;
        }
        SendCommand(SC_CLOSE);
        FreeLibrary(g_scanner.module);
        g_scanner.module = nullptr;
        g_scanner.entry = nullptr;
    }
}

void ShowPageMessage(UINT stringId, UINT icon) {
    char text[MESSAGE_CHARS] = "";
    LoadStringA(g_instance, stringId, text, sizeof(text));
    MessageBoxA(g_dialog, text, g_caption, MB_OK | icon);
}
