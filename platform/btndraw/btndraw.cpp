// The painting library: draws a program's owner-drawn bitmap buttons from
// the bitmaps and caption strings in the program's resources, and moves the
// chosen mark among the kind-3 buttons when one of them is clicked.
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <string.h>

#include "paint_records.h"

namespace {

// What the library keeps in an item's own 24 bytes.
struct ItemScratch {
    HBITMAP bitmap;
    HBITMAP pressedBitmap;
    WNDPROC buttonProc;  // the button's procedure before the library's
    PaintContext *context;
    uint32_t spare[2];
};
static_assert(sizeof(ItemScratch) <= sizeof(PaintItem::library));

enum : uint32_t { MAX_CONTEXTS = 8, CAPTION_CHARS = 80 };

struct ContextEntry {
    PaintContext *context;
    HWND tooltip;
};

ContextEntry g_contexts[MAX_CONTEXTS];
LONG g_registered;
const char ITEM_PROP[] = "BtnDrawItem";

ItemScratch *ScratchOf(PaintItem *item) { return reinterpret_cast<ItemScratch *>(item->library); }

// Test sessions name a file in ORV_TRACE_FILE to see the library's calls
// in order with those of other modules; without it nothing is written.
void Trace(const char *what) {
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("ORV_TRACE_FILE", path, sizeof(path));
    if (n == 0 || n >= sizeof(path)) return;
    HANDLE f = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    char line[128];
    int len = snprintf(line, sizeof(line), "%lu %s\r\n", static_cast<unsigned long>(GetCurrentProcessId()), what);
    DWORD put = 0;
    if (len > 0) WriteFile(f, line, static_cast<DWORD>(len), &put, nullptr);
    CloseHandle(f);
}

ContextEntry *EntryOf(PaintContext *context) {
    for (ContextEntry &e : g_contexts)
        if (e.context == context) return &e;
    return nullptr;
}

template <typename F>
void ForEachItem(PaintContext *context, F f) {
    if (!context || !context->items) return;
    for (PaintItem *item = context->items; item->kind != PAINT_ITEM_END; ++item) f(item);
}

// A click on a kind-3 button makes it the chosen one of its group; both
// the old and the new chosen button are drawn again.
void Choose(PaintItem *clicked) {
    PaintContext *context = ScratchOf(clicked)->context;
    if (!context || clicked->kind != PAINT_KIND_CHOICE) return;
    ForEachItem(context, [&](PaintItem *item) {
        if (item->kind != PAINT_KIND_CHOICE) return;
        const uint16_t before = item->state;
        if (item == clicked)
            item->state |= PAINT_STATE_SELECTED;
        else
            item->state &= static_cast<uint16_t>(~PAINT_STATE_SELECTED);
        if ((item == clicked || before != item->state) && item->control) InvalidateRect(item->control, nullptr, FALSE);
    });
    char line[32];
    snprintf(line, sizeof(line), "choose %u", clicked->label ? clicked->label->id : 0u);
    Trace(line);
}

LRESULT CALLBACK ButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam) {
    PaintItem *item = static_cast<PaintItem *>(GetPropA(button, ITEM_PROP));
    if (!item) return DefWindowProcA(button, message, wParam, lParam);
    WNDPROC previous = ScratchOf(item)->buttonProc;
    const bool pushed = (SendMessageA(button, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0;
    if (message == WM_LBUTTONUP && pushed) {
        RECT client;
        GetClientRect(button, &client);
        POINT p = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        if (PtInRect(&client, p)) Choose(item);
    } else if (message == WM_KEYUP && wParam == VK_SPACE && pushed) {
        Choose(item);
    }
    return CallWindowProcA(previous, button, message, wParam, lParam);
}

HBITMAP BitmapOf(PaintContext *context, PaintItem *item, bool pressed) {
    ItemScratch *s = ScratchOf(item);
    HBITMAP &slot = pressed ? s->pressedBitmap : s->bitmap;
    const uint32_t id = pressed ? item->pressedBitmap : item->bitmap;
    if (!slot && id && id <= 0xFFFF)
        slot = static_cast<HBITMAP>(LoadImageA(context->instance, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, 0));
    if (pressed && !slot) return BitmapOf(context, item, false);
    return slot;
}

// A light checker for the chosen button's face, as a latched button looks.
HBRUSH CheckerBrush() {
    static const WORD rows[8] = {0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA};
    HBITMAP pattern = CreateBitmap(8, 8, 1, 1, rows);
    HBRUSH brush = CreatePatternBrush(pattern);
    DeleteObject(pattern);
    return brush;
}

void DrawButton(PaintContext *context, PaintItem *item, const DRAWITEMSTRUCT *draw) {
    HDC dc = draw->hDC;
    RECT r = draw->rcItem;
    const bool pressed = (draw->itemState & ODS_SELECTED) != 0;
    const bool chosen = (item->state & PAINT_STATE_SELECTED) != 0;
    const bool disabled = (draw->itemState & ODS_DISABLED) != 0;

    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
    RECT face = r;
    InflateRect(&face, -2, -2);
    if (chosen && !pressed) {
        HBRUSH checker = CheckerBrush();
        COLORREF oldText = SetTextColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
        COLORREF oldBack = SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        FillRect(dc, &face, checker);
        SetTextColor(dc, oldText);
        SetBkColor(dc, oldBack);
        DeleteObject(checker);
    }
    DrawEdge(dc, &r, (pressed || chosen) ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);

    HBITMAP bitmap = BitmapOf(context, item, pressed);
    if (bitmap) {
        BITMAP bm = {};
        GetObjectA(bitmap, sizeof(bm), &bm);
        int w = bm.bmWidth, h = bm.bmHeight;
        const int roomW = face.right - face.left, roomH = face.bottom - face.top;
        if (w > roomW || h > roomH) {  // shrink to fit, keeping the proportions
            if (w * roomH > h * roomW) {
                h = h * roomW / (w ? w : 1);
                w = roomW;
            } else {
                w = w * roomH / (h ? h : 1);
                h = roomH;
            }
        }
        int x = face.left + (roomW - w) / 2, y = face.top + (roomH - h) / 2;
        if (pressed || chosen) ++x, ++y;
        HDC mem = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(mem, bitmap);
        if (disabled)
            DrawStateA(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(bitmap), 0, x, y, w, h, DST_BITMAP | DSS_DISABLED);
        else
            TransparentBlt(dc, x, y, w, h, mem, 0, 0, bm.bmWidth, bm.bmHeight, context->background);
        SelectObject(mem, old);
        DeleteDC(mem);
    }
    if (draw->itemState & ODS_FOCUS) {
        RECT f = r;
        InflateRect(&f, -3, -3);
        DrawFocusRect(dc, &f);
    }
}

void AddCaption(ContextEntry *entry, PaintItem *item) {
    if (!item->control || !item->label || !item->label->instance) return;
    char caption[CAPTION_CHARS] = "";
    if (LoadStringA(item->label->instance, item->label->stringId, caption, sizeof(caption)) <= 0) return;
    // The caption is the button's text (what keyboard users and readers see)
    // and its tooltip: the bitmap fills the face.
    SetWindowTextA(item->control, caption);
    if (!entry->tooltip) return;
    TOOLINFOA ti = {};
    ti.cbSize = TTTOOLINFOA_V1_SIZE;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = item->label->page ? item->label->page : GetParent(item->control);
    ti.uId = reinterpret_cast<UINT_PTR>(item->control);
    ti.lpszText = caption;
    SendMessageA(entry->tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
}

void ReleaseItem(PaintItem *item) {
    ItemScratch *s = ScratchOf(item);
    if (item->control && IsWindow(item->control) && GetPropA(item->control, ITEM_PROP) == item) {
        if (s->buttonProc) SetWindowLongPtrA(item->control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(s->buttonProc));
        RemovePropA(item->control, ITEM_PROP);
    }
    if (s->bitmap) DeleteObject(s->bitmap);
    if (s->pressedBitmap) DeleteObject(s->pressedBitmap);
    memset(item->library, 0, sizeof(item->library));
}

void EndContext(ContextEntry *entry) {
    ForEachItem(entry->context, ReleaseItem);
    if (entry->tooltip && IsWindow(entry->tooltip)) DestroyWindow(entry->tooltip);
    entry->tooltip = nullptr;
    entry->context = nullptr;
}

}  // namespace

extern "C" void WINAPI Paint_Register() {
    InterlockedIncrement(&g_registered);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    Trace("Paint_Register");
}

extern "C" void WINAPI Paint_InitItem(PaintContext *context) {
    Trace("Paint_InitItem");
    if (!context || !context->items || EntryOf(context)) return;
    ContextEntry *entry = EntryOf(nullptr);
    if (!entry) return;  // more pages at once than the library serves
    entry->context = context;
    if (context->page)
        entry->tooltip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                         CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, context->page, nullptr,
                                         GetModuleHandleA(nullptr), nullptr);
    ForEachItem(context, [&](PaintItem *item) {
        memset(item->library, 0, sizeof(item->library));
        ItemScratch *s = ScratchOf(item);
        s->context = context;
        if (!item->control || !IsWindow(item->control)) return;
        SetPropA(item->control, ITEM_PROP, item);
        s->buttonProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(item->control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ButtonProc)));
        AddCaption(entry, item);
    });
}

extern "C" PaintItem *WINAPI Paint_DrawItem(HWND, UINT controlId, const DRAWITEMSTRUCT *draw, PaintContext *context) {
    if (!context || !EntryOf(context)) return nullptr;
    PaintItem *found = nullptr;
    ForEachItem(context, [&](PaintItem *item) {
        if (found || !item->control) return;
        if ((item->label && item->label->id == controlId) ||
            static_cast<UINT>(GetDlgCtrlID(item->control)) == controlId)
            found = item;
    });
    if (found && draw && draw->CtlType == ODT_BUTTON && draw->hwndItem == found->control) DrawButton(context, found, draw);
    return found;
}

extern "C" void WINAPI Paint_EndItem(PaintContext *context) {
    Trace("Paint_EndItem");
    ContextEntry *entry = context ? EntryOf(context) : nullptr;
    if (entry) EndContext(entry);
}

extern "C" void WINAPI Paint_Unregister() {
    Trace("Paint_Unregister");
    if (InterlockedDecrement(&g_registered) > 0) return;
    g_registered = 0;
    for (ContextEntry &e : g_contexts)
        if (e.context) EndContext(&e);
}
