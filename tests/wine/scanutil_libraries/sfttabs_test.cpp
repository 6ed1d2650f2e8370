// The tab pack through its exports: tabs added, pages created and
// destroyed on demand through their callbacks, the leave and select
// notices, and a refusal through WM_CANCELMODE or by the page itself.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sfttabs.h"
#include "wine_test_support.h"

namespace {

typedef BOOL(WINAPI *RegisterAppProc)(HINSTANCE);
typedef BOOL(WINAPI *ActivatePageProc)(HWND, HWND, SftTabsPage *, BOOL);
typedef BOOL(WINAPI *DeactivatePageProc)(HWND, HWND);
typedef BOOL(WINAPI *SetPageActiveProc)(HWND, LPARAM, HWND);
typedef void(WINAPI *DestroyProc)(HWND, HWND);

struct Pack {
    HMODULE module;
    RegisterAppProc registerApp, unregisterApp;
    ActivatePageProc activatePage;
    DeactivatePageProc deactivatePage;
    SetPageActiveProc setPageActive;
    DestroyProc destroy;
};
Pack pack;

std::vector<std::string> events;
bool refuseInParent;
bool refuseInPage;
HWND tabControl;
SftTabsPage pages[2];

template <typename T>
T Entry(const char *name) {
    return reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(pack.module, name)));
}

LRESULT CALLBACK PageProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == SFTTABSM_QUERYLEAVE) return refuseInPage ? 1 : 0;
    return DefWindowProcA(w, m, wp, lp);
}

HWND CALLBACK PageCallback(BOOL create, HWND parent, HWND page, LPARAM param) {
    const int index = reinterpret_cast<SftTabsPage *>(param) == &pages[0] ? 0 : 1;
    if (create) {
        if (page) return nullptr;
        events.push_back("create " + std::to_string(index));
        HWND w = CreateWindowExA(0, "SftTabsTestPage", "", WS_CHILD, 0, 0, 100, 60, parent, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
        pack.setPageActive(w, param, nullptr);
        return w;
    }
    if (parent) return page;
    events.push_back("destroy " + std::to_string(index));
    DestroyWindow(page);
    return nullptr;
}

LRESULT CALLBACK ParentProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_COMMAND && reinterpret_cast<HWND>(lp) == tabControl) {
        events.push_back("notice " + std::to_string(HIWORD(wp)));
        if (HIWORD(wp) == SFTTABSN_LEAVING) {
            if (refuseInParent || !pack.deactivatePage(w, tabControl)) SendMessageA(tabControl, WM_CANCELMODE, 0, 0);
        } else if (HIWORD(wp) == SFTTABSN_SELECTED) {
            pack.activatePage(w, tabControl, nullptr, FALSE);
        }
        return 0;
    }
    return DefWindowProcA(w, m, wp, lp);
}

void Click(int index) {
    const LRESULT center = SendMessageA(tabControl, SFTTABSM_GETTABCENTER, WPARAM(index), 0);
    SendMessageA(tabControl, WM_LBUTTONDOWN, MK_LBUTTON, center);
    SendMessageA(tabControl, WM_LBUTTONUP, 0, center);
}

TEST(SftTabs, PagesComeAndGoThroughTheirCallbacksAndASwitchCanBeRefused) {
    pack.module = LoadLibraryA((BinDir() + "\\SFTTB32.DLL").c_str());
    ASSERT_NE(pack.module, nullptr);
    pack.registerApp = Entry<RegisterAppProc>("SftTabs_RegisterApp");
    pack.unregisterApp = Entry<RegisterAppProc>("SftTabs_UnregisterApp");
    pack.activatePage = Entry<ActivatePageProc>("SftTabs_ActivatePage");
    pack.deactivatePage = Entry<DeactivatePageProc>("SftTabs_DeactivatePage");
    pack.setPageActive = Entry<SetPageActiveProc>("SftTabs_SetPageActive");
    pack.destroy = Entry<DestroyProc>("SftTabs_Destroy");
    for (const char *name : {"SftTabs_RegisterDialog", "SftTabs_UnregisterDialog", "SftTabs_HandleDialogMessage"})
        EXPECT_NE(GetProcAddress(pack.module, name), nullptr) << name;
    ASSERT_TRUE(pack.registerApp && pack.unregisterApp && pack.activatePage && pack.deactivatePage &&
                pack.setPageActive && pack.destroy);
    HINSTANCE self = GetModuleHandleA(nullptr);
    ASSERT_TRUE(pack.registerApp(self));

    WNDCLASSA wc = {};
    wc.lpfnWndProc = ParentProc;
    wc.hInstance = self;
    wc.lpszClassName = "SftTabsTestParent";
    RegisterClassA(&wc);
    wc.lpfnWndProc = PageProc;
    wc.lpszClassName = "SftTabsTestPage";
    RegisterClassA(&wc);
    HWND parent = CreateWindowExA(0, "SftTabsTestParent", "", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr, self, nullptr);
    ASSERT_NE(parent, nullptr);
    tabControl = CreateWindowExA(0, SFTTABS_CONTROL_CLASS, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 10, 300, 200, parent,
                                 reinterpret_cast<HMENU>(201), self, nullptr);
    ASSERT_NE(tabControl, nullptr) << "the class SoftelTabControl is not registered";

    EXPECT_EQ(SendMessageA(tabControl, SFTTABSM_ADDTAB, 0, LPARAM("One")), 0);
    EXPECT_EQ(SendMessageA(tabControl, SFTTABSM_ADDTAB, 0, LPARAM("Two")), 1);
    pages[0] = {PageCallback, nullptr};
    pages[1] = {PageCallback, nullptr};
    EXPECT_TRUE(SendMessageA(tabControl, SFTTABSM_SETPAGE, 0, LPARAM(&pages[0])));
    EXPECT_TRUE(SendMessageA(tabControl, SFTTABSM_SETPAGE, 1, LPARAM(&pages[1])));
    EXPECT_FALSE(SendMessageA(tabControl, SFTTABSM_SETPAGE, 2, LPARAM(&pages[1])));
    SftTabsSettings settings = {sizeof(settings), 0, 4, 4};
    EXPECT_TRUE(SendMessageA(tabControl, SFTTABSM_SETSETTINGS, 0, LPARAM(&settings)));

    // Nothing exists before the first activation.
    EXPECT_TRUE(events.empty());
    ASSERT_TRUE(pack.activatePage(parent, tabControl, nullptr, TRUE));
    EXPECT_EQ(events, (std::vector<std::string>{"create 0"}));
    ASSERT_NE(pages[0].window, nullptr);
    EXPECT_TRUE(IsWindowVisible(pages[0].window) || !IsWindowVisible(parent));
    // The page lies inside the tab control's panel, under the tab row.
    RECT tabRect, pageRect;
    GetWindowRect(tabControl, &tabRect);
    GetWindowRect(pages[0].window, &pageRect);
    EXPECT_GE(pageRect.left, tabRect.left);
    EXPECT_GT(pageRect.top, tabRect.top + 10);
    EXPECT_LE(pageRect.right, tabRect.right);
    EXPECT_LE(pageRect.bottom, tabRect.bottom);
    HWND first = pages[0].window;

    // The parent refuses: the tab and its page stay.
    events.clear();
    refuseInParent = true;
    Click(1);
    EXPECT_EQ(events, (std::vector<std::string>{"notice 4"}));
    EXPECT_EQ(SendMessageA(tabControl, SFTTABSM_GETCURRENT, 0, 0), 0);
    EXPECT_TRUE(IsWindow(first));

    // Accepted: the shown page is destroyed, then the new one is created.
    events.clear();
    refuseInParent = false;
    Click(1);
    EXPECT_EQ(events, (std::vector<std::string>{"notice 4", "destroy 0", "notice 5", "create 1"}));
    EXPECT_EQ(SendMessageA(tabControl, SFTTABSM_GETCURRENT, 0, 0), 1);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(pages[0].window, nullptr);
    ASSERT_NE(pages[1].window, nullptr);

    // The page itself refuses to be left.
    events.clear();
    refuseInPage = true;
    Click(0);
    EXPECT_EQ(events, (std::vector<std::string>{"notice 4"}));
    EXPECT_EQ(SendMessageA(tabControl, SFTTABSM_GETCURRENT, 0, 0), 1);
    refuseInPage = false;

    // A click on the shown tab changes nothing.
    events.clear();
    Click(1);
    EXPECT_TRUE(events.empty());

    // Back to the first tab: it is created afresh.
    Click(0);
    EXPECT_EQ(events, (std::vector<std::string>{"notice 4", "destroy 1", "notice 5", "create 0"}));

    char text[SFTTABS_TEXT_CHARS] = "";
    EXPECT_EQ(SendMessageA(tabControl, SFTTABSM_GETTABTEXT, 1, LPARAM(text)), 3);
    EXPECT_STREQ(text, "Two");

    events.clear();
    pack.destroy(parent, tabControl);
    EXPECT_EQ(events, (std::vector<std::string>{"destroy 0"}));
    EXPECT_EQ(pages[0].window, nullptr);

    // The tab row is full at 16.
    for (int i = 2; i < int(SFTTABS_MAX_TABS); ++i) EXPECT_EQ(SendMessageA(tabControl, SFTTABSM_ADDTAB, 0, LPARAM("x")), i);
    EXPECT_EQ(SendMessageA(tabControl, SFTTABSM_ADDTAB, 0, LPARAM("x")), -1);

    DestroyWindow(parent);
    EXPECT_TRUE(pack.unregisterApp(self));
    FreeLibrary(pack.module);
}

}  // namespace
