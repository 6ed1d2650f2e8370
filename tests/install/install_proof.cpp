// The action a test's shortcut starts: it writes the file named on its
// command line, proving that it ran.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    HANDLE f = CreateFileA(commandLine, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 1;
    DWORD n;
    WriteFile(f, "ran\r\n", 5, &n, nullptr);
    CloseHandle(f);
    return 0;
}
