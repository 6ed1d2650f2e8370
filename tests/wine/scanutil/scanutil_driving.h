// Driving the scanner utility from a test process: starting it with a
// prepared MERVIX.INI, finding its dialog, pages and message boxes, real
// clicks on its tabs, and reading what the virtual scanner received.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "wine_test_support.h"

enum : DWORD { GUI_TIMEOUT_MS = 15000 };

// A MERVIX.INI: [ScanDLL] DLL32, [MervixSystem] DLL32 and [ScannerInfo]
// values; an empty string leaves the key out.
std::string IniText(const std::string &scanDll, const std::string &paintDir, const std::vector<std::string> &scannerInfo);
void WriteIni(const std::string &text);
std::string IniPath();
std::string DevcmdPath();      // the installed command library
std::string TraceDevcmdPath(); // the tracing stand-in

// One run of scanutil.exe; ended (terminated if need be) when destroyed.
struct Utility {
    Utility() = default;
    Utility(const Utility &) = delete;
    ~Utility();
    bool Start();
    // Waits for the end; false on timeout.
    bool WaitEnd(DWORD timeoutMs, DWORD *exitCode = nullptr);
    PROCESS_INFORMATION pi = {};
    bool started = false;
};

// Top-level visible windows of class "#32770" of a process.
std::vector<HWND> ProcessDialogs(DWORD pid);
// The utility dialog (the one with the tab control 201).
HWND WaitUtilityDialog(DWORD pid, DWORD timeoutMs = GUI_TIMEOUT_MS);
// A message box of the process (a "#32770" without the tab control).
HWND WaitMessageBox(DWORD pid, DWORD timeoutMs = GUI_TIMEOUT_MS);
std::string MessageBoxText(HWND box);
void DismissMessageBox(HWND box);
// Waits for a message box, returns its text and closes it ("" on timeout).
std::string TakeMessageBox(DWORD pid, std::string *caption = nullptr);

HWND TabControl(HWND dialog);
std::string TabText(HWND tab, int index);
int CurrentTab(HWND tab);
// A real click on tab `index`.
void ClickTab(HWND tab, int index);
// The shown page that holds control `id`.
HWND WaitPage(HWND dialog, int id, DWORD timeoutMs = GUI_TIMEOUT_MS);
std::string ItemText(HWND page, int id);
bool IsChecked(HWND page, int id);
// Posts a click to a button (the utility runs message boxes from clicks).
void PostClick(HWND page, int id);

// Port-service requests of the log: sub-command and the first payload bytes.
struct PortServiceRequest {
    uint16_t subCode;
    uint16_t address;  // bytes 2-3
    uint16_t mode;     // bytes 4-5
    uint32_t seconds;  // bytes 2-5
    bool succeeded;
};
std::vector<PortServiceRequest> PortRequests(const std::vector<VscLogEntry> &log, int subCode = -1);
// The names of the logged codes, in order.
std::vector<std::string> CodeNames(const std::vector<VscLogEntry> &log);

// Saves the screen beside the test logs after a failure.
void ScreenshotOnFailure(const char *name);

// The open count that devcmd keeps for all processes, read from its shared
// section in a process that has the library loaded.
uint16_t DevcmdOpenCount(HMODULE devcmd);
uint32_t DevcmdBuiltMarker(HMODULE devcmd);
