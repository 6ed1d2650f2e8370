// The "Scan Button Setup" dialog: chooses the Start-menu shortcut that the
// button opens and stores it in section "Action" of "Detect.ini".
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <stdint.h>

#include "monitor.h"

struct SetupState {
    HIMAGELIST imageList;
    HGLOBAL groupPaths;  // StringList
    int32_t selectedItem;
    char currentShortcutName[PATH_CHARS];
    char helpPath[PATH_CHARS];
    bool helpShown;
    HWND dialog;
};

extern SetupState g_setup;

// A growable list of texts in one movable global block: a 32-bit count of
// the bytes used, then the texts back to back with their zeros. Texts are
// addressed by offset from the first text or by their index.
HGLOBAL StringListCreate();
// Appends; returns the new text's offset, or -1 with the list unchanged.
// The block may move, so the handle is passed by address.
int32_t StringListAppend(HGLOBAL *list, const char *text);
// Copy into a caller buffer of PATH_CHARS characters; an offset or index
// outside the list gives an empty text.
void StringListGetAt(HGLOBAL list, int32_t offset, char (&dest)[PATH_CHARS]);
void StringListGetNth(HGLOBAL list, int32_t n, char (&dest)[PATH_CHARS]);

// Opens the dialog modally over the monitor window, unless it is open.
void OpenSetupDialog(HWND owner);
