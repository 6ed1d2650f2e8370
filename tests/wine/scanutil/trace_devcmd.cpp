// A stand-in for devcmd.dll that the tests name in [ScanDLL] DLL32: it
// loads the real library (ORV_REAL_DEVCMD) and passes every call on,
// writing each command (and port-service sub-command) into the file named
// by ORV_TRACE_FILE, where BTNDRAW.DLL writes its calls too. So one file
// shows the order of calls into both libraries.
#include <windows.h>

#include <stdio.h>

#include "scanner_commander.h"

namespace {
HMODULE g_real;
ScannerCommanderProc g_entry;

void Trace(const char *what) {
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("ORV_TRACE_FILE", path, sizeof(path));
    if (n == 0 || n >= sizeof(path)) return;
    HANDLE f = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    char line[128];
    int len = snprintf(line, sizeof(line), "%lu %s\r\n", (unsigned long)GetCurrentProcessId(), what);
    DWORD put = 0;
    if (len > 0) WriteFile(f, line, DWORD(len), &put, nullptr);
    CloseHandle(f);
}
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH];
        DWORD n = GetEnvironmentVariableA("ORV_REAL_DEVCMD", path, sizeof(path));
        if (n == 0 || n >= sizeof(path)) return FALSE;
        g_real = LoadLibraryA(path);
        if (!g_real) return FALSE;
        g_entry = reinterpret_cast<ScannerCommanderProc>(reinterpret_cast<void *>(GetProcAddress(g_real, "ScannerCommander")));
        if (!g_entry) return FALSE;
        Trace("load devcmd");
        return TRUE;
    }
    if (reason == DLL_PROCESS_DETACH && g_real) FreeLibrary(g_real);
    return TRUE;
}

extern "C" SHORT WINAPI ScannerCommander(CommandBlock *block) {
    char line[64];
    if (block->command == SC_PORT_SERVICE && block->buffer && *static_cast<PortRequest **>(block->buffer))
        snprintf(line, sizeof(line), "devcmd %u.%u", block->command, (*static_cast<PortRequest **>(block->buffer))->subCode);
    else
        snprintf(line, sizeof(line), "devcmd %u", block->command);
    Trace(line);
    return g_entry(block);
}
