// Records that a program hands to the painting library "BTNDRAW.DLL" for
// its owner-drawn bitmap buttons, and the library's five entries. 32-bit,
// little-endian; the program owns the records for as long as the library
// may keep their addresses (Paint_InitItem until Paint_EndItem).
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

enum : uint16_t {
    PAINT_ITEM_END = 0xFFFF,       // kind of the record that ends the list
    PAINT_KIND_CHOICE = 3,         // a button of a group of which one is chosen
    PAINT_KIND_PLAIN = 4,          // a button on its own
    PAINT_STATE_SELECTED = 0x0002, // the chosen button
};

#pragma pack(push, 1)

struct PaintItemLabel {
    HWND page;          // 0
    uint16_t id;        // 4: control id
    uint16_t one;       // 6: 1
    HWND control;       // 8: the control window, null when it has none
    uint8_t zero[12];   // 12
    HINSTANCE instance; // 24: the module whose string table holds the caption
    uint32_t stringId;  // 28: caption
};

struct PaintItem {
    HWND control;            // 0: null when the item has no window
    uint16_t kind;           // 4: PAINT_KIND_* or PAINT_ITEM_END
    uint16_t state;          // 6: PAINT_STATE_SELECTED marks the chosen button
    PaintItemLabel *label;   // 8
    uint32_t bitmap;         // 12: first bitmap id
    uint32_t pressedBitmap;  // 16: second bitmap id (pressed look)
    uint8_t library[24];     // 20: zero from the program; the library's own
};

struct PaintContext {
    HINSTANCE instance;    // 0: module with the bitmaps
    HWND page;             // 4: window that receives the draw requests
    COLORREF background;   // 8: the bitmaps' background colour
    PaintItem *items;      // 12: first item; the list ends with PAINT_ITEM_END
};

#pragma pack(pop)

static_assert(sizeof(PaintItemLabel) == 32);
static_assert(offsetof(PaintItemLabel, id) == 4);
static_assert(offsetof(PaintItemLabel, control) == 8);
static_assert(offsetof(PaintItemLabel, instance) == 24);
static_assert(offsetof(PaintItemLabel, stringId) == 28);
static_assert(sizeof(PaintItem) == 44);
static_assert(offsetof(PaintItem, kind) == 4);
static_assert(offsetof(PaintItem, state) == 6);
static_assert(offsetof(PaintItem, label) == 8);
static_assert(offsetof(PaintItem, bitmap) == 12);
static_assert(offsetof(PaintItem, pressedBitmap) == 16);
static_assert(offsetof(PaintItem, library) == 20);
static_assert(sizeof(PaintContext) == 16);
static_assert(offsetof(PaintContext, background) == 8);
static_assert(offsetof(PaintContext, items) == 12);

// The entries, looked up by name.
typedef void(WINAPI *PaintRegisterProc)();
typedef void(WINAPI *PaintInitItemProc)(PaintContext *context);
// Draws the button of a draw request; returns its item, null when the
// control is not one of the context's items.
typedef PaintItem *(WINAPI *PaintDrawItemProc)(HWND page, UINT controlId, const DRAWITEMSTRUCT *draw,
                                               PaintContext *context);
typedef void(WINAPI *PaintEndItemProc)(PaintContext *context);
typedef void(WINAPI *PaintUnregisterProc)();
