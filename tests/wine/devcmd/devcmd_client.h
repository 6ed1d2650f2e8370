// What the command library's Wine tests share: binding the library as a
// client does, the virtual scanner's request log, and helper processes.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "scanner_commander.h"
#include "vscan_client.h"

// devcmd.dll bound through MERVIX.INI [ScanDLL] DLL32, LoadLibraryA and
// GetProcAddress("ScannerCommander").
struct Devcmd {
    HMODULE module = nullptr;
    ScannerCommanderProc entry = nullptr;
};

std::string DevcmdPath();
bool LoadDevcmd(Devcmd *lib);
void FreeDevcmd(Devcmd *lib);

// One command; returns the block's status.
int16_t Send(const Devcmd &lib, CommandBlock *block);
CommandBlock Block(uint16_t command, void *buffer = nullptr);

// The request log of the virtual scanner since the last clear.
struct Logged {
    uint32_t code;
    std::vector<uint8_t> input;
    uint32_t outputLength;
    uint32_t status;
};
std::vector<Logged> ReadRequestLog(HANDLE scanner);
std::vector<uint32_t> Codes(const std::vector<Logged> &log);
std::string CodeNames(const std::vector<uint32_t> &codes);

// The helper program beside the test, with a verb and arguments; returns
// its process handle (null on failure).
HANDLE StartHelper(const std::string &arguments);
// Waits for the helper's end (timeout in ms) and gives its exit code, or
// 0xFFFFFFFF when it did not end in time (it is then terminated).
DWORD WaitHelper(HANDLE process, DWORD timeoutMs = 30000);
// Runs the helper to its end.
DWORD RunHelper(const std::string &arguments, DWORD timeoutMs = 30000);

// A named manual-reset event the helpers also open.
HANDLE NamedEvent(const std::string &name);
std::string UniqueName(const char *stem);
