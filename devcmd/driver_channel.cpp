#include "driver_channel.h"

#include "shared_state.h"

bool OpenDriver() {
    g_process.driver = CreateFileA(SCANNER_DEVICE_PATH, GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                   nullptr);
    return g_process.driver != INVALID_HANDLE_VALUE;
}

void CloseDriver() {
    if (g_process.driver != INVALID_HANDLE_VALUE) CloseHandle(g_process.driver);
    g_process.driver = INVALID_HANDLE_VALUE;
}

DWORD DeviceRequest(DWORD code, const void *input, DWORD inputSize, void *output, DWORD outputSize) {
    g_process.bytesReturned = 0;
    if (DeviceIoControl(g_process.driver, code, const_cast<void *>(input), inputSize, output,
                        outputSize, &g_process.bytesReturned, nullptr))
        return 0;
    DWORD error = GetLastError();
    return error ? error : ERROR_GEN_FAILURE;
}

int16_t RequestStatus(DWORD result) {
    if (result == 0) return SCS_OK;
    // An error whose low 16 bits are 0 would read as success.
    if ((result & 0xFFFF) == 0) result = ERROR_GEN_FAILURE;
    return (int16_t)(uint16_t)(result & 0xFFFF);
}
