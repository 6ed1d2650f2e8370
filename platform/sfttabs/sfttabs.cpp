// The tab-control pack: a row of tabs over a framed panel, the pages of
// the tabs shown in the panel, each page created through its callback when
// its tab is shown and destroyed when it is left.
#include "sfttabs.h"

#include <string.h>

namespace {

HINSTANCE g_module;
LONG g_registrations;  // SftTabs_RegisterApp calls not yet undone

struct TabEntry {
    char text[SFTTABS_TEXT_CHARS];
    SftTabsPage *page;
    RECT rect;  // the tab in client pixels, laid out on paint and on clicks
};

struct TabControl {
    TabEntry tabs[SFTTABS_MAX_TABS];
    int count;
    int current;  // -1: none
    HFONT font;
    bool refused;  // set by WM_CANCELMODE while the parent handles the leave notice
    SftTabsSettings settings;
};

const char PAGE_PROP[] = "SftTabsPage";
const int TAB_PAD_X = 8;
const int TAB_RAISE = 2;

TabControl *ControlOf(HWND tab) {
    return reinterpret_cast<TabControl *>(GetWindowLongPtrA(tab, GWLP_USERDATA));
}

bool IsTabControl(HWND window) {
    char name[32] = "";
    return window && GetClassNameA(window, name, sizeof(name)) && lstrcmpiA(name, SFTTABS_CONTROL_CLASS) == 0;
}

int RowHeight(HWND tab, TabControl *tc) {
    HDC dc = GetDC(tab);
    HGDIOBJ old = SelectObject(dc, tc->font ? tc->font : GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICA tm;
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(tab, dc);
    return tm.tmHeight + 8;
}

void LayoutTabs(HWND tab, TabControl *tc) {
    HDC dc = GetDC(tab);
    HGDIOBJ old = SelectObject(dc, tc->font ? tc->font : GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICA tm;
    GetTextMetricsA(dc, &tm);
    const int rowHeight = tm.tmHeight + 8;
    int x = TAB_RAISE;
    for (int i = 0; i < tc->count; ++i) {
        SIZE size = {};
        GetTextExtentPoint32A(dc, tc->tabs[i].text, lstrlenA(tc->tabs[i].text), &size);
        RECT &r = tc->tabs[i].rect;
        r.left = x;
        r.right = x + size.cx + 2 * TAB_PAD_X;
        r.top = TAB_RAISE;
        r.bottom = rowHeight;
        x = r.right;
    }
    SelectObject(dc, old);
    ReleaseDC(tab, dc);
}

// The panel under the tabs, in the tab control's client pixels.
RECT PanelRect(HWND tab, TabControl *tc) {
    RECT r;
    GetClientRect(tab, &r);
    r.top = RowHeight(tab, tc);
    return r;
}

// Where a page goes, in its parent's client coordinates.
RECT PageRect(HWND tab, TabControl *tc, HWND parent, HWND page) {
    RECT panel = PanelRect(tab, tc);
    panel.left += 2 + tc->settings.marginX;
    panel.top += 2 + tc->settings.marginY;
    panel.right -= 2 + tc->settings.marginX;
    panel.bottom -= 2 + tc->settings.marginY;
    MapWindowPoints(tab, parent, reinterpret_cast<POINT *>(&panel), 2);
    if ((tc->settings.flags & SFTTABS_FLAG_CENTER_PAGE) && page) {
        RECT own;
        GetWindowRect(page, &own);
        const int w = own.right - own.left, h = own.bottom - own.top;
        if (w < panel.right - panel.left) panel.left += (panel.right - panel.left - w) / 2;
        if (h < panel.bottom - panel.top) panel.top += (panel.bottom - panel.top - h) / 4;
        panel.right = panel.left + w;
        panel.bottom = panel.top + h;
    }
    return panel;
}

void PaintTabs(HWND tab, TabControl *tc) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(tab, &ps);
    RECT client;
    GetClientRect(tab, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    LayoutTabs(tab, tc);
    RECT panel = PanelRect(tab, tc);
    DrawEdge(dc, &panel, EDGE_RAISED, BF_RECT);

    HGDIOBJ oldFont = SelectObject(dc, tc->font ? tc->font : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    const bool focused = GetFocus() == tab;
    for (int i = 0; i < tc->count; ++i) {
        RECT r = tc->tabs[i].rect;
        const bool shown = i == tc->current;
        if (shown) {
            InflateRect(&r, TAB_RAISE, 0);
            r.top -= TAB_RAISE;
            r.bottom += 2;  // merges with the panel
        } else {
            r.bottom += 1;
        }
        RECT face = r;
        face.left += 1;
        face.right -= 1;
        face.top += 1;
        FillRect(dc, &face, GetSysColorBrush(COLOR_BTNFACE));
        DrawEdge(dc, &r, EDGE_RAISED, BF_LEFT | BF_TOP | BF_RIGHT | BF_SOFT);
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
        RECT text = tc->tabs[i].rect;
        if (shown) OffsetRect(&text, 0, -1);
        DrawTextA(dc, tc->tabs[i].text, -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        if (shown && focused) {
            RECT f = text;
            InflateRect(&f, -3, -3);
            DrawFocusRect(dc, &f);
        }
    }
    SelectObject(dc, oldFont);
    EndPaint(tab, &ps);
}

// The switch protocol: ask the parent whether the shown page may be left,
// then tell it which tab is now selected.
void SelectTab(HWND tab, TabControl *tc, int index) {
    if (index < 0 || index >= tc->count || index == tc->current) return;
    HWND parent = GetParent(tab);
    const WPARAM id = static_cast<WPARAM>(GetDlgCtrlID(tab));
    tc->refused = false;
    if (tc->current >= 0) SendMessageA(parent, WM_COMMAND, MAKEWPARAM(id, SFTTABSN_LEAVING), reinterpret_cast<LPARAM>(tab));
    if (tc->refused) return;
    tc->current = index;
    InvalidateRect(tab, nullptr, TRUE);
    SendMessageA(parent, WM_COMMAND, MAKEWPARAM(id, SFTTABSN_SELECTED), reinterpret_cast<LPARAM>(tab));
}

int TabAt(HWND tab, TabControl *tc, int x, int y) {
    LayoutTabs(tab, tc);
    POINT p = {x, y};
    for (int i = 0; i < tc->count; ++i)
        if (PtInRect(&tc->tabs[i].rect, p)) return i;
    return -1;
}

LRESULT CALLBACK TabControlProc(HWND tab, UINT message, WPARAM wParam, LPARAM lParam) {
    TabControl *tc = ControlOf(tab);
    switch (message) {
    case WM_NCCREATE: {
        tc = static_cast<TabControl *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(TabControl)));
        if (!tc) return FALSE;
        tc->current = -1;
        tc->settings.size = sizeof(SftTabsSettings);
        tc->settings.marginX = 3;
        tc->settings.marginY = 3;
        SetWindowLongPtrA(tab, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(tc));
        // Pages lie over the panel as siblings: never paint over them.
        SetWindowLongA(tab, GWL_STYLE, GetWindowLongA(tab, GWL_STYLE) | WS_CLIPSIBLINGS);
        break;
    }
    case WM_NCDESTROY:
        if (tc) HeapFree(GetProcessHeap(), 0, tc);
        SetWindowLongPtrA(tab, GWLP_USERDATA, 0);
        break;
    case WM_SETFONT:
        if (tc) {
            tc->font = reinterpret_cast<HFONT>(wParam);
            if (LOWORD(lParam)) InvalidateRect(tab, nullptr, TRUE);
        }
        return 0;
    case WM_GETFONT:
        return tc ? reinterpret_cast<LRESULT>(tc->font) : 0;
    case WM_PAINT:
        if (!tc) break;
        PaintTabs(tab, tc);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        InvalidateRect(tab, nullptr, FALSE);
        return 0;
    case WM_LBUTTONDOWN:
        if (!tc) break;
        {
            const int hit = TabAt(tab, tc, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
            if (hit >= 0) {
                SetFocus(tab);
                SelectTab(tab, tc, hit);
            }
        }
        return 0;
    case WM_KEYDOWN:
        if (!tc) break;
        if (wParam == VK_LEFT && tc->current > 0) SelectTab(tab, tc, tc->current - 1);
        if (wParam == VK_RIGHT && tc->current + 1 < tc->count) SelectTab(tab, tc, tc->current + 1);
        return 0;
    case WM_CANCELMODE:
        if (tc) tc->refused = true;
        break;
    case SFTTABSM_ADDTAB: {
        const char *text = reinterpret_cast<const char *>(lParam);
        if (!tc || !text || tc->count >= static_cast<int>(SFTTABS_MAX_TABS)) return -1;
        TabEntry &e = tc->tabs[tc->count];
        lstrcpynA(e.text, text, sizeof(e.text));
        e.page = nullptr;
        if (tc->current < 0) tc->current = tc->count;
        InvalidateRect(tab, nullptr, TRUE);
        return tc->count++;
    }
    case SFTTABSM_SETPAGE:
        if (!tc || wParam >= static_cast<WPARAM>(tc->count)) return FALSE;
        tc->tabs[wParam].page = reinterpret_cast<SftTabsPage *>(lParam);
        return TRUE;
    case SFTTABSM_SETSETTINGS: {
        const SftTabsSettings *s = reinterpret_cast<const SftTabsSettings *>(lParam);
        if (!tc || !s || s->size != sizeof(SftTabsSettings)) return FALSE;
        tc->settings = *s;
        if (tc->settings.marginX < 0) tc->settings.marginX = 0;
        if (tc->settings.marginY < 0) tc->settings.marginY = 0;
        InvalidateRect(tab, nullptr, TRUE);
        return TRUE;
    }
    case SFTTABSM_GETTABTEXT: {
        char *out = reinterpret_cast<char *>(lParam);
        if (!tc || !out || wParam >= static_cast<WPARAM>(tc->count)) return -1;
        lstrcpynA(out, tc->tabs[wParam].text, SFTTABS_TEXT_CHARS);
        return lstrlenA(out);
    }
    case SFTTABSM_GETCURRENT:
        return tc ? tc->current : -1;
    case SFTTABSM_GETTABCENTER:
        if (!tc || wParam >= static_cast<WPARAM>(tc->count)) return 0;
        LayoutTabs(tab, tc);
        {
            const RECT &r = tc->tabs[wParam].rect;
            return MAKELONG((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        }
    }
    return DefWindowProcA(tab, message, wParam, lParam);
}

// Destroys a tab's page through its callback; the record then holds none.
void DestroyPage(SftTabsPage *page) {
    if (!page || !page->window) return;
    HWND window = page->window;
    if (page->callback) page->callback(FALSE, nullptr, window, reinterpret_cast<LPARAM>(page));
    if (IsWindow(window)) DestroyWindow(window);
    page->window = nullptr;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        DisableThreadLibraryCalls(module);
    }
    return TRUE;
}

BOOL WINAPI SftTabs_RegisterApp(HINSTANCE) {
    if (InterlockedIncrement(&g_registrations) > 1) return TRUE;
    WNDCLASSA wc = {};
    wc.style = CS_GLOBALCLASS | CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = TabControlProc;
    wc.hInstance = g_module;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.lpszClassName = SFTTABS_CONTROL_CLASS;
    const bool control = RegisterClassA(&wc) != 0;

    WNDCLASSA page = {};
    page.style = CS_GLOBALCLASS;
    page.lpfnWndProc = DefDlgProcA;
    page.cbWndExtra = DLGWINDOWEXTRA;
    page.hInstance = g_module;
    page.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    page.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    page.lpszClassName = SFTTABS_PAGE_CLASS;
    const bool pages = RegisterClassA(&page) != 0;
    if (control && pages) return TRUE;
    if (control) UnregisterClassA(SFTTABS_CONTROL_CLASS, g_module);
    if (pages) UnregisterClassA(SFTTABS_PAGE_CLASS, g_module);
    InterlockedDecrement(&g_registrations);
    return FALSE;
}

BOOL WINAPI SftTabs_UnregisterApp(HINSTANCE) {
    if (g_registrations <= 0) return FALSE;
    if (InterlockedDecrement(&g_registrations) > 0) return TRUE;
    UnregisterClassA(SFTTABS_CONTROL_CLASS, g_module);
    UnregisterClassA(SFTTABS_PAGE_CLASS, g_module);
    return TRUE;
}

BOOL WINAPI SftTabs_RegisterDialog(HWND dialog) {
    if (!IsWindow(dialog)) return FALSE;
    return SetPropA(dialog, "SftTabsDialog", reinterpret_cast<HANDLE>(1));
}

BOOL WINAPI SftTabs_UnregisterDialog(HWND dialog) {
    if (!IsWindow(dialog)) return FALSE;
    return RemovePropA(dialog, "SftTabsDialog") != nullptr;
}

BOOL WINAPI SftTabs_ActivatePage(HWND dialog, HWND tab, SftTabsPage *page, BOOL first) {
    if (!IsTabControl(tab)) return FALSE;
    TabControl *tc = ControlOf(tab);
    if (!tc) return FALSE;
    if (!page) {
        if (tc->current < 0) return FALSE;
        page = tc->tabs[tc->current].page;
    }
    if (!page || !page->callback) return FALSE;
    if (!page->window || !IsWindow(page->window)) {
        page->window = nullptr;
        HWND created = page->callback(TRUE, dialog, nullptr, reinterpret_cast<LPARAM>(page));
        if (!created) return FALSE;
        page->window = created;
    }
    HWND window = page->window;
    SetWindowLongA(window, GWL_EXSTYLE, GetWindowLongA(window, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
    const RECT r = PageRect(tab, tc, dialog, window);
    const bool center = (tc->settings.flags & SFTTABS_FLAG_CENTER_PAGE) != 0;
    SetWindowPos(window, HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_SHOWWINDOW | (center ? SWP_NOSIZE : 0));
    // Keep the page right after the tab control in the dialog's tab order.
    SetWindowPos(window, tab, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (!first) {
        HWND focus = GetFocus();
        if (!focus || !IsChild(dialog, focus)) SetFocus(tab);
    }
    InvalidateRect(tab, nullptr, TRUE);
    return TRUE;
}

BOOL WINAPI SftTabs_DeactivatePage(HWND, HWND tab) {
    if (!IsTabControl(tab)) return FALSE;
    TabControl *tc = ControlOf(tab);
    if (!tc || tc->current < 0) return TRUE;
    SftTabsPage *page = tc->tabs[tc->current].page;
    if (!page || !page->window || !IsWindow(page->window)) return TRUE;
    if (SendMessageA(page->window, SFTTABSM_QUERYLEAVE, 0, 0) != 0) return FALSE;
    // The page's fields see the focus leave while the page still exists.
    HWND focus = GetFocus();
    if (focus && (focus == page->window || IsChild(page->window, focus))) SetFocus(tab);
    DestroyPage(page);
    return TRUE;
}

BOOL WINAPI SftTabs_SetPageActive(HWND page, LPARAM initValue, HWND focus) {
    SftTabsPage *record = reinterpret_cast<SftTabsPage *>(initValue);
    if (!IsWindow(page) || !record) return FALSE;
    record->window = page;
    SetPropA(page, PAGE_PROP, reinterpret_cast<HANDLE>(record));
    if (focus && IsChild(page, focus)) SetFocus(focus);
    return TRUE;
}

LRESULT WINAPI SftTabs_HandleDialogMessage(HWND window, UINT message, WPARAM, LPARAM) {
    switch (message) {
    case WM_DESTROY: {
        // A page that goes away by other means leaves no stale handle behind.
        SftTabsPage *record = reinterpret_cast<SftTabsPage *>(RemovePropA(window, PAGE_PROP));
        if (record && record->window == window) record->window = nullptr;
        break;
    }
    }
    return FALSE;
}

void WINAPI SftTabs_Destroy(HWND, HWND tab) {
    if (!IsTabControl(tab)) return;
    TabControl *tc = ControlOf(tab);
    if (!tc) return;
    for (int i = 0; i < tc->count; ++i) DestroyPage(tc->tabs[i].page);
}
