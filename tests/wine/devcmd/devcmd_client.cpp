#include "devcmd_client.h"

#include <stdio.h>
#include <string.h>

#include "suite_config.h"

std::string DevcmdPath() {
    char path[CFG_LIBRARY_PATH_CHARS];
    ReadCommandLibraryPath(path, sizeof path);
    return path;
}

bool LoadDevcmd(Devcmd *lib) {
    std::string path = DevcmdPath();
    lib->module = path.empty() ? nullptr : LoadLibraryA(path.c_str());
    lib->entry = lib->module ? reinterpret_cast<ScannerCommanderProc>(
                                   reinterpret_cast<void *>(GetProcAddress(lib->module, "ScannerCommander")))
                             : nullptr;
    return lib->entry != nullptr;
}

void FreeDevcmd(Devcmd *lib) {
    if (lib->module) FreeLibrary(lib->module);
    lib->module = nullptr;
    lib->entry = nullptr;
}

int16_t Send(const Devcmd &lib, CommandBlock *block) {
    lib.entry(block);
    return block->status;
}

CommandBlock Block(uint16_t command, void *buffer) {
    CommandBlock b;
    memset(&b, 0, sizeof b);
    b.command = command;
    b.status = 0x5555;  // the library must overwrite it
    b.buffer = buffer;
    return b;
}

std::vector<Logged> ReadRequestLog(HANDLE scanner) {
    std::vector<VscLogEntry> entries(VSC_LOG_CAPACITY);
    uint32_t count = 0;
    std::vector<Logged> log;
    if (VscReadLog(scanner, 0, entries.data(), (uint32_t)entries.size(), &count) != 0) return log;
    for (uint32_t i = 0; i < count; ++i) {
        const VscLogEntry &e = entries[i];
        Logged l;
        l.code = e.code;
        l.input.assign(e.data, e.data + (e.dataLength < VSC_LOG_DATA_BYTES ? e.dataLength : VSC_LOG_DATA_BYTES));
        l.outputLength = e.outputLength;
        l.status = e.status;
        log.push_back(l);
    }
    return log;
}

std::vector<uint32_t> Codes(const std::vector<Logged> &log) {
    std::vector<uint32_t> codes;
    for (const Logged &l : log) codes.push_back(l.code);
    return codes;
}

std::string CodeNames(const std::vector<uint32_t> &codes) {
    std::string text;
    for (uint32_t c : codes) {
        const char *name = VscCodeName(c);
        char hex[16];
        snprintf(hex, sizeof hex, "%#x", c);
        if (!text.empty()) text += " ";
        text += name ? name : hex;
    }
    return text;
}

HANDLE StartHelper(const std::string &arguments) {
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    char *slash = strrchr(self, '\\');
    if (!slash) return nullptr;
    std::string helper = std::string(self, slash + 1) + "devcmd_helper.exe";
    std::string command = "\"" + helper + "\" " + arguments;
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(helper.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

DWORD WaitHelper(HANDLE process, DWORD timeoutMs) {
    if (!process) return 0xFFFFFFFF;
    DWORD code = 0xFFFFFFFF;
    if (WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process, &code);
    else
        TerminateProcess(process, 0xFFFFFFFF);
    CloseHandle(process);
    return code;
}

DWORD RunHelper(const std::string &arguments, DWORD timeoutMs) {
    return WaitHelper(StartHelper(arguments), timeoutMs);
}

HANDLE NamedEvent(const std::string &name) { return CreateEventA(nullptr, TRUE, FALSE, name.c_str()); }

std::string UniqueName(const char *stem) {
    static unsigned counter = 0;
    char name[96];
    snprintf(name, sizeof name, "devcmd_test_%s_%lu_%u", stem, (unsigned long)GetCurrentProcessId(), ++counter);
    return name;
}
