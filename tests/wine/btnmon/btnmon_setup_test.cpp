// The "Scan Button Setup" dialog opened by "btnmon /S" in a running
// monitor and driven from this process over a Start-menu tree made here.
#include <windows.h>

#include <commctrl.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "btnmon_support.h"

namespace {

std::string Quote(const std::string &s) { return "\"" + s + "\""; }

void DeleteTree(const std::string &path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string child = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

// Folders below Programs that the prefix brought along, with their depth
// walk; the tree this test adds comes on top of them.
void ListFolders(const std::string &path, std::vector<std::string> *names) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (found.cFileName[0] == '.' || !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        names->push_back(found.cFileName);
        ListFolders(path + "\\" + found.cFileName, names);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

const char *const TOP_FOLDERS[] = {"Btn Scanner Tools", "Btn Office", "Btn Empty", ".Btn Hidden", "Oravine Scanner"};

struct SetupTest : ::testing::Test {
    VirtualScanner scanner;
    FileRestorer settings{SettingsPath()};
    FileRestorer mervix{WindowsDir() + "\\MERVIX.INI"};
    std::string programs = ProgramsDir();
    std::string proof = BinDir() + "\\btnmon_proof.txt";
    std::vector<std::string> before;  // folders below Programs before the tree

    std::string P(const std::string &rest) { return programs + "\\" + rest; }
    void Link(const std::string &rest, const std::string &target, const std::string &tag) {
        ASSERT_TRUE(MakeShortcut(P(rest), target, Quote(proof) + " " + tag)) << rest;
    }

    void SetUp() override {
        ASSERT_FALSE(programs.empty());
        ASSERT_EQ(MonitorWindow(), nullptr) << "a monitor is already running";
        ASSERT_EQ(FindWindowA("MS_WINHELP", nullptr), nullptr) << "a help viewer is already running";
        for (const char *top : TOP_FOLDERS) DeleteTree(P(top));
        ListFolders(programs, &before);
        for (const char *dir : {"Btn Scanner Tools", "Btn Scanner Tools\\Extras", "Btn Scanner Tools\\Deep",
                                "Btn Scanner Tools\\Deep\\Deeper", "Btn Office", "Btn Office\\Extras",
                                "Btn Office\\oravine scanner", "Btn Office\\oravine scanner\\Sub", "Btn Empty",
                                ".Btn Hidden", ".Btn Hidden\\Inside", "Oravine Scanner"})
            ASSERT_TRUE(CreateDirectoryA(P(dir).c_str(), nullptr)) << dir;
        Link("Btn Scanner Tools\\Scan Probe.lnk", ProbeExe(), "scan-probe");
        Link("Btn Scanner Tools\\Broken.lnk", "C:\\nowhere\\gone.exe", "broken");
        Link("Btn Scanner Tools\\Viewer.lnk", MonitorExe(), "viewer");
        Link("Btn Scanner Tools\\Extras\\Extra Probe.lnk", ProbeExe(), "extra");
        Link("Btn Scanner Tools\\Deep\\Deeper\\Deep Probe.lnk", ProbeExe(), "deep");
        Link("Btn Office\\Office Probe.lnk", ProbeExe(), "office");
        Link("Btn Office\\Extras\\Zeta.lnk", ProbeExe(), "zeta");
        Link("Btn Office\\Extras\\Alpha.lnk", ProbeExe(), "alpha");
        Link("Btn Office\\oravine scanner\\Sub\\Hidden.lnk", ProbeExe(), "hidden");
        Link(".Btn Hidden\\Inside\\Inside.lnk", ProbeExe(), "inside");
        Link("Oravine Scanner\\Suite.lnk", ProbeExe(), "suite");
        DeleteFileA(proof.c_str());
        WriteMervix("Oravine Scanner");
    }
    void TearDown() override {
        ScreenshotIfFailed();
        for (const char *top : TOP_FOLDERS) DeleteTree(P(top));
        DeleteFileA(proof.c_str());
    }
    void WriteMervix(const std::string &group) {
        std::string body = "[ScanDLL]\r\nDLL32=" + InstallDir() + "\\devcmd.dll\r\n[MervixSystem]\r\n";
        if (!group.empty()) body += "Group=" + group + "\r\n";
        const std::string path = WindowsDir() + "\\MERVIX.INI";
        ASSERT_TRUE(WriteWholeFile(path, body));
    }
    void WriteSettings(const std::string &body) {
        ASSERT_TRUE(WriteWholeFile(SettingsPath(), body));
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, SettingsPath().c_str());
    }
    std::string StoredSection() {
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, SettingsPath().c_str());
        char section[4096] = {};
        DWORD n = GetPrivateProfileSectionA("Action", section, sizeof(section), SettingsPath().c_str());
        std::string s(section, n);
        for (char &c : s)
            if (c == 0) c = '|';
        return s;
    }
    bool DialogGone(HWND dialog) {
        return WaitUntil([&] { return !IsWindow(dialog); }, 10000);
    }
    std::vector<std::string> Expected(std::vector<std::string> mine) {
        std::vector<std::string> all = before;
        all.insert(all.end(), mine.begin(), mine.end());
        all.push_back("Programs");
        return all;
    }
};

bool SortedIgnoringCase(const std::vector<std::string> &texts) {
    for (size_t i = 1; i < texts.size(); ++i)
        if (lstrcmpiA(texts[i - 1].c_str(), texts[i].c_str()) > 0) return false;
    return true;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

TEST_F(SetupTest, GroupListHoldsEveryFolderSortedWithoutDotAndLeftOutFolders) {
    struct Case {
        const char *group;  // [MervixSystem] Group
        std::vector<std::string> mine;
    } cases[] = {
        {"Oravine Scanner",
         {"Btn Empty", "Btn Office", "Btn Scanner Tools", "Deep", "Deeper", "Extras", "Extras"}},
        // Left out in another case: the Group folder is then listed, and
        // another one goes with everything below it.
        {"btn OFFICE",
         {"Btn Empty", "Btn Scanner Tools", "Deep", "Deeper", "Extras", "Oravine Scanner"}},
        {"", {"Btn Empty", "Btn Office", "Btn Scanner Tools", "Deep", "Deeper", "Extras", "Extras",
              "oravine scanner", "Oravine Scanner", "Sub"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("Group=") + c.group);
        WriteMervix(c.group);
        MonitorProcess monitor;
        ASSERT_NE(monitor.StartAndWait(), nullptr);
        HWND dialog = OpenSetup(monitor);
        ASSERT_NE(dialog, nullptr);
        std::vector<std::string> groups = ComboTexts(GetDlgItem(dialog, ID_GROUP_COMBO));
        EXPECT_TRUE(SortedIgnoringCase(groups)) << ::testing::PrintToString(groups);
        EXPECT_EQ(Sorted(groups), Sorted(Expected(c.mine))) << ::testing::PrintToString(groups);
        // Mine in their sorted places (the lists above are written sorted).
        std::vector<std::string> mineShown;
        for (const std::string &g : groups)
            if (std::find(c.mine.begin(), c.mine.end(), g) != c.mine.end()) mineShown.push_back(g);
        ASSERT_EQ(mineShown.size(), c.mine.size());
        for (size_t i = 0; i < c.mine.size(); ++i)
            EXPECT_EQ(lstrcmpiA(mineShown[i].c_str(), c.mine[i].c_str()), 0) << i << ": " << mineShown[i];
        for (const std::string &g : groups) {
            EXPECT_NE(g[0], '.') << g;
            EXPECT_NE(g, "Inside");
        }
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        EXPECT_TRUE(DialogGone(dialog));
    }
}

TEST_F(SetupTest, StoredActionIsPreselectedAndAGroupChangeTakesItsFirstShortcut) {
    struct Case {
        std::string value;
        const char *group, *item;
        std::vector<std::string> items;
    } cases[] = {
        {P("Btn Scanner Tools\\Deep\\Deeper\\Deep Probe.lnk"), "Deeper", "Deep Probe", {"Deep Probe"}},
        {P("Btn Scanner Tools\\Viewer.lnk"), "Btn Scanner Tools", "Viewer", {"Broken", "Scan Probe", "Viewer"}},
        // A shortcut lost since: its group, first shortcut.
        {P("Btn Scanner Tools\\Gone.lnk"), "Btn Scanner Tools", "Broken", {"Broken", "Scan Probe", "Viewer"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        WriteSettings("[Action]\r\nMy Scanning=" + c.value + "\r\n");
        MonitorProcess monitor;
        ASSERT_NE(monitor.StartAndWait(), nullptr);
        HWND dialog = OpenSetup(monitor);
        ASSERT_NE(dialog, nullptr);
        HWND combo = GetDlgItem(dialog, ID_GROUP_COMBO), list = GetDlgItem(dialog, ID_ITEM_LIST);
        HWND name = GetDlgItem(dialog, ID_APP_NAME);
        EXPECT_EQ(ComboSelectedText(combo), c.group);
        std::vector<std::string> labels = ItemLabels(list);
        EXPECT_EQ(labels, c.items);
        int selected = SelectedItem(list);
        ASSERT_GE(selected, 0);
        EXPECT_EQ(labels[size_t(selected)], c.item);
        // The label, not the stored application name.
        EXPECT_EQ(WindowText(name), c.item);
        EXPECT_EQ(FocusOf(dialog), list);

        ASSERT_TRUE(ChooseGroup(dialog, "Btn Office"));
        EXPECT_EQ(ItemLabels(list), std::vector<std::string>{"Office Probe"});
        EXPECT_EQ(SelectedItem(list), 0);
        EXPECT_EQ(WindowText(name), "Office Probe");
        // The stored shortcut's name is spent by the first filling.
        ASSERT_TRUE(ChooseGroup(dialog, c.group));
        EXPECT_EQ(SelectedItem(list), 0);
        EXPECT_EQ(WindowText(name), c.items[0]);
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        EXPECT_TRUE(DialogGone(dialog));
    }
}

TEST_F(SetupTest, OkStoresExactlyOneEntryThatTheNextPressLaunches) {
    const std::string before = "[Action]\r\nOld One=" + P("Btn Office\\Office Probe.lnk") +
                               "\r\nOld Two=C:\\x.lnk\r\n[Other]\r\nk=v\r\n";
    WriteSettings(before);
    MonitorProcess monitor;
    ASSERT_NE(monitor.StartAndWait(), nullptr);
    HWND dialog = OpenSetup(monitor);
    ASSERT_NE(dialog, nullptr);
    HWND list = GetDlgItem(dialog, ID_ITEM_LIST), name = GetDlgItem(dialog, ID_APP_NAME);
    ASSERT_TRUE(ChooseGroup(dialog, "Btn Scanner Tools"));
    ASSERT_EQ(ItemLabels(list)[1], "Scan Probe");
    ASSERT_TRUE(SelectItem(list, 1));
    EXPECT_EQ(WindowText(name), "Scan Probe");
    // A name over 79 characters is stored as its first 79.
    const std::string longName = std::string(70, 'N') + "0123456789ABCDEFGHIJ";
    SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(longName.c_str()));
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(DialogGone(dialog));
    EXPECT_EQ(StoredSection(), longName.substr(0, 79) + "=" + P("Btn Scanner Tools\\Scan Probe.lnk") + "|");
    char other[8] = "";
    GetPrivateProfileStringA("Other", "k", "", other, sizeof(other), SettingsPath().c_str());
    EXPECT_STREQ(other, "v");

    ASSERT_TRUE(WaitPolls(scanner, 1));
    ASSERT_EQ(Vscanctl("button down"), 0u);
    EXPECT_TRUE(WaitUntil([&] { return LineCount(proof) >= 1; }, 10000));
    ASSERT_EQ(Vscanctl("button up"), 0u);
    EXPECT_NE(ReadWholeFile(proof).find("scan-probe"), std::string::npos) << ReadWholeFile(proof);
}

TEST_F(SetupTest, DoubleClickActsAsOk) {
    WriteSettings("");
    MonitorProcess monitor;
    ASSERT_NE(monitor.StartAndWait(), nullptr);
    HWND dialog = OpenSetup(monitor);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(ChooseGroup(dialog, "Btn Office"));
    DoubleClickItem(GetDlgItem(dialog, ID_ITEM_LIST), 0);
    ASSERT_TRUE(DialogGone(dialog));
    EXPECT_EQ(StoredSection(), "Office Probe=" + P("Btn Office\\Office Probe.lnk") + "|");
}

TEST_F(SetupTest, EmptyGroupOrEmptyNameOnlyBeepsAndKeepsTheDialog) {
    const std::string body = "[Action]\r\nKeep=" + P("Btn Office\\Office Probe.lnk") + "\r\n";
    WriteSettings(body);
    MonitorProcess monitor;
    ASSERT_NE(monitor.StartAndWait(), nullptr);
    HWND dialog = OpenSetup(monitor);
    ASSERT_NE(dialog, nullptr);
    HWND list = GetDlgItem(dialog, ID_ITEM_LIST), name = GetDlgItem(dialog, ID_APP_NAME);
    ASSERT_TRUE(ChooseGroup(dialog, "Btn Empty"));
    EXPECT_TRUE(ItemLabels(list).empty());
    EXPECT_EQ(SelectedItem(list), -1);
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_EQ(FocusOf(dialog), name);
    // A shortcut chosen but no name, or a name that could not be read back
    // as its key: the same.
    ASSERT_TRUE(ChooseGroup(dialog, "Btn Office"));
    for (const char *text : {"", "a=b", "[Action]", ";x"}) {
        SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
        SendMessageA(dialog, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(IsWindow(dialog)) << text;
    }
    EXPECT_EQ(ReadWholeFile(SettingsPath()), body);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(DialogGone(dialog));
    EXPECT_EQ(ReadWholeFile(SettingsPath()), body);
}

TEST_F(SetupTest, CancelCloseBoxAndEscapeLeaveTheSettingsAsTheyWere) {
    const std::string body = "; mine\r\n[Action]\r\nKeep = " + P("Btn Office\\Office Probe.lnk") + "\r\n[Other]\r\nk=v";
    WriteSettings(body);
    MonitorProcess monitor;
    ASSERT_NE(monitor.StartAndWait(), nullptr);
    for (const char *how : {"cancel", "close box", "escape"}) {
        SCOPED_TRACE(how);
        HWND dialog = OpenSetup(monitor);
        ASSERT_NE(dialog, nullptr);
        HWND list = GetDlgItem(dialog, ID_ITEM_LIST);
        ASSERT_TRUE(ChooseGroup(dialog, "Btn Scanner Tools"));
        if (strcmp(how, "cancel") == 0) {
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
        } else if (strcmp(how, "close box") == 0) {
            PostMessageA(dialog, WM_SYSCOMMAND, 0xF060, 0);
        } else {
            PostMessageA(list, WM_KEYDOWN, VK_ESCAPE, 0);
        }
        ASSERT_TRUE(DialogGone(dialog));
        EXPECT_EQ(ReadWholeFile(SettingsPath()), body);
        EXPECT_EQ(WaitForSingleObject(monitor.pi.hProcess, 0), DWORD(WAIT_TIMEOUT));
    }
}

TEST_F(SetupTest, EveryShortcutHasAnIconTheDefaultOneWhereTheTargetIsMissing) {
    Link("Btn Scanner Tools\\Broken Too.lnk", "C:\\nowhere\\other.exe", "broken");
    WriteSettings("");
    MonitorProcess monitor;
    ASSERT_NE(monitor.StartAndWait(), nullptr);
    HWND dialog = OpenSetup(monitor);
    ASSERT_NE(dialog, nullptr);
    HWND list = GetDlgItem(dialog, ID_ITEM_LIST);
    ASSERT_TRUE(ChooseGroup(dialog, "Btn Scanner Tools"));
    std::vector<std::string> labels = ItemLabels(list);
    ASSERT_EQ(Sorted(labels), (std::vector<std::string>{"Broken", "Broken Too", "Scan Probe", "Viewer"}));
    // Unselected, so that no item is drawn highlighted.
    ASSERT_TRUE(SelectItem(list, -1, false));
    RedrawWindow(list, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    Sleep(500);
    std::vector<std::vector<uint32_t>> icons(labels.size());
    for (size_t i = 0; i < labels.size(); ++i) {
        EXPECT_EQ(ItemImage(list, int(i)), int(i));
        icons[i] = ItemIconPixels(list, int(i));
        ASSERT_FALSE(icons[i].empty());
        // Something is drawn: not one flat colour.
        EXPECT_NE(std::count(icons[i].begin(), icons[i].end(), icons[i][0]), long(icons[i].size())) << labels[i];
    }
    auto icon = [&](const char *label) {
        return icons[size_t(std::find(labels.begin(), labels.end(), label) - labels.begin())];
    };
    // The two missing targets and the probe (a program without an icon)
    // show the same default icon; the monitor's own icon differs.
    EXPECT_TRUE(icon("Broken") == icon("Broken Too"));
    EXPECT_TRUE(icon("Broken") == icon("Scan Probe"));
    EXPECT_TRUE(icon("Viewer") != icon("Broken"));
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(DialogGone(dialog));
}

TEST_F(SetupTest, HelpOpensTheContentsAndClosingTheDialogClosesIt) {
    WriteSettings("");
    MonitorProcess monitor;
    ASSERT_NE(monitor.StartAndWait(), nullptr);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        HWND dialog = OpenSetup(monitor);
        ASSERT_NE(dialog, nullptr);
        PostMessageA(dialog, WM_COMMAND, ID_HELP_BUTTON, 0);
        HWND viewer = WaitForWindow("MS_WINHELP", "Scan Button Utility Help", 20000);
        ASSERT_NE(viewer, nullptr);
        HWND text = GetDlgItem(viewer, 0x701);
        EXPECT_TRUE(WaitUntil([&] { return WindowText(text).find("Choosing what the button starts") != std::string::npos; },
                              20000));
        DWORD pid = 0;
        GetWindowThreadProcessId(viewer, &pid);
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        EXPECT_TRUE(DialogGone(dialog));
        bool closed = WaitUntil([] { return FindWindowA("MS_WINHELP", nullptr) == nullptr; }, 20000);
        EXPECT_TRUE(closed) << "the help viewer stayed open";
        if (process) {
            if (!closed) TerminateProcess(process, 1);
            WaitForSingleObject(process, 10000);
            CloseHandle(process);
        }
    }
}

TEST_F(SetupTest, OnlyOneDialogAndTheMonitorKeepsPollingWhileItIsOpen) {
    WriteSettings("[Action]\r\nDeep=" + P("Btn Scanner Tools\\Deep\\Deeper\\Deep Probe.lnk") + "\r\n");
    MonitorProcess monitor;
    ASSERT_NE(monitor.StartAndWait(), nullptr);
    HWND dialog = OpenSetup(monitor);
    ASSERT_NE(dialog, nullptr);
    // A second "/S" and a plain second start: no second dialog, no second monitor.
    DWORD code = 999;
    EXPECT_TRUE(RunProcess(Quote(MonitorExe()) + " /S", 15000, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(RunProcess(Quote(MonitorExe()), 15000, &code));
    EXPECT_EQ(code, 0u);
    ASSERT_TRUE(WaitPolls(scanner, 2));
    EXPECT_EQ(SetupDialogCount(monitor.Id()), 1);
    EXPECT_TRUE(IsWindow(dialog));
    // A press during setup opens the action stored at that moment.
    ASSERT_EQ(Vscanctl("button down"), 0u);
    EXPECT_TRUE(WaitUntil([&] { return LineCount(proof) >= 1; }, 10000));
    ASSERT_EQ(Vscanctl("button up"), 0u);
    EXPECT_NE(ReadWholeFile(proof).find("deep"), std::string::npos);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(DialogGone(dialog));
}

TEST_F(SetupTest, CloserEndsTheMonitorWithItsDialogOpen) {
    WriteSettings("");
    MonitorProcess monitor;
    ASSERT_NE(monitor.StartAndWait(), nullptr);
    HWND dialog = OpenSetup(monitor);
    ASSERT_NE(dialog, nullptr);
    DWORD code = 999;
    EXPECT_TRUE(RunProcess(Quote(CloserExe()), 15000, &code));
    EXPECT_EQ(code, 0u);
    ASSERT_TRUE(monitor.WaitEnd(10000, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(MonitorWindow(), nullptr);
}

// A shortcut whose joined path would pass 259 characters cannot be stored
// or opened: it is left out, its neighbours stay. A stored value without a
// backslash is all file name and selects the first group.
TEST_F(SetupTest, PathsStayWithinTheirBuffers) {
    // Folder path of 240 characters: room for a file name of 18 more.
    const std::string longFolder = "Btn Office\\" + std::string(240 - programs.size() - 12, 'L');
    ASSERT_EQ(P(longFolder).size(), 240u);
    ASSERT_TRUE(CreateDirectoryA(P(longFolder).c_str(), nullptr));
    Link(longFolder + "\\Fits.lnk", ProbeExe(), "fits");
    const std::string fitsExactly = std::string(14, 'F') + ".lnk";  // 240 + 1 + 18 = 259
    const std::string tooLong = std::string(15, 'T') + ".lnk";      // 260
    for (const std::string *name : {&fitsExactly, &tooLong}) {
        const std::string temp = BinDir() + "\\btnmon_long.lnk";
        ASSERT_TRUE(MakeShortcut(temp, ProbeExe(), ""));
        std::wstring from(temp.begin(), temp.end()), to;
        const std::string target = P(longFolder) + "\\" + *name;
        to.assign(target.begin(), target.end());
        ASSERT_TRUE(MoveFileW(from.c_str(), to.c_str())) << target.size();
    }
    WriteSettings("[Action]\r\nBare=NoBackslash.lnk\r\n");
    MonitorProcess monitor;
    ASSERT_NE(monitor.StartAndWait(), nullptr);
    HWND dialog = OpenSetup(monitor);
    ASSERT_NE(dialog, nullptr);
    HWND combo = GetDlgItem(dialog, ID_GROUP_COMBO), list = GetDlgItem(dialog, ID_ITEM_LIST);
    EXPECT_EQ(ComboSelectedText(combo), ComboTexts(combo)[0]);
    const std::string longName = longFolder.substr(longFolder.find('\\') + 1);
    ASSERT_TRUE(ChooseGroup(dialog, longName));
    std::vector<std::string> labels = Sorted(ItemLabels(list));
    EXPECT_EQ(labels, (std::vector<std::string>{fitsExactly.substr(0, 14), "Fits"}));
    // Choosing the longest one stores its whole path.
    std::vector<std::string> shown = ItemLabels(list);
    int index = int(std::find(shown.begin(), shown.end(), fitsExactly.substr(0, 14)) - shown.begin());
    ASSERT_TRUE(SelectItem(list, index));
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(DialogGone(dialog));
    EXPECT_EQ(StoredSection(), fitsExactly.substr(0, 14) + "=" + P(longFolder) + "\\" + fitsExactly + "|");
}

}  // namespace
