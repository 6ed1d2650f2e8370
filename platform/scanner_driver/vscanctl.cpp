// vscanctl: installs, starts and steers the virtual scanner. See README.md.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vscan_client.h"

namespace {

const char USAGE[] =
    "usage: vscanctl VERB [ARGS]\n"
    "  install [FILE.sys]      install the driver service (default: orvscnr.sys beside vscanctl)\n"
    "  uninstall | start | stop\n"
    "  status                  profile, owner, button, lamp, port, scan, log and faults\n"
    "  reset                   back to the first profile's defaults, log and faults cleared\n"
    "  profile NAME            flatbed | scanport\n"
    "  button down|up\n"
    "  port ADDRESS MODE       the scanner answers port tests there (ADDRESS hex, MODE EPP|SPP)\n"
    "  port none               the scanner answers no port test\n"
    "  lamp [on|off] [timeout SECONDS]\n"
    "  fault fail CODE ERROR [COUNT]   fail the next COUNT (1) requests of CODE (a name or READ)\n"
    "  fault short LINES [COUNT]       the next COUNT (1) reads deliver at most LINES lines\n"
    "  fault zero [COUNT]              the next COUNT (1) reads deliver no bytes\n"
    "  fault clear\n"
    "  log                     requests received: code name and input bytes in hex\n"
    "  log clear\n"
    "ERROR: unsuccessful, not-ready, io-error, timeout, busy, not-connected, invalid-parameter,\n"
    "       or an NTSTATUS in hex.\n";

int Usage(const char *why) {
    if (why) fprintf(stderr, "vscanctl: %s\n", why);
    fputs(USAGE, stderr);
    return 2;
}

int Failed(const char *what, DWORD err) {
    char text[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, err, 0, text,
                   sizeof(text), nullptr);
    size_t n = strlen(text);
    while (n && (text[n - 1] == '\n' || text[n - 1] == '\r')) text[--n] = 0;
    fprintf(stderr, "vscanctl: %s failed: error %lu %s\n", what, err, text);
    if (err == ERROR_FILE_NOT_FOUND) fprintf(stderr, "vscanctl: is the driver started? (vscanctl start)\n");
    return 1;
}

bool ParseNumber(const char *text, int base, unsigned long max, unsigned long *value) {
    if (!text || !*text) return false;
    char *end = nullptr;
    unsigned long v = strtoul(text, &end, base);
    if (*end || v > max) return false;
    *value = v;
    return true;
}

const struct {
    const char *name;
    uint32_t status;
} ERRORS[] = {
    {"unsuccessful", 0xC0000001}, {"not-ready", 0xC00000A3},      {"io-error", 0xC0000185},
    {"timeout", 0xC00000B5},      {"busy", 0x80000011},           {"not-connected", 0xC000009D},
    {"invalid-parameter", 0xC000000D},
};

bool ParseCode(const char *text, uint32_t *code) {
    static const uint32_t codes[] = {
        VSC_READ_CODE, IOCTL_SCANNER_GET_DEVICE_INFO, IOCTL_SCANNER_GET_LENS_RECORD,
        IOCTL_SCANNER_GET_TABLE_FORMAT, IOCTL_SCANNER_SET_TONE_TABLES, IOCTL_SCANNER_GET_SCAN_LAYOUT,
        IOCTL_SCANNER_POLL_BUTTON, IOCTL_SCANNER_ACTION_1, IOCTL_SCANNER_ACTION_2, IOCTL_SCANNER_ACTION_3,
        IOCTL_SCANNER_ACTION_4, IOCTL_SCANNER_ACQUIRE, IOCTL_SCANNER_SET_PARAMS, IOCTL_SCANNER_START,
        IOCTL_SCANNER_STOP, IOCTL_SCANNER_RELEASE, IOCTL_SCANNER_PORT_SERVICE, IOCTL_SCANNER_SET_HALFTONE,
        IOCTL_SCANNER_SELECT_LENS, IOCTL_SCANNER_GET_CURRENT_LENS,
    };
    for (uint32_t c : codes)
        if (_stricmp(text, VscCodeName(c)) == 0) {
            *code = c;
            return true;
        }
    unsigned long v;
    if (ParseNumber(text, 16, 0xFFFFFFFFul, &v)) {
        *code = uint32_t(v);
        return true;
    }
    return false;
}

bool ParseError(const char *text, uint32_t *status) {
    for (const auto &e : ERRORS)
        if (_stricmp(text, e.name) == 0) {
            *status = e.status;
            return true;
        }
    unsigned long v;
    if (ParseNumber(text, 16, 0xFFFFFFFFul, &v) && v != 0) {
        *status = uint32_t(v);
        return true;
    }
    return false;
}

bool ParseCount(int argc, char **argv, int at, uint32_t *count) {
    *count = 1;
    if (argc <= at) return true;
    unsigned long v;
    if (argc > at + 1 || !ParseNumber(argv[at], 10, 1000000, &v) || v == 0) return false;
    *count = uint32_t(v);
    return true;
}

const char *ModeName(uint16_t mode) { return mode == PORT_MODE_EPP ? "EPP" : mode == PORT_MODE_SPP ? "SPP" : "?"; }

void PrintPort(const char *label, uint16_t address, uint16_t mode) {
    if (address == PORT_ADDRESS_UNDEFINED)
        printf("%s none\n", label);
    else
        printf("%s 0x%X %s\n", label, address, ModeName(mode));
}

int Status(HANDLE device) {
    VscStatus s;
    if (DWORD err = VscGetStatus(device, &s)) return Failed("status", err);
    printf("profile     %.*s\n", int(sizeof(s.profile)), s.profile);
    if (s.ownerId)
        printf("owner       0x%04X\n", s.ownerId);
    else
        printf("owner       none\n");
    printf("button      %s\n", s.buttonDown ? "down" : "up");
    printf("lamp        %s, switch-off after %lu s", s.lampOn ? "on" : "off", (unsigned long)s.lampOffSeconds);
    if (s.lampOffSeconds == 0) printf(" (never)");
    if (s.lampOn && s.lampSecondsLeft) printf(", %lu s left", (unsigned long)s.lampSecondsLeft);
    printf("\n");
    PrintPort("port        setting", s.portAddress, s.portMode);
    printf("            kind %u%s\n", s.portKind, s.portKind == PORT_KIND_SCANPORT ? " (scan-port card)" : " (parallel port)");
    PrintPort("            answers at", s.answerAddress, s.answerMode);
    printf("lens        %u\n", s.currentLens);
    if (s.scanning)
        printf("scan        running, %lu lines of %lu bytes left\n", (unsigned long)s.linesLeft,
               (unsigned long)s.bytesPerLine);
    else
        printf("scan        none\n");
    printf("log         %lu entries, %lu dropped\n", (unsigned long)s.logCount, (unsigned long)s.logDropped);
    printf("faults      %lu armed\n", (unsigned long)s.faultCount);
    return 0;
}

int Log(HANDLE device) {
    VscStatus s;
    if (DWORD err = VscGetStatus(device, &s)) return Failed("log", err);
    static VscLogEntry entries[VSC_LOG_CAPACITY];
    uint32_t n = 0;
    if (DWORD err = VscReadLog(device, 0, entries, VSC_LOG_CAPACITY, &n)) return Failed("log", err);
    for (uint32_t i = 0; i < n; ++i) {
        const VscLogEntry &e = entries[i];
        const char *name = VscCodeName(e.code);
        if (name)
            printf("%s", name);
        else
            printf("0x%08lX", (unsigned long)e.code);
        if (e.code == VSC_READ_CODE) {
            printf(" %lu", (unsigned long)e.outputLength);
        } else if (e.inputLength == 0) {
            printf(" -");
        } else {
            printf(" ");
            for (uint32_t k = 0; k < e.dataLength; ++k) printf("%02x", e.data[k]);
            if (e.inputLength > e.dataLength) printf("...(%lu bytes)", (unsigned long)e.inputLength);
        }
        if (e.dataHash) printf(" data=%08lx", (unsigned long)e.dataHash);
        if (e.status)
            printf(" -> 0x%08lX\n", (unsigned long)e.status);
        else
            printf(" -> ok %lu\n", (unsigned long)e.information);
    }
    if (s.logDropped) printf("(%lu earlier entries dropped)\n", (unsigned long)s.logDropped);
    return 0;
}

int Fault(HANDLE device, int argc, char **argv) {
    if (argc < 3) return Usage("fault needs a kind");
    VscFault f = {};
    const char *kind = argv[2];
    if (strcmp(kind, "clear") == 0 && argc == 3) {
        DWORD err = VscClearFaults(device);
        return err ? Failed("fault clear", err) : 0;
    }
    if (strcmp(kind, "fail") == 0) {
        if (argc < 5) return Usage("fault fail needs CODE and ERROR");
        f.kind = VSC_FAULT_FAIL;
        if (!ParseCode(argv[3], &f.code)) return Usage("unknown control code");
        if (!ParseError(argv[4], &f.status)) return Usage("unknown error");
        if (!ParseCount(argc, argv, 5, &f.count)) return Usage("COUNT must be a number from 1");
    } else if (strcmp(kind, "short") == 0) {
        unsigned long lines;
        if (argc < 4 || !ParseNumber(argv[3], 10, 1000000, &lines) || lines == 0)
            return Usage("fault short needs LINES from 1");
        f.kind = VSC_FAULT_SHORT;
        f.lines = uint32_t(lines);
        if (!ParseCount(argc, argv, 4, &f.count)) return Usage("COUNT must be a number from 1");
    } else if (strcmp(kind, "zero") == 0) {
        f.kind = VSC_FAULT_ZERO;
        if (!ParseCount(argc, argv, 3, &f.count)) return Usage("COUNT must be a number from 1");
    } else {
        return Usage("unknown fault kind");
    }
    DWORD err = VscAddFault(device, f);
    return err ? Failed("fault", err) : 0;
}

int Lamp(HANDLE device, int argc, char **argv) {
    VscLamp lamp = {};
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "on") == 0 || strcmp(argv[i], "off") == 0) {
            lamp.setOn = 1;
            lamp.lampOn = argv[i][1] == 'n';
        } else if (strcmp(argv[i], "timeout") == 0 && i + 1 < argc) {
            unsigned long v;
            if (!ParseNumber(argv[++i], 10, 0xFFFFFFFFul, &v)) return Usage("timeout needs SECONDS");
            lamp.setOffSeconds = 1;
            lamp.offSeconds = uint32_t(v);
        } else {
            return Usage("lamp takes on, off and timeout SECONDS");
        }
    }
    if (lamp.setOn || lamp.setOffSeconds)
        if (DWORD err = VscSetLamp(device, lamp)) return Failed("lamp", err);
    VscStatus s;
    if (DWORD err = VscGetStatus(device, &s)) return Failed("lamp", err);
    printf("lamp %s, switch-off after %lu s\n", s.lampOn ? "on" : "off", (unsigned long)s.lampOffSeconds);
    return 0;
}

int Port(HANDLE device, int argc, char **argv) {
    if (argc == 3 && strcmp(argv[2], "none") == 0) {
        DWORD err = VscSetPort(device, PORT_ADDRESS_UNDEFINED, 0);
        return err ? Failed("port", err) : 0;
    }
    if (argc != 4) return Usage("port needs ADDRESS MODE, or none");
    unsigned long address;
    const char *a = argv[2];
    if (a[0] == '0' && (a[1] == 'x' || a[1] == 'X')) a += 2;
    if (!ParseNumber(a, 16, 0xFFFE, &address)) return Usage("ADDRESS must be hexadecimal below FFFF");
    uint16_t mode;
    if (_stricmp(argv[3], "EPP") == 0 || strcmp(argv[3], "0") == 0)
        mode = PORT_MODE_EPP;
    else if (_stricmp(argv[3], "SPP") == 0 || strcmp(argv[3], "1") == 0)
        mode = PORT_MODE_SPP;
    else
        return Usage("MODE must be EPP or SPP");
    DWORD err = VscSetPort(device, uint16_t(address), mode);
    return err ? Failed("port", err) : 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return Usage(nullptr);
    const char *verb = argv[1];

    if (strcmp(verb, "install") == 0) {
        if (argc > 3) return Usage("install takes at most a driver file");
        char path[MAX_PATH];
        if (argc == 3) {
            if (strlen(argv[2]) >= sizeof(path)) return Usage("driver path too long");
            strcpy(path, argv[2]);
        } else {
            DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
            char *slash = n && n < sizeof(path) ? strrchr(path, '\\') : nullptr;
            if (!slash || size_t(slash - path) + sizeof("\\orvscnr.sys") > sizeof(path))
                return Failed("install", ERROR_BUFFER_OVERFLOW);
            strcpy(slash, "\\orvscnr.sys");
        }
        DWORD err = VscInstall(path);
        return err ? Failed("install", err) : 0;
    }
    if (argc == 2 && strcmp(verb, "uninstall") == 0) {
        DWORD err = VscUninstall();
        return err && err != ERROR_SERVICE_DOES_NOT_EXIST ? Failed("uninstall", err) : 0;
    }
    if (argc == 2 && strcmp(verb, "start") == 0) {
        DWORD err = VscStart();
        return err ? Failed("start", err) : 0;
    }
    if (argc == 2 && strcmp(verb, "stop") == 0) {
        DWORD err = VscStop();
        return err ? Failed("stop", err) : 0;
    }

    static const char *const deviceVerbs[] = {"status", "reset", "profile", "button", "port", "lamp", "fault", "log"};
    bool known = false;
    for (const char *v : deviceVerbs) known = known || strcmp(verb, v) == 0;
    if (!known) return Usage("unknown verb");

    HANDLE device = VscOpen();
    if (device == INVALID_HANDLE_VALUE) return Failed("opening \\\\.\\ORVSCNR", GetLastError());
    int rc;
    if (strcmp(verb, "status") == 0 && argc == 2) {
        rc = Status(device);
    } else if (strcmp(verb, "reset") == 0 && argc == 2) {
        DWORD err = VscReset(device);
        rc = err ? Failed("reset", err) : 0;
    } else if (strcmp(verb, "profile") == 0) {
        if (argc != 3) {
            rc = Usage("profile needs NAME");
        } else {
            DWORD err = VscSetProfile(device, argv[2]);
            rc = err == ERROR_INVALID_PARAMETER ? Usage("unknown profile") : err ? Failed("profile", err) : 0;
        }
    } else if (strcmp(verb, "button") == 0) {
        if (argc != 3 || (strcmp(argv[2], "down") && strcmp(argv[2], "up"))) {
            rc = Usage("button needs down or up");
        } else {
            DWORD err = VscSetButton(device, strcmp(argv[2], "down") == 0);
            rc = err ? Failed("button", err) : 0;
        }
    } else if (strcmp(verb, "port") == 0) {
        rc = Port(device, argc, argv);
    } else if (strcmp(verb, "lamp") == 0) {
        rc = Lamp(device, argc, argv);
    } else if (strcmp(verb, "fault") == 0) {
        rc = Fault(device, argc, argv);
    } else if (strcmp(verb, "log") == 0) {
        if (argc == 2) {
            rc = Log(device);
        } else if (argc == 3 && strcmp(argv[2], "clear") == 0) {
            DWORD err = VscClearLog(device);
            rc = err ? Failed("log clear", err) : 0;
        } else {
            rc = Usage("log takes only clear");
        }
    } else {
        rc = Usage("wrong arguments");
    }
    CloseHandle(device);
    return rc;
}
