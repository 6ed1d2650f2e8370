// The button monitor: one hidden window that polls the scanner's button
// and opens the stored action, and the remote-control protocol by which a
// second start of the program or btnclose steers it.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "scanner_commander.h"

enum : UINT {
    MSG_LAUNCH_ACTION = 1,
    MSG_OPEN_SETUP = 2,
    CMD_START_POLLING = 101,
    POLL_TIMER_ID = 1,
    POLL_INTERVAL_MS = 1000,
};

enum : uint32_t {
    NAME_CHARS = 80,
    PATH_CHARS = 260,
};

#define SETTINGS_FILE_NAME "Detect.ini"
#define ACTION_SECTION "Action"
#define BUTTON_MESSAGE_NAME "OravineMsg"

struct MonitorState {
    HINSTANCE instance;
    char className[NAME_CHARS];
    UINT buttonMessage;
    char settingsPath[PATH_CHARS];
    HMODULE scannerLibrary;
    ScannerCommanderProc scannerCommander;
    int32_t iconWidth, iconHeight;
    HFONT iconTitleFont;
    int32_t buttonState;
    HWND window;
    bool setupOpen;  // the setup dialog exists at most once
};

extern MonitorState g_monitor;

// Shows string `id` in a message box after putting arguments[i - 1] in the
// place of every "%i". Nothing is shown when the work area is not there.
void ShowResourceMessage(UINT id, UINT style, uint32_t count, const char *const *arguments);

// Null unless the file exists and loads.
HMODULE LoadScannerLibrary(const char *path);

// The first key of section "Action" of the settings file, read from the key
// list into `size` characters (PATH_CHARS: a key of 79 characters needs 81
// for the list); false when there is none.
bool ReadFirstActionKey(char *key, DWORD size);

void ExpandActionPlaceholders();

// Creates the monitor window, or brings a running monitor forward and
// returns null.
HWND CreateMonitor();

LRESULT CALLBACK MonitorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
