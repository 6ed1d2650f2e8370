// btnclose.exe: asks a running button monitor to quit; the same as
// "btnmon /Q". The command line is ignored.
#include <windows.h>

#include "resource.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    char className[80] = "";
    LoadStringA(instance, IDS_CLASS_NAME, className, sizeof(className));
    if (HWND monitor = FindWindowA(className, nullptr)) PostMessageA(monitor, WM_CLOSE, 0, 0);
    return 0;
}
