// The lamp page driven through its windows: what it shows for the lamp-off
// time read at start, the minutes field and arrows, the bitmap buttons,
// and what Close and the close box send.
#include <windows.h>

#include "scanner_commander.h"
#include "utility_fixture.h"

namespace {

class LampPageTest : public UtilityTest {
protected:
    void SetLampOff(uint32_t seconds) {
        VscLamp lamp = {0, 0, 1, seconds};
        ASSERT_EQ(VscSetLamp(scanner.device, lamp), 0u);
    }
    // Opens the lamp tab and waits for its page.
    HWND OpenLampPage(HWND dialog) {
        ClickTab(TabControl(dialog), 1);
        return WaitPage(dialog, 605);
    }
    std::vector<PortServiceRequest> LampRequests() {
        std::vector<PortServiceRequest> out;
        for (const PortServiceRequest &r : PortRequests(scanner.Log()))
            if (r.subCode >= SCP_LAMP_ON && r.subCode <= SCP_SET_LAMP_TIMEOUT) out.push_back(r);
        return out;
    }
    // Focus into the field, new text, then Tab to leave it, as a user types.
    void TypeMinutes(HWND page, const char *text) {
        HWND field = GetDlgItem(page, 605);
        PostMessageA(field, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
        PostMessageA(field, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
        WaitUntil([&] { return false; }, 200);
        SendMessageA(field, WM_SETTEXT, 0, LPARAM(text));
        PostMessageA(field, WM_KEYDOWN, VK_TAB, 0);
        PostMessageA(field, WM_KEYUP, VK_TAB, 0);
        WaitUntil([&] { return false; }, 300);
    }
    void Arrow(HWND page, UINT code) {
        SendMessageA(page, WM_VSCROLL, MAKEWPARAM(code, 0), LPARAM(GetDlgItem(page, 606)));
    }
    bool MinutesEnabled(HWND page) { return IsWindowEnabled(GetDlgItem(page, 605)) && IsWindowEnabled(GetDlgItem(page, 606)); }
};

TEST_F(LampPageTest, TenMinutesShownAndCloseWithoutChangesSendsNothing) {
    StandardIni();
    SetLampOff(600);
    START_UTILITY(utility, dialog);
    HWND page = OpenLampPage(dialog);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(ItemText(page, 605), "10");
    EXPECT_TRUE(MinutesEnabled(page));  // 602 chosen
    EXPECT_EQ(GetScrollPos(GetDlgItem(page, 606), SB_CTL), 10);
    // The painting library gave the buttons their captions.
    EXPECT_EQ(ItemText(page, 602), "Turn Lamp off After...");
    EXPECT_EQ(ItemText(page, 603), "Turn on Lamp");
    EXPECT_EQ(ItemText(page, 604), "Turn off Lamp");
    ClearLog();
    CloseWithButton(utility, dialog);
    EXPECT_EQ(LampRequests().size(), 0u);
}

TEST_F(LampPageTest, LampStayingOnShowsFiveWith603ChosenAndCloseSendsZero) {
    StandardIni();
    SetLampOff(0);
    START_UTILITY(utility, dialog);
    HWND page = OpenLampPage(dialog);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(ItemText(page, 605), "5");
    ASSERT_TRUE(WaitUntil([&] { return !MinutesEnabled(page); }, GUI_TIMEOUT_MS)) << "603 was not drawn chosen";
    ClearLog();
    CloseWithButton(utility, dialog);
    const std::vector<PortServiceRequest> sent = LampRequests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].subCode, SCP_SET_LAMP_TIMEOUT);
    EXPECT_EQ(sent[0].seconds, 0u);
    EXPECT_EQ(scanner.Status().lampOffSeconds, 0u);
}

TEST_F(LampPageTest, LampStayingOnButPageNeverOpenedSendsNothing) {
    StandardIni();
    SetLampOff(0);
    START_UTILITY(utility, dialog);
    ASSERT_NE(WaitPage(dialog, 401), nullptr);
    ClearLog();
    CloseWithButton(utility, dialog);
    EXPECT_EQ(LampRequests().size(), 0u);
}

TEST_F(LampPageTest, ArrowsClampAndSteppingBackClearsTheChange) {
    struct Case {
        uint32_t seconds;
        std::vector<UINT> codes;
        const char *shown;
        int sentSeconds;  // -1: nothing sent
    } cases[] = {
        {600, {SB_LINEUP, SB_LINEDOWN}, "10", -1},  // back to the start: no change
        {600, {SB_LINEUP, SB_LINEUP}, "12", 720},
        {3600, {SB_LINEUP}, "60", -1},             // at 60 up changes nothing
        {60, {SB_LINEDOWN}, "1", -1},              // at 1 down changes nothing
        {5400, {SB_THUMBPOSITION}, "60", 3600},    // 90 minutes read: clamped at the first notice
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.seconds);
        StandardIni();
        SetLampOff(c.seconds);
        START_UTILITY(utility, dialog);
        HWND page = OpenLampPage(dialog);
        ASSERT_NE(page, nullptr);
        for (UINT code : c.codes) Arrow(page, code);
        EXPECT_EQ(ItemText(page, 605), c.shown);
        ClearLog();
        CloseWithButton(utility, dialog);
        const std::vector<PortServiceRequest> sent = LampRequests();
        if (c.sentSeconds < 0) {
            EXPECT_EQ(sent.size(), 0u);
        } else {
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(sent[0].subCode, SCP_SET_LAMP_TIMEOUT);
            EXPECT_EQ(sent[0].seconds, uint32_t(c.sentSeconds));
        }
    }
}

TEST_F(LampPageTest, TypedValuesOutsideTheRangeArePutBackAndAValidOneIsSent) {
    StandardIni();
    SetLampOff(600);
    START_UTILITY(utility, dialog);
    HWND page = OpenLampPage(dialog);
    ASSERT_NE(page, nullptr);
    for (const char *typed : {"75", "0", "x"}) {
        TypeMinutes(page, typed);
        EXPECT_TRUE(WaitUntil([&] { return ItemText(page, 605) == "10"; }, GUI_TIMEOUT_MS))
            << typed << " left " << ItemText(page, 605);
    }
    TypeMinutes(page, "25");
    EXPECT_EQ(ItemText(page, 605), "25");
    ClearLog();
    CloseWithButton(utility, dialog);
    const std::vector<PortServiceRequest> sent = LampRequests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].seconds, 25u * 60u);
}

TEST_F(LampPageTest, TurnOffLampSendsAtOnceAndAsChoiceSendsTheMinutes) {
    StandardIni();
    SetLampOff(600);
    START_UTILITY(utility, dialog);
    HWND page = OpenLampPage(dialog);
    ASSERT_NE(page, nullptr);
    Arrow(page, SB_LINEUP);
    Arrow(page, SB_LINEUP);  // 12 minutes
    ClearLog();
    PostClick(page, 604);
    ASSERT_TRUE(WaitUntil([&] { return LampRequests().size() == 1; }, GUI_TIMEOUT_MS));
    EXPECT_EQ(LampRequests()[0].subCode, SCP_LAMP_OFF);
    EXPECT_TRUE(WaitUntil([&] { return !MinutesEnabled(page); }, GUI_TIMEOUT_MS)) << "604 did not become the choice";
    EXPECT_EQ(ItemText(page, 605), "12");
    CloseWithButton(utility, dialog);
    const std::vector<PortServiceRequest> sent = LampRequests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].subCode, SCP_SET_LAMP_TIMEOUT);
    EXPECT_EQ(sent[1].seconds, 12u * 60u);
}

TEST_F(LampPageTest, TurnOnLampSendsAtOnceAndKeepsTheLampOn) {
    StandardIni();
    SetLampOff(600);
    START_UTILITY(utility, dialog);
    HWND page = OpenLampPage(dialog);
    ASSERT_NE(page, nullptr);
    ClearLog();
    PostClick(page, 603);
    ASSERT_TRUE(WaitUntil([&] { return LampRequests().size() == 1; }, GUI_TIMEOUT_MS));
    EXPECT_EQ(LampRequests()[0].subCode, SCP_LAMP_ON);
    EXPECT_TRUE(WaitUntil([&] { return !MinutesEnabled(page); }, GUI_TIMEOUT_MS));
    // Back to 602: the minutes come back.
    PostClick(page, 602);
    EXPECT_TRUE(WaitUntil([&] { return MinutesEnabled(page); }, GUI_TIMEOUT_MS));
    PostClick(page, 603);
    EXPECT_TRUE(WaitUntil([&] { return !MinutesEnabled(page); }, GUI_TIMEOUT_MS));
    CloseWithButton(utility, dialog);
    const std::vector<PortServiceRequest> sent = LampRequests();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1].subCode, SCP_LAMP_ON);
    EXPECT_EQ(sent[2].subCode, SCP_SET_LAMP_TIMEOUT);
    EXPECT_EQ(sent[2].seconds, 0u);
}

TEST_F(LampPageTest, TheCloseBoxSendsNothing) {
    StandardIni();
    SetLampOff(0);  // Close would send 0
    START_UTILITY(utility, dialog);
    HWND page = OpenLampPage(dialog);
    ASSERT_NE(page, nullptr);
    Arrow(page, SB_LINEUP);
    ClearLog();
    CloseWithCloseBox(utility, dialog);
    EXPECT_EQ(LampRequests().size(), 0u);
    // The utility still released the scanner on the way out.
    EXPECT_EQ(CodeNames(scanner.Log()), std::vector<std::string>{"RELEASE"});
}

TEST_F(LampPageTest, ATypedValueSurvivesLeavingAndReopeningThePage) {
    StandardIni();
    SetLampOff(600);
    START_UTILITY(utility, dialog);
    HWND page = OpenLampPage(dialog);
    ASSERT_NE(page, nullptr);
    TypeMinutes(page, "7");
    ClickTab(TabControl(dialog), 0);
    ASSERT_NE(WaitPage(dialog, 401), nullptr);
    EXPECT_FALSE(IsWindow(page)) << "the lamp page was not destroyed when it was left";
    page = OpenLampPage(dialog);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(ItemText(page, 605), "7");
    ClearLog();
    CloseWithButton(utility, dialog);
    const std::vector<PortServiceRequest> sent = LampRequests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].seconds, 7u * 60u);
}

}  // namespace
