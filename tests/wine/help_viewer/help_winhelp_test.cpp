// DETECT.HLP as the setup dialog's Help button uses it: WinHelpA with
// HELP_CONTENTS opens Wine's help viewer on the contents page, a jump on
// that page leads to the topic it names, and HELP_QUIT closes the viewer.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kHelpTitle[] = "Scan Button Utility Help";  // title: of detect_help.txt
const char kViewerClass[] = "MS_WINHELP";               // what WinHelpA looks for
const int kTopicTextId = 0x701;                         // winhlp32's rich edit child
const DWORD kTimeoutMs = 20000;

std::string ModuleDir() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return {};
  std::string s(path, n);
  return s.substr(0, s.find_last_of('\\') + 1);
}

// The installed copy beside the suite's programs when the session installed
// one, else the built file beside this test.
std::string HelpPath() {
  const char* install = std::getenv("ORV_INSTALL_DIR");
  if (install && *install) {
    std::string p = std::string(install) + "\\DETECT.HLP";
    if (GetFileAttributesA(p.c_str()) != INVALID_FILE_ATTRIBUTES) return p;
  }
  return ModuleDir() + "DETECT.HLP";
}

// Screenshots go to the cross build folder (a Unix path), for a person to look at.
void SaveScreenshot(const char* name) {
  std::string dir;
  if (const char* b = std::getenv("ORV_BUILD_DIR")) dir = b;
  if (dir.empty()) {
    std::printf("no ORV_BUILD_DIR: screenshot %s not saved\n", name);
    return;
  }
  std::string final_png = dir + "/" + name;
  std::string tmp_png = final_png + ".part.png";
  std::string dos_final = "Z:" + final_png;
  DeleteFileA(dos_final.c_str());
  // A Unix program started from Wine gives no handle to wait on: wait for the
  // file that appears only once import has finished writing.
  std::string cmd = "/bin/sh -c \"import -window root '" + tmp_png + "' && mv -f '" + tmp_png +
                    "' '" + final_png + "'\"";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    std::printf("screenshot %s: cannot start import (%lu)\n", name, GetLastError());
    return;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  for (DWORD waited = 0; waited < kTimeoutMs; waited += 100) {
    if (GetFileAttributesA(dos_final.c_str()) != INVALID_FILE_ATTRIBUTES) {
      std::printf("screenshot: %s\n", final_png.c_str());
      return;
    }
    Sleep(100);
  }
  std::printf("screenshot %s: import did not finish\n", name);
}

void PumpFor(DWORD ms) {
  DWORD start = GetTickCount();
  do {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    Sleep(20);
  } while (GetTickCount() - start < ms);
}

std::string WindowText(HWND w) {
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutA(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &len)) return {};
  std::string s(len + 1, '\0');
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutA(w, WM_GETTEXT, s.size(), reinterpret_cast<LPARAM>(s.data()),
                           SMTO_ABORTIFHUNG, 5000, &got))
    return {};
  s.resize(got);
  return s;
}

std::string TopicText(HWND viewer) {
  HWND text = GetDlgItem(viewer, kTopicTextId);
  return text ? WindowText(text) : std::string();
}

HWND WaitForViewer() {
  for (DWORD waited = 0; waited < kTimeoutMs; waited += 100) {
    HWND w = FindWindowA(kViewerClass, kHelpTitle);
    if (w && IsWindowVisible(w)) return w;
    PumpFor(100);
  }
  return nullptr;
}

bool WaitForTopic(HWND viewer, const char* marker, std::string* shown) {
  for (DWORD waited = 0; waited < kTimeoutMs; waited += 100) {
    *shown = TopicText(viewer);
    if (shown->find(marker) != std::string::npos) return true;
    PumpFor(100);
  }
  return false;
}

struct ChildSearch {
  const char* cls;
  const char* text;  // null: any text
  HWND found;
};

BOOL CALLBACK MatchChild(HWND w, LPARAM lp) {
  auto* s = reinterpret_cast<ChildSearch*>(lp);
  char cls[64];
  if (!GetClassNameA(w, cls, sizeof cls) || lstrcmpiA(cls, s->cls) != 0) return TRUE;
  if (s->text) {
    std::string t = WindowText(w);
    std::string bare;
    for (char c : t)
      if (c != '&') bare += c;
    if (bare != s->text) return TRUE;
  }
  s->found = w;
  return FALSE;
}

HWND FindChild(HWND parent, const char* cls, const char* text) {
  ChildSearch s = {cls, text, nullptr};
  EnumChildWindows(parent, MatchChild, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

BOOL CALLBACK MatchDialog(HWND w, LPARAM lp) {
  char cls[64];
  if (IsWindowVisible(w) && GetClassNameA(w, cls, sizeof cls) && lstrcmpA(cls, "#32770") == 0) {
    *reinterpret_cast<HWND*>(lp) = w;
    return FALSE;
  }
  return TRUE;
}

// A dialog (the index property sheet) shown by the viewer's thread.
HWND WaitForViewerDialog(HWND viewer) {
  DWORD thread = GetWindowThreadProcessId(viewer, nullptr);
  for (DWORD waited = 0; waited < kTimeoutMs; waited += 100) {
    HWND dialog = nullptr;
    EnumThreadWindows(thread, MatchDialog, reinterpret_cast<LPARAM>(&dialog));
    if (dialog) return dialog;
    PumpFor(100);
  }
  return nullptr;
}

// List box text of another process: the wide call carries the whole text.
std::string ListText(HWND list, int i) {
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutW(list, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, 5000, &len) || len > 1000)
    return {};
  std::wstring w(len + 1, L'\0');
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(w.data()), SMTO_ABORTIFHUNG,
                           5000, &got) || got > len)
    return {};
  std::string out(got, '\0');
  for (DWORD_PTR k = 0; k < got; ++k) out[k] = static_cast<char>(w[k] < 0x80 ? w[k] : '?');
  return out;
}

// Rich edit counts a paragraph end as one character; WM_GETTEXT gives "\r\n".
LONG CharIndex(const std::string& text, size_t pos) {
  LONG index = 0;
  for (size_t i = 0; i < pos; ++i)
    if (!(text[i] == '\n' && i > 0 && text[i - 1] == '\r')) ++index;
  return index;
}

class HelpFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    help_ = HelpPath();
    ASSERT_NE(GetFileAttributesA(help_.c_str()), INVALID_FILE_ATTRIBUTES) << help_;
    ASSERT_EQ(FindWindowA(kViewerClass, nullptr), nullptr) << "a help viewer is already running";
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "HelpTestOwner";
    RegisterClassA(&wc);
    owner_ = CreateWindowA("HelpTestOwner", "help test", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                           nullptr, wc.hInstance, nullptr);
    ASSERT_NE(owner_, nullptr);
  }

  void TearDown() override {
    if (HasFailure()) SaveScreenshot("help_failure.png");
    // Never leave a viewer behind for the next test.
    if (FindWindowA(kViewerClass, nullptr)) {
      WinHelpA(owner_, help_.c_str(), HELP_QUIT, 0);
      for (DWORD waited = 0; waited < kTimeoutMs && FindWindowA(kViewerClass, nullptr); waited += 100)
        PumpFor(100);
    }
    if (owner_) DestroyWindow(owner_);
  }

  HWND OpenContents() {
    EXPECT_TRUE(WinHelpA(owner_, help_.c_str(), HELP_CONTENTS, 0));
    return WaitForViewer();
  }

  std::string help_;
  HWND owner_ = nullptr;
};

TEST_F(HelpFileTest, ContentsOpensOnTheContentsPageAndQuitClosesTheViewer) {
  HWND viewer = OpenContents();
  ASSERT_NE(viewer, nullptr) << "no viewer window titled \"" << kHelpTitle << "\"";

  std::string shown;
  ASSERT_TRUE(WaitForTopic(viewer, "Choosing what the button starts", &shown)) << shown;
  // The contents page itself: its heading first, its own paragraphs, and
  // nothing of the pages it leads to.
  EXPECT_EQ(shown.rfind("Scan Button Utility Help\r\n", 0), 0u) << shown;
  for (const char* line : {"What happens when you press the button",
                           "Starting and stopping the Scan Button Utility",
                           "Closing the utility with Btnclose",
                           "runs in the background without a window of its own"})
    EXPECT_NE(shown.find(line), std::string::npos) << line;
  EXPECT_EQ(shown.find("Detect.ini"), std::string::npos) << shown;
  EXPECT_EQ(shown.find("btnmon /Q"), std::string::npos) << shown;
  PumpFor(500);  // let the viewer paint before the picture is taken
  SaveScreenshot("help_contents.png");

  DWORD pid = 0;
  GetWindowThreadProcessId(viewer, &pid);
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  ASSERT_NE(process, nullptr);
  EXPECT_TRUE(WinHelpA(owner_, help_.c_str(), HELP_QUIT, 0));
  EXPECT_EQ(WaitForSingleObject(process, kTimeoutMs), WAIT_OBJECT_0) << "the viewer did not end";
  CloseHandle(process);
  EXPECT_EQ(FindWindowA(kViewerClass, nullptr), nullptr);
}

// Jumps are stored as context hashes and found through |CONTEXT; the
// contents request must find the contents page again from any other page.
TEST_F(HelpFileTest, JumpsLeadToTheirTopicsAndContentsComesBack) {
  HWND viewer = OpenContents();
  ASSERT_NE(viewer, nullptr);
  std::string shown;
  ASSERT_TRUE(WaitForTopic(viewer, "Choosing what the button starts", &shown)) << shown;

  struct Jump {
    const char* link;    // hotspot text on the contents page
    const char* marker;  // text only the target topic holds
  };
  const Jump jumps[] = {
      {"Choosing what the button starts", "The Scan Button Setup dialog\r\n"},
      {"What happens when you press the button", "Holding the button down"},
      {"Starting and stopping the Scan Button Utility", "Options may be typed in capital"},
      {"Closing the utility with Btnclose", "It has no options and shows nothing"},
  };
  HWND text = GetDlgItem(viewer, kTopicTextId);
  ASSERT_NE(text, nullptr);
  for (const Jump& j : jumps) {
    SCOPED_TRACE(j.link);
    ASSERT_TRUE(WaitForTopic(viewer, j.link, &shown)) << shown;
    LONG at = CharIndex(shown, shown.find(j.link)) + 2;
    // Below 0x40000 the rich edit returns the position packed in the result.
    DWORD_PTR p0 = 0, p1 = 0;
    ASSERT_TRUE(SendMessageTimeoutA(text, EM_POSFROMCHAR, at, 0, SMTO_ABORTIFHUNG, 5000, &p0));
    ASSERT_TRUE(SendMessageTimeoutA(text, EM_POSFROMCHAR, at + 1, 0, SMTO_ABORTIFHUNG, 5000, &p1));
    int x = (static_cast<short>(LOWORD(p0)) + static_cast<short>(LOWORD(p1))) / 2;
    int y = static_cast<short>(HIWORD(p0)) + 4;
    PostMessageA(text, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    PostMessageA(text, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    EXPECT_TRUE(WaitForTopic(viewer, j.marker, &shown)) << shown;
    EXPECT_EQ(shown.find("Choosing what the button starts"), std::string::npos) << shown;

    ASSERT_TRUE(WinHelpA(owner_, help_.c_str(), HELP_CONTENTS, 0));
    EXPECT_TRUE(WaitForTopic(viewer, "runs in the background without a window", &shown)) << shown;
    EXPECT_EQ(FindWindowA(kViewerClass, kHelpTitle), viewer) << "contents opened a second viewer";
  }
}

// The Index button lists the file's keywords; choosing one opens its topic.
TEST_F(HelpFileTest, IndexListsTheKeywordsAndOpensTheChosenTopic) {
  HWND viewer = OpenContents();
  ASSERT_NE(viewer, nullptr);
  std::string shown;
  ASSERT_TRUE(WaitForTopic(viewer, "Choosing what the button starts", &shown)) << shown;

  HWND index_button = FindChild(viewer, "Button", "Index");
  ASSERT_NE(index_button, nullptr) << "no Index button";
  PostMessageA(index_button, BM_CLICK, 0, 0);
  HWND sheet = WaitForViewerDialog(viewer);
  ASSERT_NE(sheet, nullptr) << "the index did not open";
  HWND list = nullptr;
  for (DWORD waited = 0; !list && waited < kTimeoutMs; waited += 100) {
    list = FindChild(sheet, "ListBox", nullptr);
    if (!list) PumpFor(100);
  }
  ASSERT_NE(list, nullptr);

  // The keywords: lines of detect_help.txt, 21 entries in all.
  DWORD_PTR count = 0;
  ASSERT_TRUE(SendMessageTimeoutA(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count));
  EXPECT_EQ(count, 21u);
  int detect_ini = -1;
  for (int i = 0; i < static_cast<int>(count); ++i) {
    std::string item = ListText(list, i);
    if (item == "Detect.ini") detect_ini = i;
    if (i == 0) {
      EXPECT_EQ(item, "/D option");
    }
  }
  ASSERT_GE(detect_ini, 0) << "no \"Detect.ini\" in the index";

  PostMessageA(list, LB_SETCURSEL, detect_ini, 0);
  PumpFor(200);
  PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
  EXPECT_TRUE(WaitForTopic(viewer, "The Scan Button Setup dialog\r\n", &shown)) << shown;
}

}  // namespace
