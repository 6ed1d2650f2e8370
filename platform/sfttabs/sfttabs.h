// The tab-control pack "SFTTB32.DLL": a tab control window class, a gray
// page dialog class, and the calls that create and destroy a tabbed
// dialog's pages on demand through the pages' creation callbacks.
#pragma once

#include <windows.h>

#include <stdint.h>

#define SFTTABS_CONTROL_CLASS "SoftelTabControl"
#define SFTTABS_PAGE_CLASS "SoftelGrayDialog32"

// Messages of the tab control.
enum : UINT {
    SFTTABSM_ADDTAB = WM_USER + 10,        // lParam: tab text; returns the tab's index, -1 when full
    SFTTABSM_SETSETTINGS = WM_USER + 26,   // lParam: SftTabsSettings; returns TRUE
    SFTTABSM_SETPAGE = WM_USER + 28,       // wParam: index, lParam: SftTabsPage; returns TRUE
    SFTTABSM_GETCURRENT = WM_USER + 29,    // returns the shown tab's index, -1 when none
    SFTTABSM_GETTABCENTER = WM_USER + 30,  // wParam: index; MAKELONG(x, y) in client pixels, 0 when none
    SFTTABSM_QUERYLEAVE = WM_USER + 31,    // sent to a page before it is left: non-zero result refuses
    SFTTABSM_GETTABTEXT = WM_USER + 32,    // wParam: index, lParam: buffer of SFTTABS_TEXT_CHARS; returns the length
};

// Notification codes, sent as WM_COMMAND (control id, code) with the tab
// control's handle. A parent refuses the switch by sending WM_CANCELMODE
// to the tab control while handling SFTTABSN_LEAVING.
enum : UINT {
    SFTTABSN_LEAVING = 4,   // the shown page is about to be left
    SFTTABSN_SELECTED = 5,  // another tab was selected
};

enum : uint32_t { SFTTABS_MAX_TABS = 16, SFTTABS_TEXT_CHARS = 40 };

// Creation callback of a page: (create flag, parent window, existing page
// window, page parameter). The pack passes the address of the page's
// SftTabsPage as the page parameter.
typedef HWND(CALLBACK *SftTabsPageCallback)(BOOL create, HWND parent, HWND page, LPARAM param);

// A tab's page record, owned by the program for as long as the tab exists.
struct SftTabsPage {
    SftTabsPageCallback callback;
    HWND window;  // written by the pack: the page while it exists
};

// Settings of a tab control (WM_USER+26).
struct SftTabsSettings {
    uint32_t size;      // sizeof(SftTabsSettings)
    uint32_t flags;     // SFTTABS_FLAG_*
    int32_t marginX;    // pixels between the panel's frame and the page
    int32_t marginY;
};

enum : uint32_t {
    SFTTABS_FLAG_CENTER_PAGE = 0x01,  // centre a smaller page in the panel
};

#ifdef SFTTABS_BUILD
#define SFTTABS_API extern "C"
#else
#define SFTTABS_API extern "C" __declspec(dllimport)
#endif

SFTTABS_API BOOL WINAPI SftTabs_RegisterApp(HINSTANCE instance);
SFTTABS_API BOOL WINAPI SftTabs_UnregisterApp(HINSTANCE instance);
SFTTABS_API BOOL WINAPI SftTabs_RegisterDialog(HWND dialog);
SFTTABS_API BOOL WINAPI SftTabs_UnregisterDialog(HWND dialog);
// Shows the page of `page` (null: the current tab's page), creating it
// through its callback when it does not exist. `first` on the dialog's
// initialisation.
SFTTABS_API BOOL WINAPI SftTabs_ActivatePage(HWND dialog, HWND tab, SftTabsPage *page, BOOL first);
// Leaves the shown page: FALSE when the page refuses, else the page is
// destroyed through its callback.
SFTTABS_API BOOL WINAPI SftTabs_DeactivatePage(HWND dialog, HWND tab);
// Called by a page at the end of its initialisation with the value it was
// created with (the page record's address); `focus` may name a control to focus.
SFTTABS_API BOOL WINAPI SftTabs_SetPageActive(HWND page, LPARAM initValue, HWND focus);
SFTTABS_API LRESULT WINAPI SftTabs_HandleDialogMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Destroys every page of the tab control through its callback.
SFTTABS_API void WINAPI SftTabs_Destroy(HWND dialog, HWND tab);
