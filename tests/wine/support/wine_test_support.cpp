#include "wine_test_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <gtest/gtest.h>

std::string BinDir() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path, n);
    return p.substr(0, p.find_last_of('\\'));
}

std::string InstallDir() {
    char value[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("ORV_INSTALL_DIR", value, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return "C:\\Program Files\\Oravine";
    return std::string(value, n);
}

std::string WindowsDir() {
    char dir[MAX_PATH];
    UINT n = GetWindowsDirectoryA(dir, MAX_PATH);
    return std::string(dir, n);
}

bool StartProcess(const std::string &commandLine, PROCESS_INFORMATION *pi) {
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    std::vector<char> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back(0);
    return CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, pi) != 0;
}

bool WaitProcess(HANDLE process, DWORD timeoutMs, DWORD *exitCode) {
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) return false;
    if (exitCode) GetExitCodeProcess(process, exitCode);
    return true;
}

bool RunProcess(const std::string &commandLine, DWORD timeoutMs, DWORD *exitCode, std::string *output) {
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (output) {
        if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return false;
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    }
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    if (output) {
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = writeEnd;
        si.hStdError = writeEnd;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    std::vector<char> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back(0);
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, output ? TRUE : FALSE, 0, nullptr, nullptr, &si, &pi)) {
        if (output) {
            CloseHandle(readEnd);
            CloseHandle(writeEnd);
        }
        return false;
    }
    if (output) {
        CloseHandle(writeEnd);
        output->clear();
    }
    DWORD start = GetTickCount();
    bool ended = false;
    for (;;) {
        if (output) {
            DWORD avail = 0;
            while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &avail, nullptr) && avail) {
                char buf[4096];
                DWORD got = 0;
                if (!ReadFile(readEnd, buf, avail < sizeof(buf) ? avail : sizeof(buf), &got, nullptr) || !got) break;
                output->append(buf, got);
            }
        }
        if (WaitForSingleObject(pi.hProcess, 10) == WAIT_OBJECT_0) {
            ended = true;
            break;
        }
        if (GetTickCount() - start >= timeoutMs) break;
    }
    if (output) {
        char buf[4096];
        DWORD got = 0;
        while (ended && ReadFile(readEnd, buf, sizeof(buf), &got, nullptr) && got) output->append(buf, got);
        CloseHandle(readEnd);
    }
    if (!ended) TerminateProcess(pi.hProcess, 1);
    if (exitCode) GetExitCodeProcess(pi.hProcess, exitCode);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return ended;
}

HWND WaitForWindow(const char *className, const char *title, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindWindowA(className, title)) != nullptr; }, timeoutMs);
    return found;
}

std::string WindowText(HWND window) {
    char text[1024] = "";
    DWORD_PTR got = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &got);
    return text;
}

namespace {

// Saves a rectangle of the screen as a 24-bit BMP.
bool SaveScreenRect(int x, int y, int w, int h, const std::string &path) {
    if (w <= 0 || h <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, x, y, SRCCOPY);
    SelectObject(mem, old);
    BITMAPINFOHEADER bi = {};
    bi.biSize = sizeof(bi);
    bi.biWidth = w;
    bi.biHeight = h;
    bi.biPlanes = 1;
    bi.biBitCount = 24;
    const DWORD stride = (DWORD(w) * 3 + 3) & ~3u;
    std::vector<char> pixels(size_t(stride) * h);
    GetDIBits(mem, bmp, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO *>(&bi), DIB_RGB_COLORS);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER bf = {};
    bf.bfType = 0x4D42;
    bf.bfOffBits = sizeof(bf) + sizeof(bi);
    bf.bfSize = bf.bfOffBits + DWORD(pixels.size());
    std::string data(reinterpret_cast<char *>(&bf), sizeof(bf));
    data.append(reinterpret_cast<char *>(&bi), sizeof(bi));
    data.append(pixels.data(), pixels.size());
    return WriteWholeFile(path, data);
}

}  // namespace

bool SaveScreenshot(const std::string &path) {
    return SaveScreenRect(0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), path);
}

bool SaveWindowShot(HWND window, const std::string &path) {
    RECT r;
    if (!GetWindowRect(window, &r)) return false;
    return SaveScreenRect(r.left, r.top, r.right - r.left, r.bottom - r.top, path);
}

std::string ReadWholeFile(const std::string &path, bool *exists) {
    std::string data;
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (exists) *exists = f != INVALID_HANDLE_VALUE;
    if (f == INVALID_HANDLE_VALUE) return data;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(f, buf, sizeof(buf), &got, nullptr) && got) data.append(buf, got);
    CloseHandle(f);
    return data;
}

bool WriteWholeFile(const std::string &path, const std::string &data) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    BOOL ok = WriteFile(f, data.data(), DWORD(data.size()), &put, nullptr);
    CloseHandle(f);
    return ok && put == data.size();
}

FileRestorer::FileRestorer(const std::string &p) : path(p) { bytes = ReadWholeFile(path, &existed); }

FileRestorer::~FileRestorer() {
    if (existed)
        WriteWholeFile(path, bytes);
    else
        DeleteFileA(path.c_str());
    // Wine caches profile files: make it read them again.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
}

VirtualScanner::VirtualScanner() {
    device = VscOpen();
    EXPECT_NE(device, INVALID_HANDLE_VALUE) << "the virtual scanner is not running";
    if (device != INVALID_HANDLE_VALUE) {
        EXPECT_EQ(VscReset(device), 0u);
    }
}

VirtualScanner::~VirtualScanner() {
    if (device != INVALID_HANDLE_VALUE) {
        VscReset(device);
        CloseHandle(device);
    }
}

std::vector<VscLogEntry> VirtualScanner::Log() const {
    std::vector<VscLogEntry> entries(VSC_LOG_CAPACITY);
    uint32_t n = 0;
    EXPECT_EQ(VscReadLog(device, 0, entries.data(), VSC_LOG_CAPACITY, &n), 0u);
    entries.resize(n);
    return entries;
}

VscStatus VirtualScanner::Status() const {
    VscStatus s = {};
    EXPECT_EQ(VscGetStatus(device, &s), 0u);
    return s;
}

std::string Hex(const void *data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    const unsigned char *p = static_cast<const unsigned char *>(data);
    std::string s;
    for (size_t i = 0; i < size; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

std::vector<std::string> LogLines(const std::vector<VscLogEntry> &log) {
    std::vector<std::string> lines;
    for (const VscLogEntry &e : log) {
        const char *name = VscCodeName(e.code);
        char code[16];
        snprintf(code, sizeof(code), "0x%08lX", (unsigned long)e.code);
        std::string line = name ? name : code;
        if (e.code == VSC_READ_CODE)
            line += " " + std::to_string(e.outputLength);
        else
            line += " " + (e.inputLength ? Hex(e.data, e.dataLength) : std::string("-"));
        lines.push_back(line);
    }
    return lines;
}
