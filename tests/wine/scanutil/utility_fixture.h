// The fixture of the utility's Wine tests: MERVIX.INI and the virtual
// scanner restored after each test, a screenshot when a test fails.
#pragma once

#include <gtest/gtest.h>

#include "scanutil_driving.h"

class UtilityTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (HasFailure()) ScreenshotOnFailure(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    // The session's MERVIX.INI with the given command library.
    void StandardIni(const std::string &scanDll = DevcmdPath()) {
        WriteIni(IniText(scanDll, InstallDir() + "\\", {"378", "2A0", "3BC"}));
    }
    void ClearLog() { ASSERT_EQ(VscClearLog(scanner.device), 0u); }

    FileRestorer ini{IniPath()};
    VirtualScanner scanner;
};

// Starts the utility and waits for its dialog.
#define START_UTILITY(utility, dialog)                                   \
    Utility utility;                                                     \
    ASSERT_TRUE(utility.Start());                                        \
    HWND dialog = WaitUtilityDialog(utility.pi.dwProcessId);             \
    ASSERT_NE(dialog, nullptr) << "the utility dialog did not open"

// Ends the utility with its Close button.
inline void CloseWithButton(Utility &utility, HWND dialog) {
    PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    DWORD code = 99;
    ASSERT_TRUE(utility.WaitEnd(GUI_TIMEOUT_MS, &code)) << "the utility did not end";
    EXPECT_EQ(code, 0u);
}

// Ends the utility with the title bar's close box.
inline void CloseWithCloseBox(Utility &utility, HWND dialog) {
    PostMessageA(dialog, WM_SYSCOMMAND, 0xF060 /* the system menu's close */, 0);
    DWORD code = 99;
    ASSERT_TRUE(utility.WaitEnd(GUI_TIMEOUT_MS, &code)) << "the utility did not end";
    EXPECT_EQ(code, 0u);
}
