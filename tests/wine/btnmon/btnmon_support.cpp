#include "btnmon_support.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

std::string MonitorExe() { return InstallDir() + "\\btnmon.exe"; }
std::string CloserExe() { return InstallDir() + "\\btnclose.exe"; }
std::string SettingsPath() { return InstallDir() + "\\Detect.ini"; }
std::string ProbeExe() { return BinDir() + "\\btnmon_probe.exe"; }

static std::string FolderPath(int csidl) {
    char path[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, path, csidl, TRUE);
    return path;
}

std::string ProgramsDir() { return FolderPath(CSIDL_PROGRAMS); }
std::string StartupDir() { return FolderPath(CSIDL_STARTUP); }

DWORD Vscanctl(const std::string &args) {
    DWORD code = 999;
    std::string out;
    if (!RunProcess("\"" + BinDir() + "\\vscanctl.exe\" " + args, 30000, &code, &out)) return 999;
    return code;
}

bool MakeShortcut(const std::string &link, const std::string &target, const std::string &arguments) {
    HRESULT init = CoInitialize(nullptr);
    bool ok = false;
    IShellLinkA *shellLink = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void **>(&shellLink)))) {
        shellLink->SetPath(target.c_str());
        shellLink->SetArguments(arguments.c_str());
        IPersistFile *file = nullptr;
        if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) {
            wchar_t wide[MAX_PATH];
            MultiByteToWideChar(CP_ACP, 0, link.c_str(), -1, wide, MAX_PATH);
            ok = SUCCEEDED(file->Save(wide, TRUE));
            file->Release();
        }
        shellLink->Release();
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return ok;
}

int LineCount(const std::string &path) {
    std::string data = ReadWholeFile(path);
    int n = 0;
    for (char c : data) n += c == '\n';
    return n;
}

MonitorProcess::~MonitorProcess() {
    if (!started) return;
    if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) {
        ScreenshotIfFailed();  // while its windows are still up
        PostMessageA(MonitorWindow(), WM_CLOSE, 0, 0);
        if (WaitForSingleObject(pi.hProcess, 5000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the monitor did not end; terminated";
            TerminateProcess(pi.hProcess, 1);
            WaitForSingleObject(pi.hProcess, 5000);
        }
    }
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
}

bool MonitorProcess::Start(const std::string &tail) {
    std::string cmd = "\"" + MonitorExe() + "\"";
    if (!tail.empty()) cmd += " " + tail;
    started = StartProcess(cmd, &pi);
    return started;
}

HWND MonitorProcess::StartAndWait(const std::string &tail) {
    if (!Start(tail)) return nullptr;
    HWND found = nullptr;
    WaitUntil(
        [&] {
            found = MonitorWindow();
            DWORD owner = 0;
            if (found) GetWindowThreadProcessId(found, &owner);
            return found && owner == pi.dwProcessId;
        },
        15000);
    return found;
}

bool MonitorProcess::WaitEnd(DWORD timeoutMs, DWORD *code) { return WaitProcess(pi.hProcess, timeoutMs, code); }

HWND MonitorWindow() { return FindWindowA(MONITOR_CLASS, nullptr); }

namespace {
struct BoxSearch {
    DWORD processId;
    HWND found;
};
BOOL CALLBACK FindBox(HWND window, LPARAM param) {
    BoxSearch *search = reinterpret_cast<BoxSearch *>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char cls[32] = "";
    GetClassNameA(window, cls, sizeof(cls));
    if (owner == search->processId && IsWindowVisible(window) && strcmp(cls, "#32770") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

HWND MessageBoxOf(DWORD processId) {
    BoxSearch search = {processId, nullptr};
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitMessageBox(DWORD processId, DWORD timeoutMs) {
    HWND box = nullptr;
    WaitUntil([&] { return (box = MessageBoxOf(processId)) != nullptr; }, timeoutMs);
    return box;
}

std::string MessageBoxText(HWND box) {
    // The message text is the static control with id 0xFFFF.
    HWND text = GetDlgItem(box, 0xFFFF);
    return text ? WindowText(text) : std::string();
}

void DismissMessageBox(HWND box) { PostMessageA(box, WM_COMMAND, IDOK, 0); }

int PollCount(const VirtualScanner &scanner) {
    int n = 0;
    for (const VscLogEntry &e : scanner.Log()) n += e.code == IOCTL_SCANNER_POLL_BUTTON;
    return n;
}

bool WaitPolls(const VirtualScanner &scanner, int more) {
    const int target = PollCount(scanner) + more;
    return WaitUntil([&] { return PollCount(scanner) >= target; }, DWORD(more) * 1000 + 6000, 100);
}

void ScreenshotIfFailed() {
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    if (!info || !::testing::Test::HasFailure()) return;
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    SaveScreenshot(BinDir() + "\\..\\Testing\\Temporary\\" + name + ".bmp");
}

#include <commctrl.h>

HWND OpenSetup(const MonitorProcess &monitor) {
    DWORD code = 999;
    if (!RunProcess("\"" + MonitorExe() + "\" /S", 15000, &code) || code != 0) return nullptr;
    HWND found = nullptr;
    WaitUntil(
        [&] {
            found = nullptr;
            HWND w = nullptr;
            while ((w = FindWindowExA(nullptr, w, "#32770", SETUP_TITLE)) != nullptr) {
                DWORD owner = 0;
                GetWindowThreadProcessId(w, &owner);
                if (owner == monitor.pi.dwProcessId && IsWindowVisible(w)) found = w;
            }
            return found != nullptr;
        },
        15000);
    return found;
}

int SetupDialogCount(DWORD processId) {
    int n = 0;
    HWND w = nullptr;
    while ((w = FindWindowExA(nullptr, w, "#32770", SETUP_TITLE)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        n += owner == processId;
    }
    return n;
}

static std::string ComboText(HWND combo, int index) {
    // The ANSI call across processes brings back one character only.
    LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, WPARAM(index), 0);
    if (length == CB_ERR || length > 1000) return "";
    std::vector<wchar_t> wide(size_t(length) + 1, 0);
    SendMessageW(combo, CB_GETLBTEXT, WPARAM(index), reinterpret_cast<LPARAM>(wide.data()));
    char text[2048] = "";
    WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, text, sizeof(text), nullptr, nullptr);
    return text;
}

std::vector<std::string> ComboTexts(HWND combo) {
    std::vector<std::string> texts;
    LRESULT n = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) texts.push_back(ComboText(combo, int(i)));
    return texts;
}

std::string ComboSelectedText(HWND combo) {
    LRESULT i = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    return i == CB_ERR ? std::string("(none)") : ComboText(combo, int(i));
}

bool ChooseGroup(HWND dialog, const std::string &text) {
    HWND combo = GetDlgItem(dialog, ID_GROUP_COMBO);
    std::vector<std::string> texts = ComboTexts(combo);
    for (size_t i = 0; i < texts.size(); ++i) {
        if (texts[i] != text) continue;
        SendMessageA(combo, CB_SETCURSEL, i, 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(ID_GROUP_COMBO, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
        return true;
    }
    return false;
}

namespace {
// A block of memory in the list view's process.
struct Remote {
    HANDLE process = nullptr;
    char *address = nullptr;
    explicit Remote(HWND window, size_t size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (process)
            address = static_cast<char *>(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    }
    ~Remote() {
        if (address) VirtualFreeEx(process, address, 0, MEM_RELEASE);
        if (process) CloseHandle(process);
    }
    bool Put(size_t at, const void *data, size_t size) {
        return address && WriteProcessMemory(process, address + at, data, size, nullptr);
    }
    bool Get(size_t at, void *data, size_t size) {
        return address && ReadProcessMemory(process, address + at, data, size, nullptr);
    }
};
}  // namespace

std::vector<std::string> ItemLabels(HWND list) {
    std::vector<std::string> labels;
    LRESULT n = SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    Remote remote(list, sizeof(LVITEMA) + 300);
    for (LRESULT i = 0; i < n; ++i) {
        LVITEMA item = {};
        item.iSubItem = 0;
        item.pszText = remote.address + sizeof(LVITEMA);
        item.cchTextMax = 260;
        char text[300] = "";
        remote.Put(sizeof(LVITEMA), text, sizeof(text));
        remote.Put(0, &item, sizeof(item));
        SendMessageA(list, LVM_GETITEMTEXTA, WPARAM(i), reinterpret_cast<LPARAM>(remote.address));
        remote.Get(sizeof(LVITEMA), text, 260);
        text[259] = 0;
        labels.push_back(text);
    }
    return labels;
}

int ItemImage(HWND list, int index) {
    Remote remote(list, sizeof(LVITEMA));
    LVITEMA item = {};
    item.mask = LVIF_IMAGE;
    item.iItem = index;
    item.iImage = -99;
    remote.Put(0, &item, sizeof(item));
    if (!SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(remote.address))) return -99;
    remote.Get(0, &item, sizeof(item));
    return item.iImage;
}

int SelectedItem(HWND list) { return int(SendMessageA(list, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED)); }

bool SelectItem(HWND list, int index, bool select) {
    Remote remote(list, sizeof(LVITEMA));
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = select ? LVIS_SELECTED | LVIS_FOCUSED : 0;
    remote.Put(0, &item, sizeof(item));
    return SendMessageA(list, LVM_SETITEMSTATE, WPARAM(index), reinterpret_cast<LPARAM>(remote.address)) != 0;
}

RECT ItemRect(HWND list, int index, int part) {
    Remote remote(list, sizeof(RECT));
    RECT rect = {};
    rect.left = part;
    remote.Put(0, &rect, sizeof(rect));
    SendMessageA(list, LVM_GETITEMRECT, WPARAM(index), reinterpret_cast<LPARAM>(remote.address));
    remote.Get(0, &rect, sizeof(rect));
    return rect;
}

std::vector<uint32_t> ItemIconPixels(HWND list, int index) {
    RECT r = ItemRect(list, index, LVIR_ICON);
    POINT origin = {r.left, r.top};
    ClientToScreen(list, &origin);
    const int w = r.right - r.left, h = r.bottom - r.top;
    std::vector<uint32_t> pixels;
    if (w <= 0 || h <= 0 || w > 200 || h > 200) return pixels;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    const uint32_t *p = static_cast<const uint32_t *>(bits);
    pixels.assign(p, p + size_t(w) * h);
    for (uint32_t &px : pixels) px &= 0xFFFFFF;
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return pixels;
}

void DoubleClickItem(HWND list, int index) {
    RECT r = ItemRect(list, index, LVIR_ICON);
    LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(list, WM_LBUTTONUP, 0, at);
    PostMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    PostMessageA(list, WM_LBUTTONUP, 0, at);
}

HWND FocusOf(HWND dialog) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}
