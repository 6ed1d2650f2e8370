// The "Scan Button Setup" dialog.
#include <windows.h>

#include "monitor.h"

void OpenSetupDialog(HWND) {}
