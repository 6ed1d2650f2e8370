// The painting library through its exports, with the utility's own
// bitmaps and caption strings: captions from the resources, a click on a
// kind-3 button leaves exactly that one chosen and drawn again, the
// pressed look, the bitmaps' background left out, the buttons given back.
#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "paint_records.h"
#include "wine_test_support.h"

namespace {

HMODULE library;
PaintDrawItemProc drawItem;
PaintContext context;
PaintItem items[5];
PaintItemLabel labels[4];
struct Draw {
    UINT id;
    uint16_t state;  // of the item Paint_DrawItem returned
};
std::vector<Draw> draws;

LRESULT CALLBACK ParentProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_DRAWITEM && context.items) {
        PaintItem *item = drawItem(w, UINT(wp), reinterpret_cast<DRAWITEMSTRUCT *>(lp), &context);
        if (item) draws.push_back({UINT(wp), item->state});
        return TRUE;
    }
    return DefWindowProcA(w, m, wp, lp);
}

void Pump() {
    MSG msg;
    for (int round = 0; round < 5; ++round) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(20);
    }
}

uint16_t StateOf(uint16_t id) {
    for (PaintItem &item : items)
        if (item.kind != PAINT_ITEM_END && item.label->id == id) return item.state;
    return 0xFFFF;
}

bool DrewChosen(UINT id) {
    for (const Draw &d : draws)
        if (d.id == id && (d.state & PAINT_STATE_SELECTED)) return true;
    return false;
}

// Draws one button into a memory bitmap and returns its pixels.
std::vector<COLORREF> Render(HWND button, UINT state) {
    const int w = 72, h = 42;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(dc, bmp);
    DRAWITEMSTRUCT dis = {};
    dis.CtlType = ODT_BUTTON;
    dis.CtlID = UINT(GetDlgCtrlID(button));
    dis.itemAction = ODA_DRAWENTIRE;
    dis.itemState = state;
    dis.hwndItem = button;
    dis.hDC = dc;
    dis.rcItem = {0, 0, w, h};
    drawItem(GetParent(button), dis.CtlID, &dis, &context);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) pixels.push_back(GetPixel(dc, x, y));
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return pixels;
}

TEST(BtnDraw, AClickChoosesExactlyThatButtonAndItIsDrawnChosen) {
    // The utility's resources: its bitmaps and caption strings.
    HMODULE resources = LoadLibraryExA((BinDir() + "\\scanutil.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(resources, nullptr);
    library = LoadLibraryA((BinDir() + "\\BTNDRAW.DLL").c_str());
    ASSERT_NE(library, nullptr);
    auto entry = [](const char *name) { return reinterpret_cast<void *>(GetProcAddress(library, name)); };
    PaintRegisterProc registerProc = reinterpret_cast<PaintRegisterProc>(entry("Paint_Register"));
    PaintInitItemProc initItem = reinterpret_cast<PaintInitItemProc>(entry("Paint_InitItem"));
    drawItem = reinterpret_cast<PaintDrawItemProc>(entry("Paint_DrawItem"));
    PaintEndItemProc endItem = reinterpret_cast<PaintEndItemProc>(entry("Paint_EndItem"));
    PaintUnregisterProc unregisterProc = reinterpret_cast<PaintUnregisterProc>(entry("Paint_Unregister"));
    ASSERT_TRUE(registerProc && initItem && drawItem && endItem && unregisterProc);

    HINSTANCE self = GetModuleHandleA(nullptr);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ParentProc;
    wc.hInstance = self;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = "BtnDrawTestPage";
    RegisterClassA(&wc);
    HWND page = CreateWindowExA(0, "BtnDrawTestPage", "", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200, nullptr,
                                nullptr, self, nullptr);
    ASSERT_NE(page, nullptr);
    const uint16_t ids[4] = {601, 602, 603, 604};
    const uint32_t strings[4] = {11, 12, 13, 14};
    const uint32_t bitmaps[4][2] = {{100, 100}, {101, 101}, {102, 107}, {103, 108}};
    HWND buttons[4] = {};
    WNDPROC before[4] = {};
    for (int i = 1; i < 4; ++i) {
        buttons[i] = CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 10 + 80 * (i - 1), 10, 72, 42,
                                     page, reinterpret_cast<HMENU>(UINT_PTR(ids[i])), self, nullptr);
        before[i] = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(buttons[i], GWLP_WNDPROC));
    }
    for (int i = 0; i < 4; ++i) {
        labels[i] = {page, ids[i], 1, buttons[i], {}, resources, strings[i]};
        items[i] = {buttons[i], uint16_t(i == 0 ? PAINT_KIND_PLAIN : PAINT_KIND_CHOICE), 0, &labels[i],
                    bitmaps[i][0], bitmaps[i][1], {}};
    }
    items[1].state = PAINT_STATE_SELECTED;
    items[0].state = 0x0010;  // a kind-4 item's state is not the library's to move
    items[4] = {};
    items[4].kind = PAINT_ITEM_END;
    context = {resources, page, RGB(0, 128, 128), items};

    registerProc();
    initItem(&context);
    EXPECT_EQ(WindowText(buttons[1]), "Turn Lamp off After...");
    EXPECT_EQ(WindowText(buttons[2]), "Turn on Lamp");
    EXPECT_EQ(WindowText(buttons[3]), "Turn off Lamp");
    UpdateWindow(page);
    Pump();
    EXPECT_TRUE(DrewChosen(602));

    const struct {
        int button;
        uint16_t chosen;
    } clicks[] = {{3, 604}, {3, 604}, {2, 603}, {1, 602}};
    for (const auto &c : clicks) {
        SCOPED_TRACE(c.chosen);
        draws.clear();
        SendMessageA(buttons[c.button], BM_CLICK, 0, 0);
        Pump();
        for (uint16_t id : {602, 603, 604})
            EXPECT_EQ((StateOf(id) & PAINT_STATE_SELECTED) != 0, id == c.chosen) << id;
        EXPECT_EQ(StateOf(601), 0x0010);
        EXPECT_TRUE(DrewChosen(c.chosen)) << "the chosen button was not drawn again";
    }
    // A press that leaves the button moves nothing.
    SendMessageA(buttons[3], WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageA(buttons[3], WM_LBUTTONUP, 0, MAKELPARAM(500, 5));
    Pump();
    EXPECT_EQ(StateOf(604) & PAINT_STATE_SELECTED, 0);
    EXPECT_NE(StateOf(602) & PAINT_STATE_SELECTED, 0);

    // Pressed, the button looks otherwise (sunken, the pale second
    // bitmap); the teal background of the bitmaps never shows.
    const std::vector<COLORREF> normal = Render(buttons[3], 0), pressed = Render(buttons[3], ODS_SELECTED);
    EXPECT_NE(normal, pressed);
    for (const std::vector<COLORREF> *p : {&normal, &pressed}) {
        size_t teal = 0;
        for (COLORREF c : *p) teal += c == RGB(0, 128, 128);
        EXPECT_EQ(teal, 0u);
    }
    EXPECT_EQ(drawItem(page, 999, nullptr, &context), nullptr);

    endItem(&context);
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(buttons[i], GWLP_WNDPROC)), before[i]);
    EXPECT_EQ(drawItem(page, 602, nullptr, &context), nullptr);
    unregisterProc();
    context = {};
    DestroyWindow(page);
    FreeLibrary(library);
    FreeLibrary(resources);
}

TEST(UtilityResources, BitmapsOnTheTealBackgroundAndTheVersion) {
    HMODULE resources = LoadLibraryExA((BinDir() + "\\scanutil.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(resources, nullptr);
    const struct {
        int id, w, h;
    } expected[] = {{100, 32, 32}, {101, 32, 32}, {102, 42, 32}, {103, 42, 32}, {107, 42, 32}, {108, 42, 32}};
    for (const auto &e : expected) {
        SCOPED_TRACE(e.id);
        HBITMAP bmp = static_cast<HBITMAP>(
            LoadImageA(resources, MAKEINTRESOURCEA(e.id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        ASSERT_NE(bmp, nullptr);
        DIBSECTION ds = {};
        ASSERT_EQ(GetObjectA(bmp, sizeof(ds), &ds), int(sizeof(ds)));
        EXPECT_EQ(ds.dsBm.bmWidth, e.w);
        EXPECT_EQ(ds.dsBm.bmHeight, e.h);
        EXPECT_EQ(ds.dsBmih.biBitCount, 4);
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, bmp);
        EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0, 128, 128));
        EXPECT_EQ(GetPixel(dc, e.w - 1, e.h - 1), RGB(0, 128, 128));
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bmp);
    }
    HICON icon = static_cast<HICON>(LoadImageA(resources, MAKEINTRESOURCEA(99), IMAGE_ICON, 32, 32, 0));
    EXPECT_NE(icon, nullptr);
    if (icon) DestroyIcon(icon);
    FreeLibrary(resources);

    const std::string exe = BinDir() + "\\scanutil.exe";
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(exe.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void **>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    for (const char *key : {"ProductName", "FileVersion", "ProductVersion"}) {
        char *value = nullptr;
        ASSERT_TRUE(VerQueryValueA(info.data(), (std::string("\\StringFileInfo\\040904b0\\") + key).c_str(),
                                   reinterpret_cast<void **>(&value), &len)) << key;
        EXPECT_STREQ(value, std::string(key) == "ProductName" ? "Scanner Utility" : "1, 0, 0, 1") << key;
    }
}

}  // namespace
