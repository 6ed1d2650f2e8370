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

// ---- the setup dialog, driven from the test process ----

#define SETUP_TITLE "Scan Button Setup"
enum { ID_GROUP_COMBO = 1000, ID_APP_NAME = 1014, ID_ITEM_LIST = 1016, ID_HELP_BUTTON = 3 };

// Runs "btnmon /S" and waits for the monitor's dialog; null on timeout.
HWND OpenSetup(const MonitorProcess &monitor);
// Setup dialogs the process shows.
int SetupDialogCount(DWORD processId);

std::vector<std::string> ComboTexts(HWND combo);
std::string ComboSelectedText(HWND combo);
// Selects the entry as a user does: the selection, then CBN_SELCHANGE.
bool ChooseGroup(HWND dialog, const std::string &text);

// List-view access through memory in the list view's process.
std::vector<std::string> ItemLabels(HWND list);
int ItemImage(HWND list, int item);
int SelectedItem(HWND list);
// Selects (or with select false and item -1, deselects every) item.
bool SelectItem(HWND list, int item, bool select = true);
RECT ItemRect(HWND list, int item, int part);  // client coordinates
// The pixels of an item's icon as shown on the screen.
std::vector<uint32_t> ItemIconPixels(HWND list, int item);
// Double click at the item's centre, as real mouse input.
void DoubleClickItem(HWND list, int item);

// The window with the keyboard focus in the dialog's thread.
HWND FocusOf(HWND dialog);
