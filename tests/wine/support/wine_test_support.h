// Helpers shared by the Wine tests: the suite's folders, processes with
// timeouts, windows of other processes, screenshots, files restored byte
// for byte, and the virtual scanner's log.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "vscan_client.h"

// Folder of the build's binaries (where the test programs run from).
std::string BinDir();
// Folder the session installed the suite into (MERVIX.INI points there).
std::string InstallDir();
// The Windows directory, where MERVIX.INI lies.
std::string WindowsDir();

// Runs a command line; waits at most timeoutMs. Returns false on a timeout
// (the process is then terminated) or when it could not start.
bool RunProcess(const std::string &commandLine, DWORD timeoutMs, DWORD *exitCode,
                std::string *output = nullptr);
// Starts a process without waiting; the caller closes the handles.
bool StartProcess(const std::string &commandLine, PROCESS_INFORMATION *pi);
// Waits for a process to end; false on timeout.
bool WaitProcess(HANDLE process, DWORD timeoutMs, DWORD *exitCode = nullptr);

// Polls for a top-level window by class and/or title (either may be null).
HWND WaitForWindow(const char *className, const char *title, DWORD timeoutMs);
// Polls until a condition holds; false on timeout.
template <typename F>
bool WaitUntil(F condition, DWORD timeoutMs, DWORD stepMs = 20) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(stepMs);
    }
}
// Text of a window of any process.
std::string WindowText(HWND window);

// Saves the whole screen, or the part a window covers, as a 24-bit BMP.
bool SaveScreenshot(const std::string &path);
bool SaveWindowShot(HWND window, const std::string &path);

// Whole file contents; empty with *exists false when missing.
std::string ReadWholeFile(const std::string &path, bool *exists = nullptr);
bool WriteWholeFile(const std::string &path, const std::string &data);

// Keeps a file's bytes (or its absence) and puts them back when destroyed.
struct FileRestorer {
    explicit FileRestorer(const std::string &path);
    ~FileRestorer();
    std::string path;
    std::string bytes;
    bool existed;
};

// The virtual scanner for one test: opened, reset before and after.
struct VirtualScanner {
    VirtualScanner();
    ~VirtualScanner();
    HANDLE device;
    std::vector<VscLogEntry> Log() const;
    VscStatus Status() const;
};

std::string Hex(const void *data, size_t size);
// "NAME hex" per log entry, as vscanctl prints them (without results).
std::vector<std::string> LogLines(const std::vector<VscLogEntry> &log);
