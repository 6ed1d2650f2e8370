#include "monitor.h"

#include <shlobj.h>
#include <string.h>

#include "monitor_logic.h"
#include "resource.h"
#include "setup_dialog.h"
#include "suite_config.h"

MonitorState g_monitor = {};

namespace {

const DWORD MESSAGE_AREA = 2048, MESSAGE_HALF = 1024;

// Command with a fresh block; only the status is looked at.
int16_t SendScannerCommand(uint16_t command) {
    if (!g_monitor.scannerCommander) return -1;
    CommandBlock block = {};
    block.command = command;
    g_monitor.scannerCommander(&block);
    return block.status;
}

// A shell special folder's path, or false (and an empty path).
bool SpecialFolderPath(HWND owner, int folder, char (&path)[PATH_CHARS]) {
    path[0] = 0;
    LPITEMIDLIST list = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(owner, folder, &list)) || !list) return false;
    BOOL ok = SHGetPathFromIDListA(list, path);
    CoTaskMemFree(list);
    if (!ok) path[0] = 0;
    return ok && path[0];
}

void PollButton(HWND window) {
    const bool down = SendScannerCommand(SC_POLL_BUTTON) == SCS_OK;
    ButtonStep step = NextButtonState(g_monitor.buttonState, down);
    g_monitor.buttonState = step.state;
    if (step.launch) PostMessageA(window, g_monitor.buttonMessage, MSG_LAUNCH_ACTION, 0);
}

void LaunchAction(HWND window) {
    // The key list needs room for a 79-character name and both of its
    // zeros; in 80 characters such a name would come back cut.
    char key[PATH_CHARS];
    if (!ReadFirstActionKey(key, sizeof(key))) return;
    char value[PATH_CHARS] = "";
    GetPrivateProfileStringA(ACTION_SECTION, key, "", value, sizeof(value), g_monitor.settingsPath);
    // An empty value is never handed to the shell, which would open the
    // working folder instead; it fails like any other unusable action.
    INT_PTR result = 0;
    if (value[0]) {
        SetCursor(LoadCursorA(nullptr, IDC_WAIT));
        result = reinterpret_cast<INT_PTR>(ShellExecuteA(window, "open", value, nullptr, nullptr, SW_SHOWNORMAL));
        SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    }
    if (result <= 32) {
        const char *arguments[] = {key};
        ShowResourceMessage(IDS_LAUNCH_FAILED, MB_ICONASTERISK, 1, arguments);
    }
}

LRESULT CreateMonitorWindow(HWND window) {
    char path[PATH_CHARS] = "";
    ReadCommandLibraryPath(path, sizeof(path));
    g_monitor.scannerLibrary = LoadScannerLibrary(path);
    if (g_monitor.scannerLibrary) {
        g_monitor.scannerCommander = reinterpret_cast<ScannerCommanderProc>(
            reinterpret_cast<void *>(GetProcAddress(g_monitor.scannerLibrary, "ScannerCommander")));
        // A library without the entry is as good as none: never call through it.
        if (!g_monitor.scannerCommander) {
            FreeLibrary(g_monitor.scannerLibrary);
            g_monitor.scannerLibrary = nullptr;
        }
    }
    if (!g_monitor.scannerLibrary) {
        ShowResourceMessage(IDS_NO_SCANNER, MB_ICONHAND, 0, nullptr);
        return -1;
    }
    SendScannerCommand(SC_OPEN);
    g_monitor.iconWidth = GetSystemMetrics(SM_CXICON);
    g_monitor.iconHeight = GetSystemMetrics(SM_CYICON);
    LOGFONTA font;
    static_assert(sizeof(LOGFONTA) == 60);
    if (SystemParametersInfoA(SPI_GETICONTITLELOGFONT, sizeof(font), &font, 0))
        g_monitor.iconTitleFont = CreateFontIndirectA(&font);
    g_monitor.window = window;
    PostMessageA(window, WM_COMMAND, CMD_START_POLLING, 0);
    return 0;
}

void ShutDown(HWND window) {
    KillTimer(window, POLL_TIMER_ID);
    if (g_monitor.iconTitleFont) {
        DeleteObject(g_monitor.iconTitleFont);
        g_monitor.iconTitleFont = nullptr;
    }
    if (g_monitor.scannerLibrary) {
        SendScannerCommand(SC_CLOSE);
        g_monitor.scannerCommander = nullptr;
        FreeLibrary(g_monitor.scannerLibrary);
        g_monitor.scannerLibrary = nullptr;
    }
    g_monitor.window = nullptr;
    PostQuitMessage(0);
}

}  // namespace

void ShowResourceMessage(UINT id, UINT style, uint32_t count, const char *const *arguments) {
    char *area = static_cast<char *>(LocalAlloc(LMEM_FIXED, MESSAGE_AREA));
    if (!area) return;
    area[0] = 0;
    LoadStringA(g_monitor.instance, id, area, MESSAGE_HALF);
    SubstituteArguments(area, MESSAGE_HALF, count, arguments);
    MessageBoxA(GetFocus(), area, g_monitor.className, style);
    LocalFree(area);
}

HMODULE LoadScannerLibrary(const char *path) {
    if (!path || !path[0]) return nullptr;
    OFSTRUCT of = {};
    if (OpenFile(path, &of, OF_EXIST) == HFILE_ERROR) return nullptr;
    return LoadLibraryA(path);
}

bool ReadFirstActionKey(char *key, DWORD size) {
    if (size < 2) return false;
    key[0] = 0;
    DWORD n = GetPrivateProfileStringA(ACTION_SECTION, nullptr, "", key, size, g_monitor.settingsPath);
    return n > 0 && key[0];
}

void ExpandActionPlaceholders() {
    // The key list needs room for a 79-character name and both of its
    // zeros; in 80 characters such a name would come back cut.
    char key[PATH_CHARS];
    if (!ReadFirstActionKey(key, sizeof(key))) return;
    char value[PATH_CHARS] = "";
    GetPrivateProfileStringA(ACTION_SECTION, key, "", value, sizeof(value), g_monitor.settingsPath);
    char programs[PATH_CHARS], startup[PATH_CHARS];
    SpecialFolderPath(nullptr, CSIDL_PROGRAMS, programs);
    SpecialFolderPath(nullptr, CSIDL_STARTUP, startup);
    char expanded[PATH_CHARS];
    if (ExpandActionValue(value, programs, startup, expanded, sizeof(expanded)) == EXPAND_DONE)
        WritePrivateProfileStringA(ACTION_SECTION, key, expanded, g_monitor.settingsPath);
}

HWND CreateMonitor() {
    if (HWND running = FindWindowA(g_monitor.className, nullptr)) {
        HWND popup = GetLastActivePopup(running);
        BringWindowToTop(running);
        if (popup && popup != running) {
            BringWindowToTop(popup);
            SetForegroundWindow(popup);
        }
        return nullptr;
    }
    char module[PATH_CHARS] = "";
    DWORD n = GetModuleFileNameA(nullptr, module, sizeof(module));
    if (n == 0 || n >= sizeof(module)) return nullptr;
    char *slash = strrchr(module, '\\');
    if (slash) slash[1] = 0; else module[0] = 0;
    if (strlen(module) + sizeof(SETTINGS_FILE_NAME) > sizeof(g_monitor.settingsPath)) return nullptr;
    CopyCut(g_monitor.settingsPath, sizeof(g_monitor.settingsPath), module);
    strcat(g_monitor.settingsPath, SETTINGS_FILE_NAME);

    ExpandActionPlaceholders();

    WNDCLASSA wc = {};
    wc.lpfnWndProc = MonitorWindowProc;
    wc.hInstance = g_monitor.instance;
    wc.hIcon = LoadIconA(g_monitor.instance, MAKEINTRESOURCEA(IDI_MAIN));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    wc.lpszClassName = g_monitor.className;
    if (!RegisterClassA(&wc)) return nullptr;
    return CreateWindowExA(0, g_monitor.className, g_monitor.className, WS_POPUP | WS_CAPTION | WS_SYSMENU,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                           g_monitor.instance, nullptr);
}

LRESULT CALLBACK MonitorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == g_monitor.buttonMessage && message != 0) {
        if (wParam == MSG_LAUNCH_ACTION) LaunchAction(window);
        else if (wParam == MSG_OPEN_SETUP) OpenSetupDialog(window);
        return 0;
    }
    switch (message) {
    case WM_CREATE:
        return CreateMonitorWindow(window);
    case WM_DESTROY:
        ShutDown(window);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == CMD_START_POLLING) SetTimer(window, POLL_TIMER_ID, POLL_INTERVAL_MS, nullptr);
        return 0;
    case WM_TIMER:
        PollButton(window);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
