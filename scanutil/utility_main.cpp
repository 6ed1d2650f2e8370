// Start-up of the scanner utility: one copy at a time, the libraries bound,
// a hidden window whose message loop runs the tabbed dialog, and the
// release of everything at exit.
#include "resource.h"
#include "utility.h"

uint16_t g_currentAddress;
uint16_t g_currentMode;
HINSTANCE g_instance;
HWND g_dialog;
char g_caption[CAPTION_CHARS];

namespace {

HWND g_tabs;
SftTabsPage g_portPage;
SftTabsPage g_lampPage;

void AddTab(HWND tabs, UINT textId, SftTabsPage *page, SftTabsPageCallback callback) {
    char text[TAB_TEXT_CHARS] = "";
    LoadStringA(g_instance, textId, text, sizeof(text));
    page->callback = callback;
    page->window = nullptr;
    const LRESULT index = SendMessageA(tabs, SFTTABSM_ADDTAB, 0, reinterpret_cast<LPARAM>(text));
    if (index >= 0) SendMessageA(tabs, SFTTABSM_SETPAGE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(page));
}

INT_PTR CALLBACK UtilityDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        g_dialog = dialog;
        g_tabs = GetDlgItem(dialog, IDC_TABS);
        if (g_settings.portKind == PORT_KIND_SCANPORT)
            AddTab(g_tabs, IDS_TAB_SCANPORT, &g_portPage, ScanPortPageCallback);
        else
            AddTab(g_tabs, IDS_TAB_IO_VERIFY, &g_portPage, IoVerifyPageCallback);
        AddTab(g_tabs, IDS_TAB_LAMP, &g_lampPage, LampPageCallback);
        static SftTabsSettings settings = {sizeof(SftTabsSettings), SFTTABS_FLAG_CENTER_PAGE, 2, 2};
        SendMessageA(g_tabs, SFTTABSM_SETSETTINGS, 0, reinterpret_cast<LPARAM>(&settings));
        SftTabs_ActivatePage(dialog, g_tabs, nullptr, TRUE);
        SftTabs_RegisterDialog(dialog);
        SetFocus(g_tabs);
        return FALSE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_TABS && reinterpret_cast<HWND>(lParam) == g_tabs) {
            if (HIWORD(wParam) == SFTTABSN_LEAVING) {
                if (!SftTabs_DeactivatePage(dialog, g_tabs)) SendMessageA(g_tabs, WM_CANCELMODE, 0, 0);
            } else if (HIWORD(wParam) == SFTTABSN_SELECTED) {
                SftTabs_ActivatePage(dialog, g_tabs, nullptr, FALSE);
            }
        } else if (LOWORD(wParam) == IDOK) {
            ApplyLampSetting();
            EndDialog(dialog, 0);
        }
        break;
    case WM_CLOSE:
        // The close box discards a changed lamp setting.
        EndDialog(dialog, 0);
        break;
    case WM_DESTROY:
        SftTabs_UnregisterDialog(dialog);
        SftTabs_Destroy(dialog, g_tabs);
        g_dialog = nullptr;
        g_tabs = nullptr;
        break;
    }
    return SftTabs_HandleDialogMessage(dialog, message, wParam, lParam);
}

LRESULT CALLBACK UtilityWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case UWM_UTILITY:
        if (wParam == UTILITY_OPEN_DIALOG) {
            g_currentAddress = OpeningAddress(g_settings.portAddress);
            g_currentMode = g_settings.portMode;
            const int templateId = g_settings.portKind == PORT_KIND_SCANPORT ? IDD_UTILITY_SCANPORT : IDD_UTILITY;
            DialogBoxParamA(g_instance, MAKEINTRESOURCEA(templateId), window, UtilityDialogProc, 0);
            DestroyWindow(window);
            return 0;
        }
        if (wParam == UTILITY_GET_DIALOG) return reinterpret_cast<UINT_PTR>(g_dialog) & 0xFFFF;
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Steps 4.1-4.4 of the start: 0 when both libraries are bound.
int StartUpUtility() {
    LoadStringA(g_instance, IDS_CAPTION, g_caption, sizeof(g_caption));
    int error = BindScannerLibrary();
    if (error == 0) error = BindPaintLibrary();
    if (error != 0) {
        ShowStartupError(nullptr, error);
        ReleaseLibraries();
    }
    return error;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    g_instance = instance;
    HWND running = FindWindowA(UTILITY_CLASS, nullptr);
    if (running) {
        BringWindowToTop(running);
        DWORD_PTR handle = 0;
        if (SendMessageTimeoutA(running, UWM_UTILITY, UTILITY_GET_DIALOG, 0, SMTO_ABORTIFHUNG, 5000, &handle) &&
            handle) {
            HWND dialog = reinterpret_cast<HWND>(handle & 0xFFFF);
            SetForegroundWindow(dialog);
            SetActiveWindow(dialog);
        }
        return 0;
    }

    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = UtilityWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_UTILITY));
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = UTILITY_CLASS;
    if (!RegisterClassA(&wc)) return 0;

    if (StartUpUtility() != 0) return 0;

    SftTabs_RegisterApp(instance);
    HWND window = CreateWindowA(UTILITY_CLASS, g_caption, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0,
                                nullptr, nullptr, instance, nullptr);
    if (!window) {
        ReleaseLibraries();
        SftTabs_UnregisterApp(instance);
        return 0;
    }
    PostMessageA(window, UWM_UTILITY, UTILITY_OPEN_DIALOG, 0);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    ReleaseLibraries();
    SftTabs_UnregisterApp(instance);
    return static_cast<int>(msg.wParam);
}
