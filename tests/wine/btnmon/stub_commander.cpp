// A stand-in command library for the tests that must see what the monitor
// sends and whether it frees the library: every call and the unload go to
// a log beside the DLL. Built twice: with the entry, and (STUB_NO_ENTRY)
// exporting only another name.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "scanner_commander.h"

namespace {

char g_logPath[MAX_PATH];

void Log(const char *line) {
    HANDLE f = CreateFileA(g_logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD put = 0;
    WriteFile(f, line, DWORD(strlen(line)), &put, nullptr);
    WriteFile(f, "\r\n", 2, &put, nullptr);
    CloseHandle(f);
}

}  // namespace

#ifndef STUB_NO_ENTRY
extern "C" __declspec(dllexport) SHORT WINAPI ScannerCommander(CommandBlock *block) {
    char line[32];
    snprintf(line, sizeof(line), "cmd %u", unsigned(block->command));
    Log(line);
    // The button is always up.
    block->status = block->command == SC_POLL_BUTTON ? 31 : 0;
    return block->status;
}
#else
extern "C" __declspec(dllexport) SHORT WINAPI OtherEntry(CommandBlock *block) {
    Log("called");
    block->status = 0;
    return 0;
}
#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        DWORD n = GetModuleFileNameA(instance, g_logPath, MAX_PATH - 8);
        if (n == 0 || n >= MAX_PATH - 8) return FALSE;
        strcpy(strrchr(g_logPath, '.'), ".log");
        Log("attach");
    } else if (reason == DLL_PROCESS_DETACH) {
        // Freed by FreeLibrary, or only torn down with the process.
        Log(reserved ? "detach exit" : "detach free");
    }
    return TRUE;
}
