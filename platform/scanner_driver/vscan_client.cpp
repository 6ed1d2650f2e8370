#include "vscan_client.h"

#include <string.h>

#include "scanner_records.h"

HANDLE VscOpen() {
    return CreateFileA("\\\\.\\ORVSCNR", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

DWORD VscRequest(HANDLE device, uint32_t code, const void *input, DWORD inputSize, void *output,
                 DWORD outputSize, DWORD *returned) {
    DWORD n = 0;
    BOOL ok = DeviceIoControl(device, code, const_cast<void *>(input), inputSize, output, outputSize, &n, nullptr);
    if (returned) *returned = n;
    return ok ? 0 : GetLastError();
}

DWORD VscGetStatus(HANDLE device, VscStatus *status) {
    return VscRequest(device, VSC_GET_STATUS, nullptr, 0, status, sizeof(*status), nullptr);
}

DWORD VscReset(HANDLE device) { return VscRequest(device, VSC_RESET, nullptr, 0, nullptr, 0, nullptr); }

DWORD VscSetProfile(HANDLE device, const char *name) {
    VscProfileName p = {};
    strncpy(p.name, name, sizeof(p.name) - 1);
    return VscRequest(device, VSC_SET_PROFILE, &p, sizeof(p), nullptr, 0, nullptr);
}

DWORD VscSetButton(HANDLE device, bool down) {
    uint32_t v = down ? 1 : 0;
    return VscRequest(device, VSC_SET_BUTTON, &v, sizeof(v), nullptr, 0, nullptr);
}

DWORD VscSetPort(HANDLE device, uint16_t address, uint16_t mode) {
    VscPort p = {address, mode};
    return VscRequest(device, VSC_SET_PORT, &p, sizeof(p), nullptr, 0, nullptr);
}

DWORD VscSetLamp(HANDLE device, const VscLamp &lamp) {
    return VscRequest(device, VSC_SET_LAMP, &lamp, sizeof(lamp), nullptr, 0, nullptr);
}

DWORD VscAddFault(HANDLE device, const VscFault &fault) {
    return VscRequest(device, VSC_ADD_FAULT, &fault, sizeof(fault), nullptr, 0, nullptr);
}

DWORD VscClearFaults(HANDLE device) {
    return VscRequest(device, VSC_CLEAR_FAULTS, nullptr, 0, nullptr, 0, nullptr);
}

DWORD VscClearLog(HANDLE device) { return VscRequest(device, VSC_CLEAR_LOG, nullptr, 0, nullptr, 0, nullptr); }

DWORD VscReadLog(HANDLE device, uint32_t first, VscLogEntry *entries, uint32_t capacity, uint32_t *count) {
    *count = 0;
    // Batches keep each transfer small; the driver copies whole entries only.
    const uint32_t batch = 64;
    while (*count < capacity) {
        uint32_t want = capacity - *count < batch ? capacity - *count : batch;
        uint32_t start = first + *count;
        DWORD got = 0;
        DWORD err = VscRequest(device, VSC_GET_LOG, &start, sizeof(start), entries + *count,
                               want * sizeof(VscLogEntry), &got);
        if (err) return err;
        uint32_t n = got / sizeof(VscLogEntry);
        *count += n;
        if (n < want) break;
    }
    return 0;
}

const char *VscCodeName(uint32_t code) {
    static const struct {
        uint32_t code;
        const char *name;
    } names[] = {
        {VSC_READ_CODE, "READ"},
        {IOCTL_SCANNER_GET_DEVICE_INFO, "GET_DEVICE_INFO"},
        {IOCTL_SCANNER_GET_LENS_RECORD, "GET_LENS_RECORD"},
        {IOCTL_SCANNER_GET_TABLE_FORMAT, "GET_TABLE_FORMAT"},
        {IOCTL_SCANNER_SET_TONE_TABLES, "SET_TONE_TABLES"},
        {IOCTL_SCANNER_GET_SCAN_LAYOUT, "GET_SCAN_LAYOUT"},
        {IOCTL_SCANNER_POLL_BUTTON, "POLL_BUTTON"},
        {IOCTL_SCANNER_ACTION_1, "ACTION_1"},
        {IOCTL_SCANNER_ACTION_2, "ACTION_2"},
        {IOCTL_SCANNER_ACTION_3, "ACTION_3"},
        {IOCTL_SCANNER_ACTION_4, "ACTION_4"},
        {IOCTL_SCANNER_ACQUIRE, "ACQUIRE"},
        {IOCTL_SCANNER_SET_PARAMS, "SET_PARAMS"},
        {IOCTL_SCANNER_START, "START"},
        {IOCTL_SCANNER_STOP, "STOP"},
        {IOCTL_SCANNER_RELEASE, "RELEASE"},
        {IOCTL_SCANNER_PORT_SERVICE, "PORT_SERVICE"},
        {IOCTL_SCANNER_SET_HALFTONE, "SET_HALFTONE"},
        {IOCTL_SCANNER_SELECT_LENS, "SELECT_LENS"},
        {IOCTL_SCANNER_GET_CURRENT_LENS, "GET_CURRENT_LENS"},
    };
    for (const auto &n : names)
        if (n.code == code) return n.name;
    return nullptr;
}

namespace {

DWORD WithService(DWORD access, DWORD (*action)(SC_HANDLE)) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return GetLastError();
    SC_HANDLE service = OpenServiceA(manager, VSCAN_SERVICE_NAME, access);
    DWORD err = service ? action(service) : GetLastError();
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return err;
}

DWORD WaitForState(SC_HANDLE service, DWORD wanted) {
    for (int i = 0; i < 100; ++i) {
        SERVICE_STATUS s;
        if (!QueryServiceStatus(service, &s)) return GetLastError();
        if (s.dwCurrentState == wanted) return 0;
        Sleep(50);
    }
    return ERROR_SERVICE_REQUEST_TIMEOUT;
}

}  // namespace

DWORD VscInstall(const char *sysPath) {
    char target[MAX_PATH];
    UINT n = GetSystemDirectoryA(target, MAX_PATH);
    if (n == 0 || n + sizeof("\\drivers\\orvscnr.sys") > MAX_PATH) return ERROR_BUFFER_OVERFLOW;
    strcat(target, "\\drivers\\orvscnr.sys");
    if (!CopyFileA(sysPath, target, FALSE)) return GetLastError();

    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return GetLastError();
    DWORD err = 0;
    SC_HANDLE service = CreateServiceA(manager, VSCAN_SERVICE_NAME, "Oravine virtual scanner", SERVICE_ALL_ACCESS,
                                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       target, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!service) {
        err = GetLastError();
        if (err == ERROR_SERVICE_EXISTS) err = 0;  // the file was refreshed above
    } else {
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return err;
}

DWORD VscUninstall() {
    VscStop();
    DWORD err = WithService(SERVICE_ALL_ACCESS, [](SC_HANDLE s) -> DWORD {
        return DeleteService(s) ? 0 : GetLastError();
    });
    char target[MAX_PATH];
    UINT n = GetSystemDirectoryA(target, MAX_PATH);
    if (n && n + sizeof("\\drivers\\orvscnr.sys") <= MAX_PATH) {
        strcat(target, "\\drivers\\orvscnr.sys");
        DeleteFileA(target);
    }
    return err;
}

DWORD VscStart() {
    return WithService(SERVICE_ALL_ACCESS, [](SC_HANDLE s) -> DWORD {
        if (!StartServiceA(s, 0, nullptr)) {
            DWORD err = GetLastError();
            if (err != ERROR_SERVICE_ALREADY_RUNNING) return err;
        }
        return WaitForState(s, SERVICE_RUNNING);
    });
}

DWORD VscStop() {
    return WithService(SERVICE_ALL_ACCESS, [](SC_HANDLE s) -> DWORD {
        SERVICE_STATUS status;
        if (!ControlService(s, SERVICE_CONTROL_STOP, &status)) {
            DWORD err = GetLastError();
            if (err != ERROR_SERVICE_NOT_ACTIVE) return err;
            return 0;
        }
        return WaitForState(s, SERVICE_STOPPED);
    });
}
