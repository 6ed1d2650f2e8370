// The port pages driven through their windows, with the virtual scanner's
// log as the witness of the port tests sent.
#include <windows.h>

#include "scanner_commander.h"
#include "utility_fixture.h"

namespace {

using Pairs = std::vector<std::pair<uint16_t, uint16_t>>;

Pairs TestsSent(const std::vector<VscLogEntry> &log) {
    Pairs pairs;
    for (const PortServiceRequest &r : PortRequests(log, SCP_TEST_PORT)) pairs.push_back({r.address, r.mode});
    return pairs;
}

std::string ComboItem(HWND combo, int index) {
    wchar_t text[64] = L"";
    if (SendMessageW(combo, CB_GETLBTEXT, WPARAM(index), LPARAM(text)) == CB_ERR) return "<none>";
    char out[64] = "";
    WideCharToMultiByte(CP_ACP, 0, text, -1, out, sizeof(out), nullptr, nullptr);
    return out;
}

std::vector<std::string> ComboItems(HWND combo) {
    std::vector<std::string> items;
    const int n = int(SendMessageA(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) items.push_back(ComboItem(combo, i));
    return items;
}

class IoVerifyPageTest : public UtilityTest {};

TEST_F(IoVerifyPageTest, AutoSearchFindsTheScannerAt278Spp) {
    StandardIni();
    ASSERT_EQ(VscSetPort(scanner.device, 0xFFFF, 0), 0u);  // no port setting at start
    START_UTILITY(utility, dialog);
    HWND page = WaitPage(dialog, 401);
    ASSERT_NE(page, nullptr);
    // Undefined at start: 378h and SPP selected, nothing shown as current.
    EXPECT_TRUE(IsChecked(page, 401));
    EXPECT_TRUE(IsChecked(page, 407));
    EXPECT_EQ(ItemText(page, 404), "Undefine");
    EXPECT_EQ(ItemText(page, 405), "Unknow");

    ASSERT_EQ(VscSetPort(scanner.device, 0x278, PORT_MODE_SPP), 0u);
    ClearLog();
    PostClick(page, 211);
    std::string caption;
    EXPECT_EQ(TakeMessageBox(utility.pi.dwProcessId, &caption), "Scanner connection has established!");
    EXPECT_EQ(caption, "Scanner Utility");
    EXPECT_EQ(TestsSent(scanner.Log()), (Pairs{{0x378, 0}, {0x378, 1}, {0x278, 0}, {0x278, 1}}));
    EXPECT_FALSE(IsChecked(page, 401));
    EXPECT_TRUE(IsChecked(page, 402));
    EXPECT_FALSE(IsChecked(page, 406));
    EXPECT_TRUE(IsChecked(page, 407));
    EXPECT_EQ(WindowText(GetDlgItem(page, 402)), "&278h");
    EXPECT_EQ(WindowText(GetDlgItem(page, 407)), "&SPP");
    EXPECT_EQ(ItemText(page, 404), "278");
    EXPECT_EQ(ItemText(page, 405), "SPP");

    // A selection without a test survives leaving the page and comes back
    // as the selection and as what the page shows.
    PostClick(page, 403);
    PostClick(page, 406);
    ASSERT_TRUE(WaitUntil([&] { return IsChecked(page, 403) && IsChecked(page, 406); }, GUI_TIMEOUT_MS));
    ClickTab(TabControl(dialog), 1);
    ASSERT_NE(WaitPage(dialog, 605), nullptr);
    ClickTab(TabControl(dialog), 0);
    page = WaitPage(dialog, 401);
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(IsChecked(page, 403));
    EXPECT_TRUE(IsChecked(page, 406));
    EXPECT_EQ(ItemText(page, 404), "3bc");
    EXPECT_EQ(ItemText(page, 405), "EPP");
    ClearLog();
    CloseWithButton(utility, dialog);
    EXPECT_EQ(PortRequests(scanner.Log()).size(), 0u) << "an untested selection was sent";
}

TEST_F(IoVerifyPageTest, FailedSettingsReadStartsAt378EppWithTheLampOn) {
    StandardIni();
    VscFault fault = {VSC_FAULT_FAIL, IOCTL_SCANNER_PORT_SERVICE, 1, 0xC0000001u, 0};
    ASSERT_EQ(VscAddFault(scanner.device, fault), 0u);
    START_UTILITY(utility, dialog);
    EXPECT_EQ(WindowText(dialog), "Scanner Utility");
    HWND page = WaitPage(dialog, 401);
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(IsChecked(page, 401));
    EXPECT_TRUE(IsChecked(page, 406));
    EXPECT_EQ(ItemText(page, 404), "378");
    EXPECT_EQ(ItemText(page, 405), "EPP");
    ClickTab(TabControl(dialog), 1);
    HWND lamp = WaitPage(dialog, 605);
    ASSERT_NE(lamp, nullptr);
    EXPECT_EQ(ItemText(lamp, 605), "5");
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowEnabled(GetDlgItem(lamp, 605)); }, GUI_TIMEOUT_MS));
    CloseWithButton(utility, dialog);
}

TEST_F(IoVerifyPageTest, AutoSearchWithTheScannerNowhereSendsSixTestsAndChangesNothing) {
    StandardIni();
    START_UTILITY(utility, dialog);
    HWND page = WaitPage(dialog, 401);
    ASSERT_NE(page, nullptr);
    // The scanner answered at 278h SPP when the utility started.
    ASSERT_EQ(ItemText(page, 404), "278");
    PostClick(page, 403);  // a selection without a test
    ASSERT_TRUE(WaitUntil([&] { return IsChecked(page, 403); }, GUI_TIMEOUT_MS));
    ASSERT_EQ(VscSetPort(scanner.device, 0xFFFF, 0), 0u);
    ClearLog();
    PostClick(page, 211);
    EXPECT_EQ(TakeMessageBox(utility.pi.dwProcessId), "Cannot establish the scanner connection!");
    EXPECT_EQ(TestsSent(scanner.Log()),
              (Pairs{{0x378, 0}, {0x378, 1}, {0x278, 0}, {0x278, 1}, {0x3BC, 0}, {0x3BC, 1}}));
    EXPECT_TRUE(IsChecked(page, 403));
    EXPECT_TRUE(IsChecked(page, 407));
    EXPECT_EQ(ItemText(page, 404), "278");
    EXPECT_EQ(ItemText(page, 405), "SPP");

    // Verify Port tests the selection alone; an untested selection is
    // never sent at Close.
    PostClick(page, 406);
    ASSERT_TRUE(WaitUntil([&] { return IsChecked(page, 406); }, GUI_TIMEOUT_MS));
    ClearLog();
    PostClick(page, 210);
    EXPECT_EQ(TakeMessageBox(utility.pi.dwProcessId), "Cannot establish the scanner connection!");
    EXPECT_EQ(TestsSent(scanner.Log()), (Pairs{{0x3BC, 0}}));
    ClearLog();
    CloseWithButton(utility, dialog);
    EXPECT_EQ(PortRequests(scanner.Log()).size(), 0u);
}

class ScanPortPageTest : public UtilityTest {
protected:
    void SetUp() override { ASSERT_EQ(VscSetProfile(scanner.device, "scanport"), 0u); }
};

TEST_F(ScanPortPageTest, ListsTheEntriesInOrderAndSearchesFromTheCurrentOne) {
    WriteIni(IniText(DevcmdPath(), InstallDir() + "\\", {"378", "278", "3BC", "2A0", "3e0"}));
    ASSERT_EQ(VscSetPort(scanner.device, 0x3BC, PORT_MODE_EPP), 0u);  // set to 3BC at start
    START_UTILITY(utility, dialog);
    HWND page = WaitPage(dialog, 502);
    ASSERT_NE(page, nullptr);
    HWND list = GetDlgItem(page, 502);
    EXPECT_EQ(ComboItems(list), (std::vector<std::string>{"0x378", "0x278", "0x3bc", "0x2a0", "0x3e0"}));
    EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(ItemText(page, 501), "3bc");
    EXPECT_EQ(ItemText(page, 503), "Good");

    ASSERT_EQ(VscSetPort(scanner.device, 0x2A0, PORT_MODE_EPP), 0u);  // now it answers at 2A0 only
    ClearLog();
    PostClick(page, 211);
    EXPECT_EQ(TakeMessageBox(utility.pi.dwProcessId), "Scanner connection has established!");
    // 3BC first, the first entry in its place; the mode is always asked as 0.
    EXPECT_EQ(TestsSent(scanner.Log()), (Pairs{{0x3BC, 0}, {0x278, 0}, {0x378, 0}, {0x2A0, 0}}));
    EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 3);
    EXPECT_EQ(ItemText(page, 501), "2a0");
    EXPECT_EQ(ItemText(page, 503), "Good");

    ASSERT_EQ(VscSetPort(scanner.device, 0xFFFF, 0), 0u);
    ClearLog();
    PostClick(page, 211);
    EXPECT_EQ(TakeMessageBox(utility.pi.dwProcessId), "Scanner not found!");
    EXPECT_EQ(TestsSent(scanner.Log()), (Pairs{{0x2A0, 0}, {0x278, 0}, {0x3BC, 0}, {0x378, 0}, {0x3E0, 0}}));
    EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 3);

    // Verify Port tests the selected entry and keeps the selection.
    SendMessageA(list, CB_SETCURSEL, 1, 0);
    ClearLog();
    PostClick(page, 210);
    EXPECT_EQ(TakeMessageBox(utility.pi.dwProcessId), "Cannot establish the scanner connection!");
    EXPECT_EQ(TestsSent(scanner.Log()), (Pairs{{0x278, 0}}));
    EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 1);
    CloseWithButton(utility, dialog);
}

TEST_F(ScanPortPageTest, UndefinedPortSelectsTheFirstEntryAndShowsFailure) {
    StandardIni();
    ASSERT_EQ(VscSetPort(scanner.device, 0xFFFF, 0), 0u);
    START_UTILITY(utility, dialog);
    HWND page = WaitPage(dialog, 502);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(SendMessageA(GetDlgItem(page, 502), CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(ItemText(page, 501), "378");
    EXPECT_EQ(ItemText(page, 503), "Failure");
    CloseWithButton(utility, dialog);
}

TEST_F(ScanPortPageTest, AGapEndsTheListAndVerifyWithNothingSelectedSendsNothing) {
    // Keys 0 and 1, no 2, then 3: the list ends at the gap.
    WriteIni("[ScanDLL]\r\nDLL32=" + DevcmdPath() + "\r\n[MervixSystem]\r\nDLL32=" + InstallDir() +
             "\\\r\n[ScannerInfo]\r\n0=378\r\n1=278\r\n3=2A0\r\n");
    START_UTILITY(utility, dialog);
    HWND page = WaitPage(dialog, 502);
    ASSERT_NE(page, nullptr);
    HWND list = GetDlgItem(page, 502);
    EXPECT_EQ(ComboItems(list), (std::vector<std::string>{"0x378", "0x278"}));
    // The scanner is set to 2A0, which the list does not hold: nothing selected.
    EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(ItemText(page, 501), "2a0");
    ClearLog();
    PostClick(page, 210);
    EXPECT_EQ(TakeMessageBox(utility.pi.dwProcessId), "Cannot establish the scanner connection!");
    EXPECT_EQ(TestsSent(scanner.Log()), Pairs{});
    CloseWithButton(utility, dialog);
}

TEST_F(ScanPortPageTest, MoreThanFortyKeysOfferTheFirstForty) {
    std::vector<std::string> keys;
    for (int i = 0; i < 45; ++i) keys.push_back(i == 42 ? "2A0" : "100");
    WriteIni(IniText(DevcmdPath(), InstallDir() + "\\", keys));
    START_UTILITY(utility, dialog);
    HWND page = WaitPage(dialog, 502);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(SendMessageA(GetDlgItem(page, 502), CB_GETCOUNT, 0, 0), 40);
    ClearLog();
    PostClick(page, 211);
    EXPECT_EQ(TakeMessageBox(utility.pi.dwProcessId), "Scanner not found!");
    EXPECT_EQ(TestsSent(scanner.Log()).size(), 40u);
    CloseWithButton(utility, dialog);
}

}  // namespace
