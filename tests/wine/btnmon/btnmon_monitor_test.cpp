// The button monitor as a user runs it: a real process polling the virtual
// scanner, pressed and released through vscanctl, launching a real
// shortcut to the probe program, steered by its options and btnclose.
#include <windows.h>

#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "btnmon_support.h"

namespace {

const char *const NO_SCANNER_TEXT =
    "Program was unable to load the software for the scanner or the scanner was not connected properly.";

std::string Quote(const std::string &s) { return "\"" + s + "\""; }

DWORD RunMonitorCommand(const std::string &exe, const std::string &tail, bool *ended) {
    DWORD code = 999;
    *ended = RunProcess(Quote(exe) + (tail.empty() ? "" : " " + tail), 15000, &code);
    return code;
}

// Reads "MERVIX.INI" anew in this process after a test rewrote it.
void WriteMervix(const std::string &body) {
    const std::string path = WindowsDir() + "\\MERVIX.INI";
    ASSERT_TRUE(WriteWholeFile(path, body));
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
}

struct MonitorTest : ::testing::Test {
    VirtualScanner scanner;
    FileRestorer settings{SettingsPath()};
    FileRestorer mervix{WindowsDir() + "\\MERVIX.INI"};
    std::string group = ProgramsDir() + "\\BtnmonTest";
    std::string link = group + "\\Probe.lnk";
    std::string proof = BinDir() + "\\btnmon_proof.txt";

    void SetUp() override {
        ASSERT_FALSE(ProgramsDir().empty());
        ASSERT_EQ(MonitorWindow(), nullptr) << "a monitor is already running";
        CreateDirectoryA(group.c_str(), nullptr);
        ASSERT_TRUE(MakeShortcut(link, ProbeExe(), Quote(proof) + " pressed"));
        DeleteFileA(proof.c_str());
        VscClearLog(scanner.device);
    }
    void TearDown() override {
        ScreenshotIfFailed();
        DeleteFileA(link.c_str());
        RemoveDirectoryA(group.c_str());
        DeleteFileA(proof.c_str());
    }
    void WriteSettings(const std::string &body) {
        ASSERT_TRUE(WriteWholeFile(SettingsPath(), body));
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, SettingsPath().c_str());
    }
    bool WaitLaunches(int n) {
        return WaitUntil([&] { return LineCount(proof) >= n; }, 10000, 50);
    }
    void Press() { ASSERT_EQ(Vscanctl("button down"), 0u); }
    void Release() { ASSERT_EQ(Vscanctl("button up"), 0u); }
    // Ends a monitor with btnclose and checks it left with 0.
    void Close(MonitorProcess &monitor) {
        bool ended = false;
        EXPECT_EQ(RunMonitorCommand(CloserExe(), "", &ended), 0u);
        EXPECT_TRUE(ended);
        DWORD code = 999;
        EXPECT_TRUE(monitor.WaitEnd(10000, &code));
        EXPECT_EQ(code, 0u);
    }
};

TEST_F(MonitorTest, PressLaunchesOnceHoweverLongHeldAndAgainOnlyAfterARelease) {
    const std::string body = "[Action]\r\nScan It=" + link + "\r\n";
    WriteSettings(body);
    MonitorProcess monitor;
    ASSERT_NE(monitor.StartAndWait(), nullptr);
    ASSERT_TRUE(WaitPolls(scanner, 2));
    EXPECT_EQ(LineCount(proof), 0);

    Press();
    EXPECT_TRUE(WaitLaunches(1));
    ASSERT_TRUE(WaitPolls(scanner, 4));  // held for four more ticks
    EXPECT_EQ(LineCount(proof), 1);
    Release();
    ASSERT_TRUE(WaitPolls(scanner, 2));
    EXPECT_EQ(LineCount(proof), 1);

    Press();
    EXPECT_TRUE(WaitLaunches(2));
    Release();
    ASSERT_TRUE(WaitPolls(scanner, 2));
    EXPECT_EQ(LineCount(proof), 2);
    EXPECT_NE(ReadWholeFile(proof).find("launched pressed"), std::string::npos);

    // "/D" launches without a press, "/d" too.
    bool ended = false;
    EXPECT_EQ(RunMonitorCommand(MonitorExe(), "/D", &ended), 0u);
    EXPECT_TRUE(ended);
    EXPECT_TRUE(WaitLaunches(3));
    EXPECT_EQ(RunMonitorCommand(MonitorExe(), "/d", &ended), 0u);
    EXPECT_TRUE(WaitLaunches(4));
    EXPECT_EQ(MessageBoxOf(monitor.Id()), nullptr);

    // Launching never rewrites the settings.
    EXPECT_EQ(ReadWholeFile(SettingsPath()), body);

    EXPECT_EQ(RunMonitorCommand(MonitorExe(), "/Q", &ended), 0u);
    DWORD code = 999;
    EXPECT_TRUE(monitor.WaitEnd(10000, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(MonitorWindow(), nullptr);
}

TEST_F(MonitorTest, ButtonDownAtStartLaunchesNothingUntilSeenUp) {
    WriteSettings("[Action]\r\nScan It=" + link + "\r\n");
    Press();
    MonitorProcess monitor;
    ASSERT_NE(monitor.StartAndWait(), nullptr);
    ASSERT_TRUE(WaitPolls(scanner, 4));
    EXPECT_EQ(LineCount(proof), 0);
    Release();
    ASSERT_TRUE(WaitPolls(scanner, 2));
    EXPECT_EQ(LineCount(proof), 0);
    Press();
    EXPECT_TRUE(WaitLaunches(1));
    Release();
    ASSERT_TRUE(WaitPolls(scanner, 1));
    EXPECT_EQ(LineCount(proof), 1);
    Close(monitor);
}

TEST_F(MonitorTest, ScannerThatNeverAnswersOkNeverLaunchesAndShowsNothing) {
    WriteSettings("[Action]\r\nScan It=" + link + "\r\n");
    ASSERT_EQ(Vscanctl("fault fail POLL_BUTTON not-connected 100000"), 0u);
    MonitorProcess monitor;
    ASSERT_NE(monitor.StartAndWait(), nullptr);
    ASSERT_TRUE(WaitPolls(scanner, 2));
    for (int i = 0; i < 2; ++i) {
        Press();
        ASSERT_TRUE(WaitPolls(scanner, 2));
        Release();
        ASSERT_TRUE(WaitPolls(scanner, 1));
    }
    EXPECT_EQ(LineCount(proof), 0);
    EXPECT_EQ(MessageBoxOf(monitor.Id()), nullptr);
    Close(monitor);
}

TEST_F(MonitorTest, OptionsWithoutARunningMonitorDoNothing) {
    WriteSettings("[Action]\r\nScan It=" + link + "\r\n");
    for (const char *tail : {"/S", "/s", "/D", "/d", "/Q", "/q"}) {
        bool ended = false;
        EXPECT_EQ(RunMonitorCommand(MonitorExe(), tail, &ended), 0u) << tail;
        EXPECT_TRUE(ended) << tail;
        EXPECT_EQ(MonitorWindow(), nullptr) << tail;
    }
    for (int i = 0; i < 2; ++i) {
        bool ended = false;
        EXPECT_EQ(RunMonitorCommand(CloserExe(), "", &ended), 0u);
        EXPECT_TRUE(ended);
    }
    Sleep(300);
    EXPECT_EQ(LineCount(proof), 0);
    EXPECT_EQ(MonitorWindow(), nullptr);
}

TEST_F(MonitorTest, SecondStartWithoutAnOptionEndsAndLeavesTheFirst) {
    WriteSettings("[Action]\r\nScan It=" + link + "\r\n");
    MonitorProcess monitor;
    HWND first = monitor.StartAndWait();
    ASSERT_NE(first, nullptr);
    // Anything but a whole option is a plain start.
    for (const char *tail : {"", "/S ", "/Qx", "-q", "/D /S"}) {
        bool ended = false;
        EXPECT_EQ(RunMonitorCommand(MonitorExe(), tail, &ended), 0u) << tail;
        EXPECT_TRUE(ended) << "a second monitor kept running: '" << tail << "'";
        EXPECT_EQ(MonitorWindow(), first) << tail;
    }
    EXPECT_EQ(WaitForSingleObject(monitor.pi.hProcess, 0), DWORD(WAIT_TIMEOUT));
    EXPECT_EQ(LineCount(proof), 0);
    Close(monitor);
}

TEST_F(MonitorTest, UnusableActionsShowMessage66WithTheKey) {
    const std::string missing = group + "\\Missing.lnk";
    struct Case {
        std::string body;
        const char *key;  // null: nothing is shown
    } cases[] = {
        {"[Action]\r\n", nullptr},
        {"[Other]\r\nScan It=" + link + "\r\n", nullptr},
        {"[Action]\r\nScan It=\r\n", "Scan It"},
        {"[Action]\r\nMy Scan Application=" + missing + "\r\n", "My Scan Application"},
        // Only the first key counts.
        {"[Action]\r\nFirst=" + missing + "\r\nSecond=" + link + "\r\n", "First"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.body);
        WriteSettings(c.body);
        MonitorProcess monitor;
        ASSERT_NE(monitor.StartAndWait(), nullptr);
        ASSERT_TRUE(WaitPolls(scanner, 1));
        Press();
        if (c.key) {
            HWND box = WaitMessageBox(monitor.Id(), 10000);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(WindowText(box), MONITOR_CLASS);
            EXPECT_EQ(MessageBoxText(box), std::string("Program was unable to launch '") + c.key + ".'");
            DismissMessageBox(box);
            ASSERT_TRUE(WaitUntil([&] { return MessageBoxOf(monitor.Id()) == nullptr; }, 5000));
        } else {
            ASSERT_TRUE(WaitPolls(scanner, 3));
            EXPECT_EQ(MessageBoxOf(monitor.Id()), nullptr);
        }
        Release();
        // The monitor keeps running after a failed launch.
        ASSERT_TRUE(WaitPolls(scanner, 1));
        EXPECT_EQ(LineCount(proof), 0);
        EXPECT_EQ(ReadWholeFile(SettingsPath()), c.body);
        Close(monitor);
    }
}

TEST_F(MonitorTest, PlaceholdersExpandedAndWrittenBackAtStart) {
    const std::string programs = ProgramsDir(), startup = StartupDir();
    ASSERT_FALSE(startup.empty());
    struct Case {
        std::string value, expanded;  // expanded empty: the file stays as it was
    } cases[] = {
        {"%1\\BtnmonTest\\Probe.lnk", link},
        {"%2\\Scan.lnk", startup + "\\Scan.lnk"},
        {"%1\\a%1.lnk", programs + "\\a" + programs + ".lnk"},
        {"%1\\" + std::string(250, 'x') + ".lnk", ""},  // would not fit
        {link, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        const std::string body = "; the button's action\r\n[Action]\r\nScan It=" + c.value + "\r\n[Other]\r\nk=v";
        WriteSettings(body);
        MonitorProcess monitor;
        ASSERT_NE(monitor.StartAndWait(), nullptr);
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, SettingsPath().c_str());
        if (c.expanded.empty()) {
            EXPECT_EQ(ReadWholeFile(SettingsPath()), body);
        } else {
            char value[MAX_PATH] = "";
            GetPrivateProfileStringA("Action", "Scan It", "", value, sizeof(value), SettingsPath().c_str());
            EXPECT_EQ(value, c.expanded);
            char other[16] = "";
            GetPrivateProfileStringA("Other", "k", "", other, sizeof(other), SettingsPath().c_str());
            EXPECT_STREQ(other, "v");
        }
        if (c.expanded == link || c.value == link) {
            // The value now in the file is the one a press opens; the button
            // must be seen up once first.
            ASSERT_TRUE(WaitPolls(scanner, 1));
            Press();
            EXPECT_TRUE(WaitLaunches(1));
            Release();
            EXPECT_EQ(MessageBoxOf(monitor.Id()), nullptr);
            if (c.value == link) {
                EXPECT_EQ(ReadWholeFile(SettingsPath()), body);
            }
            DeleteFileA(proof.c_str());
        }
        Close(monitor);
    }
}

// Stand-in libraries that log every call and their unload.
std::string StubPath(const char *name) { return BinDir() + "\\" + name + ".dll"; }
std::string StubLog(const char *name) { return BinDir() + "\\" + name + ".log"; }

std::vector<std::string> Lines(const std::string &data) {
    std::vector<std::string> lines;
    size_t from = 0;
    while (from < data.size()) {
        size_t end = data.find("\r\n", from);
        if (end == std::string::npos) end = data.size();
        lines.push_back(data.substr(from, end - from));
        from = end + 2;
    }
    return lines;
}

TEST_F(MonitorTest, CloseRequestsSendCloseFreeTheLibraryAndExitZero) {
    const std::string log = StubLog("btnmon_stub");
    for (const char *closer : {"/Q", "/q", "btnclose"}) {
        SCOPED_TRACE(closer);
        WriteMervix("[ScanDLL]\r\nDLL32=" + StubPath("btnmon_stub") + "\r\n");
        DeleteFileA(log.c_str());
        MonitorProcess monitor;
        ASSERT_NE(monitor.StartAndWait(), nullptr);
        ASSERT_TRUE(WaitUntil([&] { return ReadWholeFile(log).find("cmd 10") != std::string::npos; }, 8000));
        bool ended = false;
        if (strcmp(closer, "btnclose") == 0)
            EXPECT_EQ(RunMonitorCommand(CloserExe(), "", &ended), 0u);
        else
            EXPECT_EQ(RunMonitorCommand(MonitorExe(), closer, &ended), 0u);
        DWORD code = 999;
        ASSERT_TRUE(monitor.WaitEnd(10000, &code));
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(MonitorWindow(), nullptr);

        std::vector<std::string> lines = Lines(ReadWholeFile(log));
        ASSERT_GE(lines.size(), 5u);
        EXPECT_EQ(lines[0], "attach");
        EXPECT_EQ(lines[1], "cmd 0");
        for (size_t i = 2; i + 2 < lines.size(); ++i) EXPECT_EQ(lines[i], "cmd 10") << i;
        EXPECT_EQ(lines[lines.size() - 2], "cmd 1");
        EXPECT_EQ(lines.back(), "detach free") << "the library was not freed before the exit";
    }
    DeleteFileA(log.c_str());
}

TEST_F(MonitorTest, LibraryThatCannotBeBoundShowsMessage65AndEnds) {
    const std::string noEntryLog = StubLog("btnmon_stub_noentry");
    struct Case {
        const char *what;
        std::string mervix;
    } cases[] = {
        {"no DLL32", "[ScanDLL]\r\n[MervixSystem]\r\nDLL32=" + InstallDir() + "\\devcmd.dll\r\n"},
        {"empty DLL32", "[ScanDLL]\r\nDLL32=\r\n"},
        {"missing file", "[ScanDLL]\r\nDLL32=" + InstallDir() + "\\nowhere\\devcmd.dll\r\n"},
        {"no entry", "[ScanDLL]\r\nDLL32=" + StubPath("btnmon_stub_noentry") + "\r\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        WriteMervix(c.mervix);
        DeleteFileA(noEntryLog.c_str());
        MonitorProcess monitor;
        ASSERT_TRUE(monitor.Start());
        HWND box = WaitMessageBox(monitor.Id(), 15000);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(WindowText(box), MONITOR_CLASS);
        EXPECT_EQ(MessageBoxText(box), NO_SCANNER_TEXT);
        DismissMessageBox(box);
        DWORD code = 999;
        ASSERT_TRUE(monitor.WaitEnd(10000, &code));
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(MonitorWindow(), nullptr);
        if (strcmp(c.what, "no entry") == 0) {
            // Loaded, found wanting, freed, never called.
            std::vector<std::string> lines = Lines(ReadWholeFile(noEntryLog));
            EXPECT_EQ(lines, (std::vector<std::string>{"attach", "detach free"}));
        }
    }
    DeleteFileA(noEntryLog.c_str());
}

// Starts the driver again however the test ends.
struct DriverRestarter {
    ~DriverRestarter() { EXPECT_EQ(Vscanctl("start"), 0u); }
};

TEST(MonitorWithoutDriver, StoppedDriverShowsMessage65AndEnds) {
    ASSERT_EQ(MonitorWindow(), nullptr);
    ASSERT_EQ(Vscanctl("stop"), 0u);
    DriverRestarter restart;
    MonitorProcess monitor;
    ASSERT_TRUE(monitor.Start());
    HWND box = WaitMessageBox(monitor.Id(), 15000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), NO_SCANNER_TEXT);
    DismissMessageBox(box);
    DWORD code = 999;
    ASSERT_TRUE(monitor.WaitEnd(10000, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(MonitorWindow(), nullptr);
    ScreenshotIfFailed();
}

}  // namespace
