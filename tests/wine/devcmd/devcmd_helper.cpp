// A second client process for the command library's tests. Verbs:
//   load                      load the library; exit 0, or 1 when it refuses to load
//   status CMD [OWNER]        load, send CMD with ownerId OWNER; exit with the status (16 bits)
//   hold READY QUIT [acquire|probe]
//                             load, SC_OPEN (and SC_ACQUIRE, or the map commands on
//                             good and bad input), set READY, wait for QUIT (60 s at
//                             most), SC_CLOSE, unload; exit 0
//   lens INDEX TABLE          load, SC_GET_LENS_RECORD; exit with the status, or 0x10000 +
//                             the record's lensId on success
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "devcmd_client.h"

int main(int argc, char **argv) {
    if (argc < 2) return 100;
    Devcmd lib;
    const char *verb = argv[1];
    if (!strcmp(verb, "load")) {
        bool loaded = LoadDevcmd(&lib);
        FreeDevcmd(&lib);
        return loaded ? 0 : 1;
    }
    if (!LoadDevcmd(&lib)) return 101;
    int code = 0;
    if (!strcmp(verb, "status") && argc >= 3) {
        CommandBlock b = Block((uint16_t)atoi(argv[2]));
        if (argc >= 4) b.ownerId = (uint16_t)strtoul(argv[3], nullptr, 0);
        code = (uint16_t)Send(lib, &b);
    } else if (!strcmp(verb, "hold") && argc >= 4) {
        HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
        HANDLE quit = OpenEventA(SYNCHRONIZE, FALSE, argv[3]);
        if (!ready || !quit) return 102;
        CommandBlock open = Block(SC_OPEN);
        Send(lib, &open);
        if (argc >= 5 && !strcmp(argv[4], "acquire")) {
            CommandBlock acquire = Block(SC_ACQUIRE);
            if (Send(lib, &acquire) != SCS_OK) return 103;
        }
        if (argc >= 5 && !strcmp(argv[4], "probe")) {
            // Every command that opens a map, on paths that succeed and
            // paths that fail after the map was opened.
            ScanLayout layout;
            memset(&layout, 0, sizeof layout);
            layout.width = layout.height = 600;
            layout.xResolution = layout.yResolution = 300;
            CommandBlock layoutBlock = Block(SC_GET_SCAN_LAYOUT, &layout);
            if (Send(lib, &layoutBlock) != SCS_OK) return 104;
            layout.xResolution = 1;
            layoutBlock = Block(SC_GET_SCAN_LAYOUT, &layout);
            if (Send(lib, &layoutBlock) != SCS_BAD_PARAMETER) return 105;
            static uint8_t buffer[4096];
            LensRecord record;
            const uint16_t lens[][2] = {{0, 0}, {1, 2}, {0xFFFF, 1}, {2, 0}, {0, 3}};
            for (auto &l : lens) {
                CommandBlock b = Block(SC_GET_LENS_RECORD, &record);
                b.index = l[0];
                b.select = l[1];
                Send(lib, &b);
            }
            for (uint16_t index : {0, 1, 2, 3, 5, 6}) {
                CommandBlock b = Block(SC_GET_DEFAULT_TONE_TABLE, buffer);
                b.index = index;
                Send(lib, &b);
            }
        }
        SetEvent(ready);
        WaitForSingleObject(quit, 60000);
        CommandBlock close = Block(SC_CLOSE);
        Send(lib, &close);
    } else if (!strcmp(verb, "lens") && argc >= 4) {
        LensRecord record;
        memset(&record, 0, sizeof record);
        CommandBlock b = Block(SC_GET_LENS_RECORD, &record);
        b.index = (uint16_t)atoi(argv[2]);
        b.select = (uint16_t)atoi(argv[3]);
        int16_t status = Send(lib, &b);
        code = status == SCS_OK ? 0x10000 + record.lensId : (uint16_t)status;
    } else {
        code = 100;
    }
    FreeDevcmd(&lib);
    return code;
}
