// The port pages: I/O Verify for a scanner on a parallel port, ScanPort for
// one on a scan-port card. A port is tested with SCP_TEST_PORT; only an
// answer changes the settings.
#include <stdio.h>

#include "resource.h"
#include "suite_config.h"
#include "utility.h"

namespace {

HWND g_ioVerifyPage;
HWND g_scanPortPage;
uint16_t g_scanPortList[SCANPORT_LIST_CAPACITY];
uint32_t g_scanPortCount;

void SetItemString(HWND page, int id, UINT stringId) {
    char text[SHOW_TEXT_CHARS] = "";
    LoadStringA(g_instance, stringId, text, sizeof(text));
    SetDlgItemTextA(page, id, text);
}

void SetItemHex(HWND page, int id, uint16_t value) {
    char text[SHOW_TEXT_CHARS];
    snprintf(text, sizeof(text), "%x", value);
    SetDlgItemTextA(page, id, text);
}

// One test of an address and mode; on an answer the answer becomes the
// settings and the selection.
bool TestPort(uint16_t address, uint16_t mode) {
    PutRequestWord(2, address);
    PutRequestWord(4, mode);
    if (!SendPortService(SCP_TEST_PORT)) return false;
    g_settings.portAddress = g_currentAddress = RequestWord(2);
    g_settings.portMode = g_currentMode = RequestWord(4);
    return true;
}

void SelectAddressButton(HWND page, uint16_t address) {
    const int index = ParallelAddressIndex(address);
    for (int i = 0; i < static_cast<int>(PARALLEL_PORT_COUNT); ++i)
        CheckDlgButton(page, IDC_ADDRESS_378 + i, i == index ? BST_CHECKED : BST_UNCHECKED);
}

void SelectModeButton(HWND page, uint16_t mode) {
    CheckDlgButton(page, IDC_MODE_EPP, mode == MODE_EPP ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, IDC_MODE_SPP, mode == MODE_SPP ? BST_CHECKED : BST_UNCHECKED);
}

void ShowPortSettings() {
    HWND page = g_ioVerifyPage;
    if (!page) return;
    if (g_settings.portAddress == PORT_ADDRESS_NONE) {
        SetItemString(page, IDC_SHOW_ADDRESS, IDS_ADDRESS_UNDEFINED);
        SetItemString(page, IDC_SHOW_MODE, IDS_MODE_UNDEFINED);
    } else {
        SetItemHex(page, IDC_SHOW_ADDRESS, g_currentAddress);
        SetItemString(page, IDC_SHOW_MODE, IDS_MODE_EPP + g_currentMode);
    }
}

void ShowScanPortStatus() {
    HWND page = g_scanPortPage;
    if (!page) return;
    SetItemHex(page, IDC_SCANPORT_ADDRESS, g_currentAddress);
    SetItemString(page, IDC_SCANPORT_STATUS,
                  g_settings.portAddress == PORT_ADDRESS_NONE ? IDS_STATUS_FAILURE : IDS_STATUS_GOOD);
}

void TestParallelPort(bool search) {
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT)));
    PortCandidate pairs[PARALLEL_SEARCH_PAIRS];
    const uint32_t n = ParallelCandidates(search, g_currentAddress, g_currentMode, pairs);
    bool found = false;
    for (uint32_t i = 0; i < n && !found; ++i) {
        if (!TestPort(pairs[i].address, pairs[i].mode)) continue;
        found = true;
        SelectAddressButton(g_ioVerifyPage, pairs[i].address);
        SelectModeButton(g_ioVerifyPage, g_currentMode);
        ShowPortSettings();
    }
    SetCursor(previous);
    if (found) {
        ShowPageMessage(IDS_CONNECTED, MB_ICONINFORMATION);
    } else {
        MessageBeep(MB_ICONEXCLAMATION);
        ShowPageMessage(IDS_NOT_CONNECTED, MB_ICONEXCLAMATION);
    }
}

void TestScanPort(bool search) {
    HWND list = GetDlgItem(g_scanPortPage, IDC_SCANPORT_LIST);
    const int selected = static_cast<int>(SendMessageA(list, CB_GETCURSEL, 0, 0));
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT)));
    uint32_t order[SCANPORT_LIST_CAPACITY];
    // Verify Port with nothing selected has nothing to test: no request, and
    // the failure message says so.
    const uint32_t n = ScanPortCandidates(search, g_scanPortList, g_scanPortCount, selected, g_currentAddress, order);
    int foundAt = -1;
    for (uint32_t i = 0; i < n && foundAt < 0; ++i) {
        if (!TestPort(g_scanPortList[order[i]], MODE_EPP)) continue;
        foundAt = static_cast<int>(order[i]);
        ShowScanPortStatus();
    }
    SetCursor(previous);
    if (foundAt >= 0 && search) SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(foundAt), 0);
    if (foundAt >= 0)
        ShowPageMessage(IDS_CONNECTED, MB_ICONINFORMATION);
    else
        ShowPageMessage(search ? IDS_SCANNER_NOT_FOUND : IDS_NOT_CONNECTED, MB_ICONEXCLAMATION);
}

void InitIoVerifyPage(HWND page) {
    g_ioVerifyPage = page;
    if (g_currentAddress == PORT_ADDRESS_NONE) {
        g_currentAddress = DEFAULT_PORT_ADDRESS;
        g_currentMode = MODE_SPP;
    }
    SelectAddressButton(page, g_currentAddress);
    SelectModeButton(page, g_currentMode);
    ShowPortSettings();
}

void InitScanPortPage(HWND page) {
    g_scanPortPage = page;
    // The list holds the first 40 keys; further ones are not offered.
    g_scanPortCount = 0;
    while (g_scanPortCount < SCANPORT_LIST_CAPACITY) {
        uint16_t address = 0;
        if (!ReadScanPortEntry(g_scanPortCount, &address)) break;
        g_scanPortList[g_scanPortCount++] = address;
    }
    if (g_currentAddress == PORT_ADDRESS_NONE) g_currentAddress = g_scanPortCount ? g_scanPortList[0] : 0;
    HWND list = GetDlgItem(page, IDC_SCANPORT_LIST);
    for (uint32_t i = 0; i < g_scanPortCount; ++i) {
        char text[12];
        snprintf(text, sizeof(text), "%#x", g_scanPortList[i]);
        SendMessageA(list, CB_INSERTSTRING, i, reinterpret_cast<LPARAM>(text));
    }
    for (uint32_t i = 0; i < g_scanPortCount; ++i) {
        if (g_scanPortList[i] == g_currentAddress) {
            SendMessageA(list, CB_SETCURSEL, i, 0);
            break;
        }
    }
    ShowScanPortStatus();
}

INT_PTR CALLBACK IoVerifyPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        InitIoVerifyPage(page);
        SftTabs_SetPageActive(page, lParam, nullptr);
        return FALSE;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (HIWORD(wParam) != BN_CLICKED) break;
        if (id >= IDC_ADDRESS_378 && id <= IDC_ADDRESS_3BC) {
            const uint16_t address = PARALLEL_PORT_ADDRESSES[id - IDC_ADDRESS_378];
            if (address != g_currentAddress) {
                g_currentAddress = address;
                SelectAddressButton(page, address);
            }
        } else if (id == IDC_MODE_EPP || id == IDC_MODE_SPP) {
            const uint16_t mode = static_cast<uint16_t>(id - IDC_MODE_EPP);
            if (mode != g_currentMode) {
                g_currentMode = mode;
                SelectModeButton(page, mode);
            }
        } else if (id == IDC_VERIFY_PORT || id == IDC_AUTO_SEARCH) {
            TestParallelPort(id == IDC_AUTO_SEARCH);
        }
        break;
    }
    case WM_DESTROY:
        g_ioVerifyPage = nullptr;
        break;
    }
    return SftTabs_HandleDialogMessage(page, message, wParam, lParam);
}

INT_PTR CALLBACK ScanPortPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        InitScanPortPage(page);
        SftTabs_SetPageActive(page, lParam, nullptr);
        return FALSE;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && (LOWORD(wParam) == IDC_VERIFY_PORT || LOWORD(wParam) == IDC_AUTO_SEARCH))
            TestScanPort(LOWORD(wParam) == IDC_AUTO_SEARCH);
        break;
    case WM_DESTROY:
        g_scanPortPage = nullptr;
        break;
    }
    return SftTabs_HandleDialogMessage(page, message, wParam, lParam);
}

HWND PageCallback(BOOL create, HWND parent, HWND page, LPARAM param, int templateId, DLGPROC proc) {
    if (create) {
        if (page) return nullptr;
        return CreateDialogParamA(g_instance, MAKEINTRESOURCEA(templateId), parent, proc, param);
    }
    if (parent) return page;
    if (page) DestroyWindow(page);
    return nullptr;
}

}  // namespace

HWND CALLBACK IoVerifyPageCallback(BOOL create, HWND parent, HWND page, LPARAM param) {
    return PageCallback(create, parent, page, param, IDD_IO_VERIFY, IoVerifyPageProc);
}

HWND CALLBACK ScanPortPageCallback(BOOL create, HWND parent, HWND page, LPARAM param) {
    return PageCallback(create, parent, page, param, IDD_SCANPORT, ScanPortPageProc);
}
