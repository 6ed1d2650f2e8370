#include "setup_dialog.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <string.h>

#include "monitor_logic.h"
#include "resource.h"
#include "suite_config.h"

SetupState g_setup = {nullptr, nullptr, -1, "", "", false, nullptr};

namespace {

const int32_t STRING_LIST_HEADER = 4;

// ---- StringList ----

int32_t UsedBytes(const char *block) {
    int32_t used;
    memcpy(&used, block, sizeof(used));
    return used;
}

}  // namespace

HGLOBAL StringListCreate() {
    HGLOBAL list = GlobalAlloc(GMEM_MOVEABLE, 8);
    if (!list) return nullptr;
    char *block = static_cast<char *>(GlobalLock(list));
    if (!block) {
        GlobalFree(list);
        return nullptr;
    }
    const int32_t zero = 0;
    memcpy(block, &zero, sizeof(zero));
    GlobalUnlock(list);
    return list;
}

int32_t StringListAppend(HGLOBAL *list, const char *text) {
    if (!list || !*list || !text) return -1;
    const size_t length = strlen(text) + 1;
    char *block = static_cast<char *>(GlobalLock(*list));
    if (!block) return -1;
    const int32_t used = UsedBytes(block);
    GlobalUnlock(*list);
    if (length > 0x7FFFFFF0u - size_t(STRING_LIST_HEADER) - size_t(used)) return -1;
    const SIZE_T needed = SIZE_T(STRING_LIST_HEADER) + SIZE_T(used) + length;
    if (needed > GlobalSize(*list)) {
        HGLOBAL grown = GlobalReAlloc(*list, needed, GMEM_MOVEABLE);
        if (!grown) return -1;
        *list = grown;
    }
    block = static_cast<char *>(GlobalLock(*list));
    if (!block) return -1;
    memcpy(block + STRING_LIST_HEADER + used, text, length);
    const int32_t newUsed = used + int32_t(length);
    memcpy(block, &newUsed, sizeof(newUsed));
    GlobalUnlock(*list);
    return used;
}

void StringListGetAt(HGLOBAL list, int32_t offset, char (&dest)[PATH_CHARS]) {
    dest[0] = 0;
    if (!list) return;
    const char *block = static_cast<const char *>(GlobalLock(list));
    if (!block) return;
    const int32_t used = UsedBytes(block);
    if (offset >= 0 && offset < used) {
        const char *text = block + STRING_LIST_HEADER + offset;
        const size_t room = size_t(used - offset);
        const size_t length = strnlen(text, room);
        const size_t n = length < PATH_CHARS - 1 ? length : PATH_CHARS - 1;
        memcpy(dest, text, n);
        dest[n] = 0;
    }
    GlobalUnlock(list);
}

void StringListGetNth(HGLOBAL list, int32_t n, char (&dest)[PATH_CHARS]) {
    dest[0] = 0;
    if (!list || n < 0) return;
    const char *block = static_cast<const char *>(GlobalLock(list));
    if (!block) return;
    const int32_t used = UsedBytes(block);
    int32_t offset = 0;
    for (int32_t i = 0; i < n && offset < used; ++i)
        offset += int32_t(strnlen(block + STRING_LIST_HEADER + offset, size_t(used - offset))) + 1;
    GlobalUnlock(list);
    if (offset < used) StringListGetAt(list, offset, dest);
}

namespace {

// ---- icons ----

HICON DefaultIcon() { return LoadIconA(nullptr, IDI_APPLICATION); }

// ExtractIconA gives 1 for a file that is no program: no icon either.
HICON Extract(const char *file, int index) {
    if (!file || !file[0]) return nullptr;
    HICON icon = ExtractIconA(g_monitor.instance, file, UINT(index));
    return reinterpret_cast<UINT_PTR>(icon) > 1 ? icon : nullptr;
}

HICON GetShortcutIcon(HWND owner, const char *path) {
    OFSTRUCT of = {};
    if (OpenFile(path, &of, OF_EXIST) == HFILE_ERROR) return DefaultIcon();
    HICON icon = nullptr;
    IShellLinkA *shellLink = nullptr;
    IPersistFile *file = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void **>(&shellLink))) &&
        SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) {
        wchar_t wide[PATH_CHARS];
        char iconFile[PATH_CHARS] = "";
        int index = 0;
        if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, PATH_CHARS) > 0 && SUCCEEDED(file->Load(wide, 0)) &&
            SUCCEEDED(shellLink->Resolve(owner, SLR_NO_UI | SLR_ANY_MATCH)) &&
            SUCCEEDED(shellLink->GetIconLocation(iconFile, PATH_CHARS, &index))) {
            icon = Extract(iconFile, index);
            char target[PATH_CHARS] = "";
            if (!icon && SUCCEEDED(shellLink->GetPath(target, PATH_CHARS, nullptr, SLGP_UNCPRIORITY)) && target[0]) {
                icon = Extract(target, index);
                if (!icon) {
                    char folder[PATH_CHARS], name[PATH_CHARS], executable[PATH_CHARS] = "";
                    SplitActionValue(target, folder, sizeof(folder), name, sizeof(name));
                    // FindExecutableA wants the folder with its backslash.
                    if (folder[0] && strlen(folder) + 1 < sizeof(folder)) strcat(folder, "\\");
                    if (reinterpret_cast<INT_PTR>(FindExecutableA(name, folder, executable)) > 32)
                        icon = Extract(executable, index);
                }
            }
        }
    }
    if (file) file->Release();
    if (shellLink) shellLink->Release();
    return icon ? icon : DefaultIcon();
}

// ---- the dialog ----

void ShowItemName(HWND dialog, HWND list) {
    if (g_setup.selectedItem < 0) return;
    char label[PATH_CHARS] = "";
    LVITEMA item = {};
    item.iSubItem = 0;
    item.pszText = label;
    item.cchTextMax = sizeof(label);
    SendMessageA(list, LVM_GETITEMTEXTA, WPARAM(g_setup.selectedItem), reinterpret_cast<LPARAM>(&item));
    SetDlgItemTextA(dialog, IDC_APP_NAME, label);
}

// The path of the group chosen in the drop-down list; false when none is.
bool CurrentGroupPath(HWND combo, char (&path)[PATH_CHARS]) {
    path[0] = 0;
    LRESULT index = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return false;
    LRESULT offset = SendMessageA(combo, CB_GETITEMDATA, WPARAM(index), 0);
    if (offset == CB_ERR) return false;
    StringListGetAt(g_setup.groupPaths, int32_t(offset), path);
    return path[0] != 0;
}

bool FillItemList(HWND dialog, HWND combo) {
    HWND list = GetDlgItem(dialog, IDC_ITEM_LIST);
    SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    ImageList_Remove(g_setup.imageList, -1);
    g_setup.selectedItem = -1;

    bool ok = false;
    char group[PATH_CHARS];
    if (SendMessageA(combo, CB_GETCURSEL, 0, 0) != CB_ERR) {
        ok = true;
        char pattern[PATH_CHARS];
        int32_t inserted = 0, toSelect = -1;
        WIN32_FIND_DATAA found;
        HANDLE search = INVALID_HANDLE_VALUE;
        if (CurrentGroupPath(combo, group) && JoinPath(group, "*.lnk", nullptr, pattern, sizeof(pattern)))
            search = FindFirstFileA(pattern, &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (found.cFileName[0] == '.' || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
                const size_t length = strlen(found.cFileName);
                if (length <= 4) continue;  // nothing left for a label
                // A shortcut whose full path would not fit cannot be stored: leave it out.
                char path[PATH_CHARS];
                if (!JoinPath(group, found.cFileName, nullptr, path, sizeof(path))) continue;
                if (toSelect < 0 && lstrcmpiA(found.cFileName, g_setup.currentShortcutName) == 0) toSelect = inserted;

                HICON icon = GetShortcutIcon(dialog, path);
                const int image = ImageList_ReplaceIcon(g_setup.imageList, -1, icon);
                if (icon != DefaultIcon()) DestroyIcon(icon);

                char label[PATH_CHARS];
                CopyCut(label, sizeof(label), found.cFileName);
                label[length - 4] = 0;
                LVITEMA item = {};
                item.mask = LVIF_TEXT | LVIF_IMAGE;
                item.iItem = inserted;
                item.pszText = label;
                item.iImage = image;
                if (SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)) < 0) {
                    ok = false;
                    break;
                }
                ++inserted;
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        if (ok && inserted > 0) {
            if (toSelect < 0) toSelect = 0;
            LVITEMA state = {};
            state.stateMask = 0xF;
            state.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageA(list, LVM_SETITEMSTATE, WPARAM(toSelect), reinterpret_cast<LPARAM>(&state));
            SetFocus(list);
        }
    }
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    UpdateWindow(list);
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    g_setup.currentShortcutName[0] = 0;
    return ok;
}

// Adds a group entry; false when the list cannot take it.
bool AddGroup(HWND combo, const char *text, int32_t offset) {
    LRESULT index = SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    if (index == CB_ERR || index == CB_ERRSPACE) return false;
    SendMessageA(combo, CB_SETITEMDATA, WPARAM(index), LPARAM(offset));
    return true;
}

BOOL InitDialog(HWND dialog) {
    g_setup.dialog = dialog;
    HWND combo = GetDlgItem(dialog, IDC_GROUP_COMBO);
    HWND list = GetDlgItem(dialog, IDC_ITEM_LIST);
    auto fail = [&]() -> BOOL {
        // The list view, once it holds the image list, destroys it itself.
        ShowResourceMessage(IDS_NO_RESOURCES, MB_ICONHAND, 0, nullptr);
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    };

    g_setup.imageList = ImageList_Create(g_monitor.iconWidth, g_monitor.iconHeight, ILC_MASK, 50, 0);
    if (!g_setup.imageList) return fail();
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(g_setup.imageList));
    g_setup.groupPaths = StringListCreate();
    if (!g_setup.groupPaths) return fail();

    char key[PATH_CHARS], value[PATH_CHARS] = "", actionFolder[PATH_CHARS] = "";
    g_setup.currentShortcutName[0] = 0;
    if (ReadFirstActionKey(key, sizeof(key))) {
        GetPrivateProfileStringA(ACTION_SECTION, key, "", value, sizeof(value), g_monitor.settingsPath);
        SplitActionValue(value, actionFolder, sizeof(actionFolder), g_setup.currentShortcutName,
                         sizeof(g_setup.currentShortcutName));
    }

    if (g_monitor.iconTitleFont) {
        static const int fontControls[] = {IDC_APP_NAME, IDC_GROUP_COMBO, IDC_ITEM_LIST};
        for (int id : fontControls)
            SendDlgItemMessageA(dialog, id, WM_SETFONT, reinterpret_cast<WPARAM>(g_monitor.iconTitleFont), FALSE);
    }

    char programs[PATH_CHARS] = "";
    LPITEMIDLIST ids = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(dialog, CSIDL_PROGRAMS, &ids)) && ids) {
        if (!SHGetPathFromIDListA(ids, programs)) programs[0] = 0;
        CoTaskMemFree(ids);
    }
    if (!programs[0]) return fail();
    const int32_t programsOffset = StringListAppend(&g_setup.groupPaths, programs);
    if (programsOffset < 0) return fail();
    char programsName[NAME_CHARS] = "";
    LoadStringA(g_monitor.instance, IDS_PROGRAMS, programsName, sizeof(programsName));
    if (!AddGroup(combo, programsName, programsOffset)) return fail();

    char leftOut[CFG_GROUP_CHARS] = "";
    ReadSuiteGroup(leftOut);

    // Breadth first: the list of paths is also the queue.
    char selectName[PATH_CHARS] = "";
    int32_t count = 1;
    for (int32_t j = 0; j < count; ++j) {
        char folder[PATH_CHARS], pattern[PATH_CHARS];
        StringListGetNth(g_setup.groupPaths, j, folder);
        if (!JoinPath(folder, "*.*", nullptr, pattern, sizeof(pattern))) continue;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(pattern, &found);
        if (search == INVALID_HANDLE_VALUE) continue;
        do {
            if (found.cFileName[0] == '.' || !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
            if (leftOut[0] && lstrcmpiA(found.cFileName, leftOut) == 0) continue;
            char child[PATH_CHARS];
            // A folder whose path would not fit could never be listed or stored.
            if (!JoinPath(folder, found.cFileName, nullptr, child, sizeof(child))) continue;
            const int32_t offset = StringListAppend(&g_setup.groupPaths, child);
            if (offset < 0) {
                FindClose(search);
                return fail();
            }
            if (!AddGroup(combo, found.cFileName, offset)) {
                FindClose(search);
                return fail();
            }
            if (actionFolder[0] && lstrcmpiA(child, actionFolder) == 0) CopyCut(selectName, sizeof(selectName), found.cFileName);
            ++count;
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }

    LRESULT select = CB_ERR;
    if (selectName[0]) select = SendMessageA(combo, CB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>(selectName));
    SendMessageA(combo, CB_SETCURSEL, select == CB_ERR ? 0 : WPARAM(select), 0);

    if (FillItemList(dialog, combo))
        SetFocus(list);
    else
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    return FALSE;
}

void StoreChoice(HWND dialog) {
    char name[NAME_CHARS] = "";
    GetDlgItemTextA(dialog, IDC_APP_NAME, name, sizeof(name));
    char group[PATH_CHARS], label[PATH_CHARS] = "", value[PATH_CHARS];
    bool ready = IsStorableName(name) && g_setup.selectedItem >= 0 && CurrentGroupPath(GetDlgItem(dialog, IDC_GROUP_COMBO), group);
    if (ready) {
        LVITEMA item = {};
        item.pszText = label;
        item.cchTextMax = sizeof(label);
        SendDlgItemMessageA(dialog, IDC_ITEM_LIST, LVM_GETITEMTEXTA, WPARAM(g_setup.selectedItem),
                            reinterpret_cast<LPARAM>(&item));
        ready = label[0] && JoinPath(group, label, ".lnk", value, sizeof(value));
    }
    if (!ready) {
        MessageBeep(0xFFFFFFFF);
        SetFocus(GetDlgItem(dialog, IDC_APP_NAME));
        return;
    }
    WritePrivateProfileStringA(ACTION_SECTION, nullptr, nullptr, g_monitor.settingsPath);
    WritePrivateProfileStringA(ACTION_SECTION, name, value, g_monitor.settingsPath);
    EndDialog(dialog, 1);
}

void ShowHelp(HWND dialog) {
    if (!g_setup.helpPath[0]) {
        CopyCut(g_setup.helpPath, sizeof(g_setup.helpPath), g_monitor.settingsPath);
        char *slash = strrchr(g_setup.helpPath, '\\');
        char *name = slash ? slash + 1 : g_setup.helpPath;
        const size_t room = sizeof(g_setup.helpPath) - size_t(name - g_setup.helpPath);
        CopyCut(name, room, "DETECT.HLP");
    }
    WinHelpA(dialog, g_setup.helpPath, HELP_CONTENTS, 0);
    g_setup.helpShown = true;
}

void CloseDialog(HWND dialog) {
    if (g_setup.groupPaths) {
        GlobalFree(g_setup.groupPaths);
        g_setup.groupPaths = nullptr;
    }
    if (g_setup.helpShown) {
        WinHelpA(dialog, g_setup.helpPath, HELP_QUIT, 0);
        g_setup.helpShown = false;
    }
    g_setup.imageList = nullptr;  // went with the list view
    g_setup.dialog = nullptr;
}

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return InitDialog(dialog);
    case WM_NOTIFY: {
        const NMHDR *header = reinterpret_cast<const NMHDR *>(lParam);
        if (!header || header->idFrom != IDC_ITEM_LIST) return FALSE;
        if (header->code == UINT(NM_DBLCLK)) {
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        } else if (header->code == UINT(LVN_ITEMCHANGING) || header->code == UINT(LVN_ITEMCHANGED)) {
            const NMLISTVIEW *change = reinterpret_cast<const NMLISTVIEW *>(lParam);
            const UINT both = LVIS_SELECTED | LVIS_FOCUSED;
            if ((change->uChanged & LVIF_STATE) && (change->uNewState & both) == both && change->iItem >= 0) {
                g_setup.selectedItem = change->iItem;
                ShowItemName(dialog, header->hwndFrom);
            }
        }
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            StoreChoice(dialog);
            break;
        case IDCANCEL:
            EndDialog(dialog, 0);
            break;
        case IDC_HELP_BUTTON:
            ShowHelp(dialog);
            break;
        case IDC_GROUP_COMBO:
            if (HIWORD(wParam) == CBN_SELCHANGE && !FillItemList(dialog, reinterpret_cast<HWND>(lParam)))
                PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
            break;
        }
        return TRUE;
    case WM_NCDESTROY:
        CloseDialog(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void OpenSetupDialog(HWND owner) {
    if (g_monitor.setupOpen) {
        // One dialog state: show the open one instead of a second.
        if (g_setup.dialog) SetForegroundWindow(g_setup.dialog);
        return;
    }
    g_monitor.setupOpen = true;
    DialogBoxParamA(g_monitor.instance, MAKEINTRESOURCEA(IDD_BUTTON_SETUP), owner, SetupDialogProc, 0);
    g_monitor.setupOpen = false;
    g_setup.dialog = nullptr;
}
