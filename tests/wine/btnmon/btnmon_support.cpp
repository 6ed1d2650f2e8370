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
