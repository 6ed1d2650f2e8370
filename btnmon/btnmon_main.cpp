// btnmon.exe: the scan-button monitor, or with "/S", "/D" or "/Q" a client
// that passes one request to the running monitor.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "monitor.h"
#include "monitor_logic.h"
#include "resource.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
    g_monitor.instance = instance;
    g_monitor.buttonState = BUTTON_STATE_INITIAL;
    LoadStringA(instance, IDS_CLASS_NAME, g_monitor.className, sizeof(g_monitor.className));
    // Registered before the options are looked at: clients and the monitor
    // must agree on the number.
    g_monitor.buttonMessage = RegisterWindowMessageA(BUTTON_MESSAGE_NAME);

    MonitorOption option = ParseMonitorOption(commandTail);
    if (option != OPTION_RUN_MONITOR) {
        HWND running = FindWindowA(g_monitor.className, nullptr);
        if (running) {
            if (option == OPTION_OPEN_SETUP)
                PostMessageA(running, g_monitor.buttonMessage, MSG_OPEN_SETUP, 0);
            else if (option == OPTION_LAUNCH)
                PostMessageA(running, g_monitor.buttonMessage, MSG_LAUNCH_ACTION, 0);
            else
                PostMessageA(running, WM_CLOSE, 0, 0);
        }
        return 0;
    }

    if (FAILED(CoInitialize(nullptr))) return 0;
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    if (!CreateMonitor()) {
        CoUninitialize();
        return 0;
    }
    MSG msg;
    int code = 0;
    for (;;) {
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            code = int(msg.wParam);
            break;
        }
        if (got == -1) break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    CoUninitialize();
    return code;
}
