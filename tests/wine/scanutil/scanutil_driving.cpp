#include "scanutil_driving.h"

#include <stddef.h>
#include <string.h>

#include <gtest/gtest.h>

#include "scanner_records.h"
#include "sfttabs.h"
#include "shared_state.h"

std::string IniPath() { return WindowsDir() + "\\MERVIX.INI"; }
std::string DevcmdPath() { return InstallDir() + "\\devcmd.dll"; }
std::string TraceDevcmdPath() { return BinDir() + "\\trace_devcmd.dll"; }

std::string IniText(const std::string &scanDll, const std::string &paintDir, const std::vector<std::string> &scannerInfo) {
    std::string s = "[ScanDLL]\r\n";
    if (!scanDll.empty()) s += "DLL32=" + scanDll + "\r\n";
    s += "\r\n[MervixSystem]\r\nModelName=Oravine FB-600\r\n";
    if (!paintDir.empty()) s += "DLL32=" + paintDir + "\r\n";
    s += "\r\n[ScannerInfo]\r\n";
    for (size_t i = 0; i < scannerInfo.size(); ++i) s += std::to_string(i) + "=" + scannerInfo[i] + "\r\n";
    return s;
}

void WriteIni(const std::string &text) {
    ASSERT_TRUE(WriteWholeFile(IniPath(), text));
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, IniPath().c_str());
}

Utility::~Utility() {
    if (!started) return;
    if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 5000);
    }
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
}

bool Utility::Start() {
    started = StartProcess("\"" + InstallDir() + "\\scanutil.exe\"", &pi);
    return started;
}

bool Utility::WaitEnd(DWORD timeoutMs, DWORD *exitCode) { return WaitProcess(pi.hProcess, timeoutMs, exitCode); }

namespace {
struct Search {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialogs(HWND w, LPARAM p) {
    Search *s = reinterpret_cast<Search *>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    char cls[32] = "";
    GetClassNameA(w, cls, sizeof(cls));
    if (pid == s->pid && IsWindowVisible(w) && strcmp(cls, "#32770") == 0) s->found.push_back(w);
    return TRUE;
}

BOOL CALLBACK CollectStatics(HWND w, LPARAM p) {
    std::string *text = reinterpret_cast<std::string *>(p);
    char cls[32] = "";
    GetClassNameA(w, cls, sizeof(cls));
    if (_stricmp(cls, "Static") == 0) {
        std::string t = WindowText(w);
        if (!t.empty()) *text += (text->empty() ? "" : "\n") + t;
    }
    return TRUE;
}
}  // namespace

std::vector<HWND> ProcessDialogs(DWORD pid) {
    Search s{pid, {}};
    EnumWindows(CollectDialogs, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND WaitUtilityDialog(DWORD pid, DWORD timeoutMs) {
    HWND dialog = nullptr;
    WaitUntil([&] {
        for (HWND w : ProcessDialogs(pid))
            if (GetDlgItem(w, 201)) return (dialog = w) != nullptr;
        return false;
    }, timeoutMs);
    return dialog;
}

HWND WaitMessageBox(DWORD pid, DWORD timeoutMs) {
    HWND box = nullptr;
    WaitUntil([&] {
        for (HWND w : ProcessDialogs(pid))
            if (!GetDlgItem(w, 201) && !MessageBoxText(w).empty()) return (box = w) != nullptr;
        return false;
    }, timeoutMs);
    return box;
}

std::string MessageBoxText(HWND box) {
    std::string text;
    EnumChildWindows(box, CollectStatics, reinterpret_cast<LPARAM>(&text));
    return text;
}

void DismissMessageBox(HWND box) { PostMessageA(box, WM_COMMAND, IDOK, 0); }

std::string TakeMessageBox(DWORD pid, std::string *caption) {
    HWND box = WaitMessageBox(pid);
    if (!box) return "";
    std::string text = MessageBoxText(box);
    if (caption) *caption = WindowText(box);
    DismissMessageBox(box);
    WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, GUI_TIMEOUT_MS);
    return text;
}

HWND TabControl(HWND dialog) { return GetDlgItem(dialog, 201); }

std::string TabText(HWND tab, int index) {
    DWORD pid = 0;
    GetWindowThreadProcessId(tab, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) return "";
    void *remote = VirtualAllocEx(process, nullptr, SFTTABS_TEXT_CHARS, MEM_COMMIT, PAGE_READWRITE);
    std::string text;
    if (remote) {
        DWORD_PTR got = 0;
        SendMessageTimeoutA(tab, SFTTABSM_GETTABTEXT, WPARAM(index), LPARAM(remote), SMTO_ABORTIFHUNG, 5000, &got);
        char buffer[SFTTABS_TEXT_CHARS] = "";
        SIZE_T read = 0;
        if (ReadProcessMemory(process, remote, buffer, sizeof(buffer), &read)) {
            buffer[sizeof(buffer) - 1] = 0;
            text = buffer;
        }
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return text;
}

int CurrentTab(HWND tab) { return int(SendMessageA(tab, SFTTABSM_GETCURRENT, 0, 0)); }

void ClickTab(HWND tab, int index) {
    const LRESULT center = SendMessageA(tab, SFTTABSM_GETTABCENTER, WPARAM(index), 0);
    PostMessageA(tab, WM_LBUTTONDOWN, MK_LBUTTON, center);
    PostMessageA(tab, WM_LBUTTONUP, 0, center);
}

HWND WaitPage(HWND dialog, int id, DWORD timeoutMs) {
    HWND page = nullptr;
    WaitUntil([&] {
        for (HWND w = FindWindowExA(dialog, nullptr, SFTTABS_PAGE_CLASS, nullptr); w;
             w = FindWindowExA(dialog, w, SFTTABS_PAGE_CLASS, nullptr))
            if (IsWindowVisible(w) && GetDlgItem(w, id)) return (page = w) != nullptr;
        return false;
    }, timeoutMs);
    return page;
}

std::string ItemText(HWND page, int id) { return WindowText(GetDlgItem(page, id)); }

bool IsChecked(HWND page, int id) { return SendMessageA(GetDlgItem(page, id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void PostClick(HWND page, int id) { PostMessageA(GetDlgItem(page, id), BM_CLICK, 0, 0); }

std::vector<PortServiceRequest> PortRequests(const std::vector<VscLogEntry> &log, int subCode) {
    std::vector<PortServiceRequest> out;
    for (const VscLogEntry &e : log) {
        if (e.code != IOCTL_SCANNER_PORT_SERVICE || e.dataLength < 6) continue;
        PortServiceRequest r = {};
        memcpy(&r.subCode, e.data, 2);
        memcpy(&r.address, e.data + 2, 2);
        memcpy(&r.mode, e.data + 4, 2);
        memcpy(&r.seconds, e.data + 2, 4);
        r.succeeded = e.status == 0;
        if (subCode < 0 || r.subCode == subCode) out.push_back(r);
    }
    return out;
}

std::vector<std::string> CodeNames(const std::vector<VscLogEntry> &log) {
    std::vector<std::string> names;
    for (const VscLogEntry &e : log) {
        const char *n = VscCodeName(e.code);
        names.push_back(n ? n : "?");
    }
    return names;
}

void ScreenshotOnFailure(const char *name) {
    std::string dir = BinDir() + "\\..\\Testing\\Temporary";
    if (GetFileAttributesA(dir.c_str()) == INVALID_FILE_ATTRIBUTES) dir = BinDir();
    SaveScreenshot(dir + "\\" + name + ".bmp");
}

namespace {
const uint8_t *SharedSection(HMODULE module, DWORD *size) {
    const uint8_t *base = reinterpret_cast<const uint8_t *>(module);
    const IMAGE_DOS_HEADER *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    const IMAGE_NT_HEADERS *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (memcmp(section->Name, ".DShare", 7) == 0) {
            *size = section->Misc.VirtualSize;
            return base + section->VirtualAddress;
        }
    }
    return nullptr;
}
}  // namespace

uint16_t DevcmdOpenCount(HMODULE devcmd) {
    DWORD size = 0;
    const uint8_t *shared = SharedSection(devcmd, &size);
    if (!shared || size < sizeof(SharedState)) return 0xFFFF;
    uint16_t count = 0;
    memcpy(&count, shared + offsetof(SharedState, openCount), sizeof(count));
    return count;
}

uint32_t DevcmdBuiltMarker(HMODULE devcmd) {
    DWORD size = 0;
    const uint8_t *shared = SharedSection(devcmd, &size);
    if (!shared || size < sizeof(SharedState)) return 0;
    uint32_t marker = 0;
    memcpy(&marker, shared + offsetof(SharedState, builtMarker), sizeof(marker));
    return marker;
}
