// For the demo: starts the utility, saves a picture of its dialog with
// each of its two tabs shown, and ends it with Close.
// usage: scanutil_shots OUTPUT_PREFIX   (writes PREFIX-tab1.bmp, PREFIX-tab2.bmp)
#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "scanutil_driving.h"
#include "sfttabs.h"


int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: scanutil_shots OUTPUT_PREFIX\n");
        return 2;
    }
    const std::string prefix = argv[1];
    Utility utility;
    if (!utility.Start()) {
        fprintf(stderr, "scanutil did not start\n");
        return 1;
    }
    HWND dialog = WaitUtilityDialog(utility.pi.dwProcessId);
    if (!dialog) {
        fprintf(stderr, "the utility dialog did not open\n");
        return 1;
    }
    HWND tab = TabControl(dialog);
    printf("dialog \"%s\", tabs \"%s\" and \"%s\"\n", WindowText(dialog).c_str(), TabText(tab, 0).c_str(),
           TabText(tab, 1).c_str());
    int failures = 0;
    for (int i = 0; i < 2; ++i) {
        if (i == 1) ClickTab(tab, 1);
        HWND page = WaitPage(dialog, i == 0 ? (GetDlgItem(dialog, 201) && TabText(tab, 0) == "ScanPort" ? 502 : 401) : 605);
        if (!page) {
            fprintf(stderr, "tab %d did not show its page\n", i + 1);
            ++failures;
            continue;
        }
        Sleep(500);  // let the page finish painting
        const std::string path = prefix + "-tab" + std::to_string(i + 1) + ".bmp";
        if (!SaveWindowShot(dialog, path)) {
            fprintf(stderr, "could not save %s\n", path.c_str());
            ++failures;
        } else {
            printf("saved %s\n", path.c_str());
        }
    }
    PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    DWORD code = 1;
    if (!utility.WaitEnd(GUI_TIMEOUT_MS, &code)) {
        fprintf(stderr, "the utility did not end\n");
        return 1;
    }
    return failures ? 1 : int(code);
}
