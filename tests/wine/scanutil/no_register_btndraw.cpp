// A painting library that has the drawing entries but no Paint_Register:
// the utility must refuse to start with it and still release the scanner.
#include <windows.h>

extern "C" __declspec(dllexport) void WINAPI Paint_InitItem(void *) {}
extern "C" __declspec(dllexport) void WINAPI Paint_EndItem(void *) {}
extern "C" __declspec(dllexport) void WINAPI Paint_Unregister() {}
