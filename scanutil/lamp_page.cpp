// The lamp page: two bitmap buttons switch the lamp at once, and the
// chosen one of three buttons with the minutes field makes the lamp-off
// time that Close sends when it changed.
#include <stdio.h>
#include <string.h>

#include "resource.h"
#include "utility.h"

namespace {

uint16_t lampChoice = LAMP_CHOICE_OFF_AFTER;
uint16_t lampMinutes;
uint16_t lampMinutesAtStart;
bool lampChanged;
HWND g_lampPage;

// The records handed to the painting library: they live for the whole run.
PaintContext g_paintContext;
PaintItem g_paintItems[5];
PaintItemLabel g_paintLabels[4];

struct ItemValues {
    uint16_t id;
    uint32_t stringId;
    uint32_t bitmap;
    uint32_t pressedBitmap;
    uint16_t kind;
};

const ItemValues ITEM_VALUES[4] = {
    {IDC_LAMP_KEEP_ON, IDS_LAMP_KEEP_ON, IDB_LAMP_ON, IDB_LAMP_ON, PAINT_KIND_PLAIN},
    {IDC_LAMP_OFF_AFTER, IDS_LAMP_OFF_AFTER, IDB_LAMP_TIMER, IDB_LAMP_TIMER, PAINT_KIND_CHOICE},
    {IDC_LAMP_TURN_ON, IDS_LAMP_TURN_ON, IDB_LAMP_SWITCH_ON, IDB_LAMP_SWITCH_ON_PALE, PAINT_KIND_CHOICE},
    {IDC_LAMP_TURN_OFF, IDS_LAMP_TURN_OFF, IDB_LAMP_SWITCH_OFF, IDB_LAMP_SWITCH_OFF_PALE, PAINT_KIND_CHOICE},
};

bool PaintLibraryDraws() { return g_paint.initItem && g_paint.drawItem && g_paint.endItem; }

void ShowMinutes(HWND page) { SetDlgItemInt(page, IDC_LAMP_MINUTES, lampMinutes, FALSE); }

// The field read as an unsigned number.
bool ReadMinutesField(HWND page, uint32_t *value) {
    char text[16] = "";
    GetDlgItemTextA(page, IDC_LAMP_MINUTES, text, sizeof(text));
    return ParseUnsigned(text, value);
}

void BuildPaintItems(HWND page) {
    memset(g_paintItems, 0, sizeof(g_paintItems));
    memset(g_paintLabels, 0, sizeof(g_paintLabels));
    for (int i = 0; i < 4; ++i) {
        const ItemValues &v = ITEM_VALUES[i];
        HWND control = v.id == IDC_LAMP_KEEP_ON ? nullptr : GetDlgItem(page, v.id);
        PaintItemLabel &label = g_paintLabels[i];
        label.page = page;
        label.id = v.id;
        label.one = 1;
        label.control = control;
        label.instance = g_instance;
        label.stringId = v.stringId;
        PaintItem &item = g_paintItems[i];
        item.control = control;
        item.kind = v.kind;
        item.state = 0;
        item.label = &label;
        item.bitmap = v.bitmap;
        item.pressedBitmap = v.pressedBitmap;
    }
    g_paintItems[4].kind = PAINT_ITEM_END;
}

PaintItem *ItemOf(uint16_t id) {
    for (PaintItem &item : g_paintItems)
        if (item.kind != PAINT_ITEM_END && item.label && item.label->id == id) return &item;
    return nullptr;
}

// Without the painting library's drawing entries the page draws its
// buttons itself and moves the chosen mark on clicks, so the page works
// the same.
PaintItem *DrawItemWithoutLibrary(UINT id, const DRAWITEMSTRUCT *draw) {
    PaintItem *item = ItemOf(static_cast<uint16_t>(id));
    if (!item || !draw) return item;
    const bool pressed = (draw->itemState & ODS_SELECTED) != 0;
    const bool chosen = (item->state & PAINT_STATE_SELECTED) != 0;
    RECT r = draw->rcItem;
    FillRect(draw->hDC, &r, GetSysColorBrush(chosen ? COLOR_BTNHIGHLIGHT : COLOR_BTNFACE));
    DrawEdge(draw->hDC, &r, (pressed || chosen) ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
    HBITMAP bitmap = static_cast<HBITMAP>(LoadImageA(
        g_instance, MAKEINTRESOURCEA(pressed ? item->pressedBitmap : item->bitmap), IMAGE_BITMAP, 0, 0, 0));
    if (bitmap) {
        BITMAP bm = {};
        GetObjectA(bitmap, sizeof(bm), &bm);
        HDC mem = CreateCompatibleDC(draw->hDC);
        HGDIOBJ old = SelectObject(mem, bitmap);
        const int x = r.left + ((r.right - r.left) - bm.bmWidth) / 2, y = r.top + ((r.bottom - r.top) - bm.bmHeight) / 2;
        BitBlt(draw->hDC, x, y, bm.bmWidth, bm.bmHeight, mem, 0, 0, SRCCOPY);
        SelectObject(mem, old);
        DeleteDC(mem);
        DeleteObject(bitmap);
    }
    if (draw->itemState & ODS_FOCUS) {
        InflateRect(&r, -3, -3);
        DrawFocusRect(draw->hDC, &r);
    }
    return item;
}

void ChooseWithoutLibrary(uint16_t id) {
    for (PaintItem &item : g_paintItems) {
        if (item.kind != PAINT_KIND_CHOICE) continue;
        const bool chosen = item.label && item.label->id == id;
        item.state = chosen ? (item.state | PAINT_STATE_SELECTED) : (item.state & ~PAINT_STATE_SELECTED);
        if (item.control) InvalidateRect(item.control, nullptr, FALSE);
    }
}

void InitLampPage(HWND page) {
    g_lampPage = page;
    lampMinutesAtStart = lampMinutes = MinutesFromSeconds(g_settings.lampOffSeconds);
    if (lampMinutes == 0) lampMinutes = LAMP_MINUTES_DEFAULT;
    BuildPaintItems(page);
    lampChoice = LAMP_CHOICE_OFF_AFTER;
    if (lampMinutesAtStart == 0) {
        ItemOf(IDC_LAMP_TURN_ON)->state = PAINT_STATE_SELECTED;
        lampChanged = true;
        lampMinutesAtStart = LAMP_MINUTES_DEFAULT;
    } else {
        ItemOf(IDC_LAMP_OFF_AFTER)->state = PAINT_STATE_SELECTED;
    }
    g_paintContext.instance = g_instance;
    g_paintContext.page = page;
    g_paintContext.background = RGB(0, 128, 128);
    g_paintContext.items = g_paintItems;
    if (PaintLibraryDraws()) g_paint.initItem(&g_paintContext);
    SendDlgItemMessageA(page, IDC_LAMP_MINUTES, EM_LIMITTEXT, 2, 0);
    ShowMinutes(page);
    HWND arrows = GetDlgItem(page, IDC_LAMP_ARROWS);
    SetScrollRange(arrows, SB_CTL, LAMP_MINUTES_MIN, LAMP_MINUTES_MAX, FALSE);
    SetScrollPos(arrows, SB_CTL, lampMinutes, TRUE);
}

void OnDrawItem(HWND page, UINT id, const DRAWITEMSTRUCT *draw) {
    PaintItem *item = PaintLibraryDraws() ? g_paint.drawItem(page, id, draw, &g_paintContext)
                                          : DrawItemWithoutLibrary(id, draw);
    if (!item || !(item->state & PAINT_STATE_SELECTED) || id == lampChoice) return;
    lampChanged = true;
    lampChoice = static_cast<uint16_t>(id);
    const BOOL minutes = id == IDC_LAMP_OFF_AFTER;
    EnableWindow(GetDlgItem(page, IDC_LAMP_MINUTES), minutes);
    EnableWindow(GetDlgItem(page, IDC_LAMP_ARROWS), minutes);
}

void OnMinutesLeft(HWND page) {
    char text[16] = "";
    GetDlgItemTextA(page, IDC_LAMP_MINUTES, text, sizeof(text));
    uint16_t value = 0;
    switch (CheckTypedMinutes(text, lampMinutes, &value)) {
    case MINUTES_PUT_BACK:
        ShowMinutes(page);
        break;
    case MINUTES_UNCHANGED:
        break;
    case MINUTES_ACCEPTED:
        lampMinutes = value;
        lampChanged = true;
        g_settings.lampOffSeconds = value * 60u;
        break;
    }
}

void OnArrows(HWND page, UINT code) {
    const uint16_t before = lampMinutes;
    lampMinutes = StepMinutes(lampMinutes, code);
    if (lampMinutes == before) return;
    ShowMinutes(page);
    SetScrollPos(GetDlgItem(page, IDC_LAMP_ARROWS), SB_CTL, lampMinutes, TRUE);
    lampChanged = lampMinutes != lampMinutesAtStart;
}

INT_PTR CALLBACK LampPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        InitLampPage(page);
        SftTabs_SetPageActive(page, lParam, nullptr);
        return FALSE;
    case WM_DRAWITEM:
        if (wParam >= IDC_LAMP_OFF_AFTER && wParam <= IDC_LAMP_TURN_OFF)
            OnDrawItem(page, static_cast<UINT>(wParam), reinterpret_cast<const DRAWITEMSTRUCT *>(lParam));
        break;
    case WM_COMMAND: {
        const UINT id = LOWORD(wParam);
        if (id == IDC_LAMP_TURN_ON || id == IDC_LAMP_TURN_OFF)
            SendPortService(static_cast<uint16_t>(id - IDC_LAMP_OFF_AFTER));
        if (!PaintLibraryDraws() && HIWORD(wParam) == BN_CLICKED && id >= IDC_LAMP_OFF_AFTER && id <= IDC_LAMP_TURN_OFF)
            ChooseWithoutLibrary(static_cast<uint16_t>(id));
        if (id == IDC_LAMP_MINUTES && HIWORD(wParam) == EN_KILLFOCUS) OnMinutesLeft(page);
        break;
    }
    case WM_VSCROLL:
        if (reinterpret_cast<HWND>(lParam) == GetDlgItem(page, IDC_LAMP_ARROWS)) OnArrows(page, LOWORD(wParam));
        break;
    case WM_DESTROY:
        if (PaintLibraryDraws()) g_paint.endItem(&g_paintContext);
        g_lampPage = nullptr;
        break;
    }
    return SftTabs_HandleDialogMessage(page, message, wParam, lParam) != 0;
}

}  // namespace

HWND CALLBACK LampPageCallback(BOOL create, HWND parent, HWND page, LPARAM param) {
    if (create) {
        if (page) return nullptr;
        return CreateDialogParamA(g_instance, MAKEINTRESOURCEA(IDD_LAMP), parent, LampPageProc, param);
    }
    if (parent) return page;
    if (page) DestroyWindow(page);
    return nullptr;
}

void ApplyLampSetting() {
    if (!lampChanged) return;
    uint32_t field = 0;
    const bool read = g_lampPage && ReadMinutesField(g_lampPage, &field);
    g_settings.lampOffSeconds = LampSecondsAtClose(read, field, lampMinutes, lampChoice);
    PutRequestLong(2, g_settings.lampOffSeconds);
    SendPortService(SCP_SET_LAMP_TIMEOUT);
}
