// What the button-monitor tests share: the installed programs, the monitor
// as a process, its message boxes, shortcuts made with the shell link
// object, and the virtual scanner's polls.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "wine_test_support.h"

#define MONITOR_CLASS "Scan Button Utility"

std::string MonitorExe();   // the installed btnmon.exe
std::string CloserExe();    // the installed btnclose.exe
std::string SettingsPath(); // Detect.ini beside the installed btnmon.exe
std::string ProgramsDir();  // the Start menu's Programs folder
std::string StartupDir();
std::string ProbeExe();     // the probe program in the build's bin folder

// Runs vscanctl with the arguments; its exit code (999 when it did not run).
DWORD Vscanctl(const std::string &args);

// A shortcut at `link` to `target` with `arguments`, saved through
// IShellLinkA and IPersistFile.
bool MakeShortcut(const std::string &link, const std::string &target, const std::string &arguments);

// Lines in a text file (0 when missing).
int LineCount(const std::string &path);

// The monitor as a process started by the test; ended (terminated if it
// must be) when the record goes.
struct MonitorProcess {
    PROCESS_INFORMATION pi = {};
    bool started = false;
    ~MonitorProcess();
    // Starts "btnmon.exe TAIL" without waiting.
    bool Start(const std::string &tail = "");
    // Starts it and waits for its window; null on timeout.
    HWND StartAndWait(const std::string &tail = "");
    bool WaitEnd(DWORD timeoutMs, DWORD *code);
    DWORD Id() const { return pi.dwProcessId; }
};

// The monitor's window, if one runs.
HWND MonitorWindow();
// A visible message box (dialog-class window) of the process, or null.
HWND MessageBoxOf(DWORD processId);
HWND WaitMessageBox(DWORD processId, DWORD timeoutMs);
// The text of a message box, and its dismissal by OK.
std::string MessageBoxText(HWND box);
void DismissMessageBox(HWND box);

// Button polls the scanner has received since its log was last cleared.
int PollCount(const VirtualScanner &scanner);
// Waits until `more` further polls arrived; false on timeout.
bool WaitPolls(const VirtualScanner &scanner, int more);

// Saves a screenshot next to CTest's log, named after the current test.
void ScreenshotIfFailed();
