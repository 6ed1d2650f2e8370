// The action the tests and the demo launch: appends its further arguments
// to the file named by its first argument, so launches can be counted.
// For the demo it also makes that shortcut:
//   btnmon_probe --link LINK TARGET ARGUMENTS   saves LINK through IShellLinkA
//   btnmon_probe --programs                     prints the Programs folder
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <stdio.h>
#include <string.h>

static int MakeLink(const char *link, const char *target, const char *arguments) {
    if (FAILED(CoInitialize(nullptr))) return 1;
    int rc = 1;
    IShellLinkA *shellLink = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void **>(&shellLink)))) {
        shellLink->SetPath(target);
        shellLink->SetArguments(arguments);
        IPersistFile *file = nullptr;
        if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) {
            wchar_t wide[MAX_PATH];
            MultiByteToWideChar(CP_ACP, 0, link, -1, wide, MAX_PATH);
            if (SUCCEEDED(file->Save(wide, TRUE))) rc = 0;
            file->Release();
        }
        shellLink->Release();
    }
    CoUninitialize();
    return rc;
}

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    if (strcmp(argv[1], "--programs") == 0) {
        char path[MAX_PATH] = "";
        if (!SHGetSpecialFolderPathA(nullptr, path, CSIDL_PROGRAMS, TRUE)) return 1;
        printf("%s\n", path);
        return 0;
    }
    if (strcmp(argv[1], "--link") == 0) return argc == 5 ? MakeLink(argv[2], argv[3], argv[4]) : 2;

    HANDLE f = CreateFileA(argv[1], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 1;
    char line[512] = "launched";
    for (int i = 2; i < argc && strlen(line) + strlen(argv[i]) + 3 < sizeof(line); ++i) {
        strcat(line, " ");
        strcat(line, argv[i]);
    }
    strcat(line, "\r\n");
    DWORD put = 0;
    WriteFile(f, line, DWORD(strlen(line)), &put, nullptr);
    CloseHandle(f);
    return 0;
}
