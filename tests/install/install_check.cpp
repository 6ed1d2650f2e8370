// Checks of a suite installed by its setup program into a fresh prefix,
// run by tests/install/test-install between its steps, using only what
// the setup installed: --gtest_filter picks the step (Installed.*,
// Reinstalled.*, Uninstalled.*).
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "wine_test_support.h"

namespace {

const char *const INSTALLED_FILES[] = {"devcmd.dll", "dscrn32.dll", "scanutil.exe", "btnmon.exe", "btnclose.exe",
                                       "DETECT.HLP", "SFTTB32.DLL", "BTNDRAW.DLL", "scan.exe", "orvscnr.sys",
                                       "vscanctl.exe", "uninstall.exe"};
const char GROUP[] = "Oravine Scanner";
const char MONITOR_CLASS[] = "Scan Button Utility";

std::string Dir() {
    char path[MAX_PATH];
    SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, path);
    return std::string(path) + "\\Oravine";
}

std::string Folder(int csidl) {
    char path[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, csidl, nullptr, 0, path);
    return path;
}

std::string Ini(const char *section, const char *key) {
    char value[MAX_PATH] = "";
    GetPrivateProfileStringA(section, key, "", value, sizeof(value), "MERVIX.INI");
    return value;
}

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A shortcut made through the shell link object.
bool MakeShortcut(const std::string &link, const std::string &target, const std::string &arguments) {
    IShellLinkA *shell = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void **>(&shell))))
        return false;
    shell->SetPath(target.c_str());
    shell->SetArguments(arguments.c_str());
    IPersistFile *file = nullptr;
    bool ok = SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)));
    if (ok) {
        wchar_t wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, link.c_str(), -1, wide, MAX_PATH);
        ok = SUCCEEDED(file->Save(wide, TRUE));
        file->Release();
    }
    shell->Release();
    return ok;
}

bool Open(const std::string &path, const char *parameters = nullptr) {
    return reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", path.c_str(), parameters, nullptr, SW_SHOWNORMAL)) > 32;
}

std::string Marker() { return WindowsDir() + "\\Temp\\install-proof.txt"; }

// The monitor's action: a shortcut in the Programs folder to the proof program.
void ConfigureAction() {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string proof = std::string(self).substr(0, std::string(self).find_last_of('\\')) + "\\install_proof.exe";
    std::string link = Folder(CSIDL_PROGRAMS) + "\\Install Proof.lnk";
    ASSERT_TRUE(MakeShortcut(link, proof, Marker()));
    WritePrivateProfileStringA("Action", nullptr, nullptr, (Dir() + "\\Detect.ini").c_str());
    ASSERT_TRUE(WritePrivateProfileStringA("Action", "Install Proof", link.c_str(), (Dir() + "\\Detect.ini").c_str()));
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, (Dir() + "\\Detect.ini").c_str());
}

// Whether the monitor has polled the button since the log was cleared.
bool Polled(HANDLE device) {
    VscLogEntry entries[64];
    uint32_t n = 0;
    if (VscReadLog(device, 0, entries, 64, &n)) return false;
    for (uint32_t i = 0; i < n; ++i)
        if (entries[i].code == IOCTL_SCANNER_POLL_BUTTON) return true;
    return false;
}

// One press of the virtual scanner's button reaches the running monitor.
void PressAndExpectLaunch() {
    DeleteFileA(Marker().c_str());
    HANDLE device = VscOpen();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    // A button already down when polling starts is no press: wait until the
    // monitor has seen it up.
    ASSERT_EQ(VscClearLog(device), 0u);
    ASSERT_TRUE(WaitUntil([&] { return Polled(device); }, 15000)) << "the monitor does not poll";
    ASSERT_EQ(VscSetButton(device, true), 0u);
    bool ran = WaitUntil([] { return Exists(Marker()); }, 15000);
    VscSetButton(device, false);
    CloseHandle(device);
    EXPECT_TRUE(ran) << "the action did not run after a press";
}

std::vector<std::string> ComboItems(HWND combo) {
    std::vector<std::string> items;
    LRESULT n = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        wchar_t text[260] = L"";
        SendMessageW(combo, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text));
        char narrow[260];
        WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof(narrow), nullptr, nullptr);
        items.push_back(narrow);
    }
    return items;
}

TEST(Installed, FilesKeysShortcutsAndDriver) {
    for (const char *f : INSTALLED_FILES) EXPECT_TRUE(Exists(Dir() + "\\" + f)) << f;
    EXPECT_EQ(Ini("ScanDLL", "DLL32"), Dir() + "\\devcmd.dll");
    EXPECT_EQ(Ini("MervixSystem", "DLL32"), Dir() + "\\");
    EXPECT_EQ(Ini("MervixSystem", "Group"), GROUP);
    EXPECT_EQ(Ini("MervixSystem", "ModelName"), "Kept FB") << "keys of an existing file stay";
    EXPECT_EQ(Ini("Other", "Keep"), "yes");
    const std::string group = Folder(CSIDL_PROGRAMS) + "\\" + GROUP;
    for (const char *s : {"Scanner Utility.lnk", "Scan Button Setup.lnk", "Scan Button Monitor.lnk", "Uninstall.lnk"})
        EXPECT_TRUE(Exists(group + "\\" + s)) << s;
    EXPECT_TRUE(Exists(Folder(CSIDL_STARTUP) + "\\Scan Button Monitor.lnk"));
    HANDLE device = VscOpen();
    EXPECT_NE(device, INVALID_HANDLE_VALUE) << "the virtual scanner runs";
    if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
}

TEST(Installed, ScanningProgramGivesAnImage) {
    std::string out = WindowsDir() + "\\Temp\\install-scan.png";
    DeleteFileA(out.c_str());
    DWORD code = 99;
    std::string text;
    ASSERT_TRUE(RunProcess("\"" + Dir() + "\\scan.exe\" --quiet --mode color --res 75 \"" + out + "\"", 120000, &code, &text));
    EXPECT_EQ(code, 0u) << text;
    std::string png = ReadWholeFile(out);
    ASSERT_GT(png.size(), 1000u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
}

TEST(Installed, MonitorFromItsStartupShortcutLaunchesTheAction) {
    ConfigureAction();
    ASSERT_TRUE(Open(Folder(CSIDL_STARTUP) + "\\Scan Button Monitor.lnk"));
    ASSERT_NE(WaitForWindow(MONITOR_CLASS, nullptr, 15000), nullptr) << "the monitor did not start";
    PressAndExpectLaunch();
}

TEST(Installed, UtilityOpensFromTheStartMenu) {
    ASSERT_TRUE(Open(Folder(CSIDL_PROGRAMS) + "\\" + GROUP + "\\Scanner Utility.lnk"));
    HWND dialog = WaitForWindow(nullptr, "Scanner Utility", 15000);
    ASSERT_NE(dialog, nullptr) << "no utility dialog";
    DWORD pid = 0;
    GetWindowThreadProcessId(dialog, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    EXPECT_TRUE(process && WaitForSingleObject(process, 15000) == WAIT_OBJECT_0) << "the utility did not end";
    if (process) CloseHandle(process);
}

TEST(Installed, ButtonSetupLeavesOutTheSuitesOwnGroup) {
    ASSERT_NE(FindWindowA(MONITOR_CLASS, nullptr), nullptr) << "the monitor runs from the earlier step";
    ASSERT_TRUE(Open(Folder(CSIDL_PROGRAMS) + "\\" + GROUP + "\\Scan Button Setup.lnk"));
    HWND dialog = WaitForWindow(nullptr, "Scan Button Setup", 15000);
    ASSERT_NE(dialog, nullptr) << "no setup dialog";
    // The window shows before its group list is filled.
    HWND combo = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        combo = GetDlgItem(dialog, 1000);
        return combo && IsWindowVisible(dialog) && SendMessageA(combo, CB_GETCOUNT, 0, 0) > 0 &&
               SendMessageA(combo, CB_GETCURSEL, 0, 0) >= 0;
    }, 15000)) << "the group list was not filled";
    std::vector<std::string> groups = ComboItems(combo);
    bool programs = false;
    for (const std::string &g : groups) {
        EXPECT_NE(g, GROUP);
        programs = programs || g == "Programs";
    }
    EXPECT_TRUE(programs);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(WaitUntil([] { return FindWindowA(nullptr, "Scan Button Setup") == nullptr; }, 10000));
}

TEST(Reinstalled, MonitorIsBackAndStillLaunches) {
    for (const char *f : INSTALLED_FILES) EXPECT_TRUE(Exists(Dir() + "\\" + f)) << f;
    ASSERT_NE(WaitForWindow(MONITOR_CLASS, nullptr, 15000), nullptr) << "the setup started the monitor it stopped";
    PressAndExpectLaunch();
}

TEST(Uninstalled, NothingOfTheSuiteIsLeft) {
    EXPECT_FALSE(Exists(Dir())) << "the install folder is gone";
    EXPECT_FALSE(Exists(Folder(CSIDL_PROGRAMS) + "\\" + GROUP));
    EXPECT_FALSE(Exists(Folder(CSIDL_STARTUP) + "\\Scan Button Monitor.lnk"));
    EXPECT_EQ(FindWindowA(MONITOR_CLASS, nullptr), nullptr) << "the monitor was stopped";
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceA(manager, "orvscnr", SERVICE_QUERY_STATUS);
    EXPECT_EQ(service, nullptr) << "the driver's service is gone";
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    EXPECT_EQ(Ini("ScanDLL", "DLL32"), "");
    EXPECT_EQ(Ini("MervixSystem", "DLL32"), "");
    EXPECT_EQ(Ini("MervixSystem", "Group"), "");
    EXPECT_EQ(Ini("MervixSystem", "ModelName"), "Kept FB") << "keys the setup did not write stay";
    EXPECT_EQ(Ini("Other", "Keep"), "yes");
}

}  // namespace

int main(int argc, char **argv) {
    CoInitialize(nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    CoUninitialize();
    return rc;
}
