// Start-up of the utility: its error messages with the scanner left
// released and closed, a second start, the template chosen by the port
// kind, and the order of the calls at exit.
#include <windows.h>

#include <string.h>

#include <algorithm>

#include "scanner_commander.h"
#include "utility_fixture.h"

namespace {

using Names = std::vector<std::string>;

// Trace lines ("<pid> <what>") of one process.
Names TraceOf(const std::string &path, DWORD pid) {
    Names lines;
    const std::string text = ReadWholeFile(path);
    const std::string prefix = std::to_string(pid) + " ";
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line.substr(prefix.size()));
        at = end + 2;
    }
    return lines;
}

// Sets the environment the utility inherits: the trace file and the real
// library behind the tracing stand-in.
struct TraceSession {
    TraceSession() {
        char dir[MAX_PATH];
        GetTempPathA(sizeof(dir), dir);
        path = std::string(dir) + "scanutil_trace.txt";
        DeleteFileA(path.c_str());
        SetEnvironmentVariableA("ORV_TRACE_FILE", path.c_str());
        SetEnvironmentVariableA("ORV_REAL_DEVCMD", DevcmdPath().c_str());
    }
    ~TraceSession() {
        SetEnvironmentVariableA("ORV_TRACE_FILE", nullptr);
        SetEnvironmentVariableA("ORV_REAL_DEVCMD", nullptr);
        DeleteFileA(path.c_str());
    }
    std::string path;
};

// The test's own binding of devcmd: keeps the shared state alive, so the
// open count the utility leaves behind can be read.
struct OwnDevcmd {
    OwnDevcmd() {
        module = LoadLibraryA(DevcmdPath().c_str());
        if (module)
            entry = reinterpret_cast<ScannerCommanderProc>(reinterpret_cast<void *>(GetProcAddress(module, "ScannerCommander")));
    }
    ~OwnDevcmd() {
        if (module) FreeLibrary(module);
    }
    int16_t Send(uint16_t command) {
        block.command = command;
        entry(&block);
        return block.status;
    }
    HMODULE module = nullptr;
    ScannerCommanderProc entry = nullptr;
    CommandBlock block = {};
};

struct StartupCase {
    const char *name;
    // Prepares the INI and the scanner; returns the [ScanDLL] DLL32 value.
    std::string scanDll;
    std::string paintDir;
    bool failDeviceInfo;
    bool ownedElsewhere;
    const char *message;
    Names logged;  // what reaches the driver
};

class StartupErrorTest : public UtilityTest {};

TEST_F(StartupErrorTest, EachErrorShowsItsMessageAndLeavesTheScannerReleasedAndClosed) {
    const std::string install = InstallDir() + "\\";
    const StartupCase cases[] = {
        {"no DLL32", "", install, false, false, "Scanner DLL not found!", {}},
        {"no such file", install + "nothere.dll", install, false, false, "Scanner DLL not found!", {}},
        {"not a library", IniPath(), install, false, false, "Scanner DLL not found!", {}},
        {"no ScannerCommander", install + "SFTTB32.DLL", install, false, false, "Incorrect scanner model!", {}},
        {"device info fails", DevcmdPath(), install, true, false, "Scanner DLL not found!", {"GET_DEVICE_INFO"}},
        {"owned by another program", DevcmdPath(), install, false, true, "Scanner in use!", {"GET_DEVICE_INFO"}},
        {"painting library without Paint_Register", DevcmdPath(), BinDir() + "\\noregister\\", false, false,
         "Cannot find some shared DLLs for operation!",
         {"GET_DEVICE_INFO", "ACQUIRE", "PORT_SERVICE", "RELEASE"}},
    };
    for (const StartupCase &c : cases) {
        SCOPED_TRACE(c.name);
        WriteIni(IniText(c.scanDll, c.paintDir, {"378"}));
        OwnDevcmd own;
        ASSERT_NE(own.entry, nullptr);
        ASSERT_NE(DevcmdBuiltMarker(own.module), 0u) << "devcmd's shared section is not where the test reads it";
        ASSERT_EQ(own.Send(SC_OPEN), SCS_OK);
        ASSERT_EQ(VscReset(scanner.device), 0u);
        if (c.ownedElsewhere) {
            ASSERT_EQ(own.Send(SC_ACQUIRE), SCS_OK);
        }
        if (c.failDeviceInfo) {
            VscFault fault = {VSC_FAULT_FAIL, IOCTL_SCANNER_GET_DEVICE_INFO, 1, 0xC0000001u /* unsuccessful */, 0};
            ASSERT_EQ(VscAddFault(scanner.device, fault), 0u);
        }
        ClearLog();
        const uint16_t openBefore = DevcmdOpenCount(own.module);
        Utility utility;
        ASSERT_TRUE(utility.Start());
        std::string caption;
        EXPECT_EQ(TakeMessageBox(utility.pi.dwProcessId, &caption), c.message);
        EXPECT_EQ(caption, "Scanner Utility");
        DWORD code = 99;
        ASSERT_TRUE(utility.WaitEnd(GUI_TIMEOUT_MS, &code));
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(CodeNames(scanner.Log()), c.logged);
        // Released: the scanner has no owner unless this test holds it.
        const VscStatus status = scanner.Status();
        if (c.ownedElsewhere) {
            EXPECT_EQ(status.ownerId, own.block.ownerId);
            EXPECT_EQ(own.Send(SC_RELEASE), SCS_OK);
        } else {
            EXPECT_EQ(status.ownerId, 0);
        }
        // Closed: every SC_OPEN of the utility was matched by SC_CLOSE.
        EXPECT_EQ(DevcmdOpenCount(own.module), openBefore);
        own.Send(SC_CLOSE);
    }
}

class StartupTest : public UtilityTest {};

TEST_F(StartupTest, ParallelPortGivesTemplate300AndScanPortCardTemplate301) {
    StandardIni();
    {
        START_UTILITY(utility, dialog);
        EXPECT_EQ(WindowText(dialog), "Scanner Utility");
        EXPECT_EQ(TabText(TabControl(dialog), 0), "I/O Verify");
        EXPECT_EQ(TabText(TabControl(dialog), 1), "Lamp Control");
        EXPECT_NE(WaitPage(dialog, 401), nullptr) << "the I/O Verify page is not shown";
        EXPECT_EQ(WindowText(GetDlgItem(dialog, IDOK)), "&Close");
        CloseWithButton(utility, dialog);
    }
    ASSERT_EQ(VscSetProfile(scanner.device, "scanport"), 0u);
    {
        START_UTILITY(utility, dialog);
        EXPECT_EQ(WindowText(dialog), "Dialog");
        EXPECT_EQ(TabText(TabControl(dialog), 0), "ScanPort");
        EXPECT_EQ(TabText(TabControl(dialog), 1), "Lamp Control");
        EXPECT_NE(WaitPage(dialog, 502), nullptr) << "the ScanPort page is not shown";
        EXPECT_EQ(WindowText(GetDlgItem(dialog, IDOK)), "Close");
        CloseWithButton(utility, dialog);
    }
}

TEST_F(StartupTest, SecondStartActivatesTheFirstAndLoadsNothing) {
    TraceSession trace;
    StandardIni(TraceDevcmdPath());
    START_UTILITY(first, dialog);
    ASSERT_NE(WaitPage(dialog, 401), nullptr);
    const size_t logBefore = scanner.Log().size();

    Utility second;
    ASSERT_TRUE(second.Start());
    DWORD code = 99;
    ASSERT_TRUE(second.WaitEnd(GUI_TIMEOUT_MS, &code)) << "the second copy did not end";
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(TraceOf(trace.path, second.pi.dwProcessId), Names{}) << "the second copy called a library";
    EXPECT_EQ(scanner.Log().size(), logBefore);
    EXPECT_EQ(ProcessDialogs(first.pi.dwProcessId).size(), 1u);
    EXPECT_EQ(GetForegroundWindow(), dialog);
    CloseWithButton(first, dialog);
}

TEST_F(StartupTest, AtExitPaintUnregisterThenReleaseThenClose) {
    TraceSession trace;
    StandardIni(TraceDevcmdPath());
    OwnDevcmd own;
    ASSERT_NE(own.entry, nullptr);
    const uint16_t openBefore = DevcmdOpenCount(own.module);
    {
        START_UTILITY(utility, dialog);
        ASSERT_NE(WaitPage(dialog, 401), nullptr);
        ClearLog();
        CloseWithButton(utility, dialog);
        const Names calls = TraceOf(trace.path, utility.pi.dwProcessId);
        const Names start = {"load devcmd", "devcmd 0", "devcmd 2", "devcmd 15", "devcmd 21.0", "Paint_Register"};
        ASSERT_GE(calls.size(), start.size() + 3);
        EXPECT_EQ(Names(calls.begin(), calls.begin() + start.size()), start);
        EXPECT_EQ(Names(calls.end() - 3, calls.end()), (Names{"Paint_Unregister", "devcmd 20", "devcmd 1"}));
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "Paint_Unregister"), 1);
    }
    // SC_RELEASE reached the driver; SC_CLOSE reached the library.
    EXPECT_EQ(CodeNames(scanner.Log()), Names{"RELEASE"});
    EXPECT_EQ(scanner.Status().ownerId, 0);
    EXPECT_EQ(DevcmdOpenCount(own.module), openBefore);
}

TEST_F(StartupTest, WithoutThePaintingLibraryTheLampPageStillWorks) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    // No library in the folder; a folder whose joined path would not fit
    // the 260 characters of a path (it is not cut to another file's name).
    const std::string dirs[] = {std::string(temp) + "no_painting_library_here\\",
                                "C:\\" + std::string(250, 'p') + "\\"};
    for (const std::string &dir : dirs) {
        SCOPED_TRACE(dir.size());
        WriteIni(IniText(DevcmdPath(), dir, {"378"}));
        START_UTILITY(utility, dialog);
        ClickTab(TabControl(dialog), 1);
        HWND page = WaitPage(dialog, 605);
        ASSERT_NE(page, nullptr);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, 605)));
        ClearLog();
        PostClick(page, 604);
        ASSERT_TRUE(WaitUntil([&] { return !IsWindowEnabled(GetDlgItem(page, 605)); }, GUI_TIMEOUT_MS))
            << "choosing Turn off Lamp did not take";
        CloseWithButton(utility, dialog);
        const std::vector<PortServiceRequest> sent = PortRequests(scanner.Log());
        ASSERT_EQ(sent.size(), 2u);
        EXPECT_EQ(sent[0].subCode, SCP_LAMP_OFF);
        EXPECT_EQ(sent[1].subCode, SCP_SET_LAMP_TIMEOUT);
        EXPECT_EQ(sent[1].seconds, 600u);
    }
}

}  // namespace
