// The utility's module-level state and the operations its pages share:
// the scanner library binding, the painting library, the settings read at
// start-up and the port page's selection.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "paint_records.h"
#include "scanner_commander.h"
#include "sfttabs.h"
#include "utility_logic.h"

#define UTILITY_CLASS "IOTestForFlatedBed"
#define UWM_UTILITY WM_USER
enum : WPARAM { UTILITY_OPEN_DIALOG = 0, UTILITY_GET_DIALOG = 1 };

enum : uint32_t {
    CAPTION_CHARS = 80,
    MESSAGE_CHARS = 80,
    STARTUP_MESSAGE_CHARS = 160,
    TAB_TEXT_CHARS = 40,
    SHOW_TEXT_CHARS = 40,
};

// The binding of devcmd, held for the whole run. The block and the request
// serve every call and are never cleared: the ownerId that SC_ACQUIRE
// leaves in the block is what SC_RELEASE presents at exit.
struct ScannerLibrary {
    HMODULE module;
    ScannerCommanderProc entry;
    CommandBlock block;
    PortRequest request;
    PortRequest *requestSlot;  // the block's buffer points here for SC_PORT_SERVICE
    bool scannerAcquired;
};

struct ScannerSettings {
    uint32_t lampOffSeconds;
    uint16_t portAddress;
    uint16_t portMode;
    uint16_t portKind;
};

struct PaintLibrary {
    HMODULE module;
    PaintInitItemProc initItem;
    PaintEndItemProc endItem;
    PaintDrawItemProc drawItem;
};

extern ScannerLibrary g_scanner;
extern ScannerSettings g_settings;
extern PaintLibrary g_paint;
extern uint16_t g_currentAddress;
extern uint16_t g_currentMode;
extern HINSTANCE g_instance;
extern HWND g_dialog;
extern char g_caption[CAPTION_CHARS];

bool SendCommand(uint16_t code);
bool SendPortService(uint16_t subCode);
// Payload fields of the request, little-endian at their byte offsets
// counted from the start of the PortRequest.
void PutRequestWord(uint32_t offset, uint16_t value);
void PutRequestLong(uint32_t offset, uint32_t value);
uint16_t RequestWord(uint32_t offset);
uint32_t RequestLong(uint32_t offset);

int BindScannerLibrary();
int BindPaintLibrary();
void ShowStartupError(HWND owner, int id);
void ReleaseLibraries();

// A message box of the pages: text from the string table, caption string 0,
// owned by the utility dialog.
void ShowPageMessage(UINT stringId, UINT icon);

// Pages (creation callbacks for the tab pack).
HWND CALLBACK IoVerifyPageCallback(BOOL create, HWND parent, HWND page, LPARAM param);
HWND CALLBACK ScanPortPageCallback(BOOL create, HWND parent, HWND page, LPARAM param);
HWND CALLBACK LampPageCallback(BOOL create, HWND parent, HWND page, LPARAM param);
void ApplyLampSetting();
