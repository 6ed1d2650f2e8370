// The library entry as clients use it: the commands of the button monitor
// and the utility, ownership across processes, and what reached the
// scanner for each command.
#include <gtest/gtest.h>

#include <string.h>

#include "devcmd_client.h"
#include "scanner_records.h"

namespace {

class Entry : public ::testing::Test {
protected:
    void SetUp() override {
        scanner = VscOpen();
        ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
        ASSERT_EQ(VscReset(scanner), 0u);
        ASSERT_TRUE(LoadDevcmd(&lib)) << DevcmdPath();
        ASSERT_EQ(VscClearLog(scanner), 0u);
    }
    void TearDown() override {
        FreeDevcmd(&lib);
        if (scanner != INVALID_HANDLE_VALUE) {
            VscReset(scanner);
            CloseHandle(scanner);
        }
    }
    std::vector<uint32_t> Sent() {
        std::vector<uint32_t> codes = Codes(ReadRequestLog(scanner));
        VscClearLog(scanner);
        return codes;
    }
    uint16_t DriverOwner() {
        VscStatus s;
        memset(&s, 0, sizeof s);
        VscGetStatus(scanner, &s);
        return s.ownerId;
    }
    HANDLE scanner = INVALID_HANDLE_VALUE;
    Devcmd lib;
};

using Codes_ = std::vector<uint32_t>;

TEST_F(Entry, MonitorCommandsAndDeviceInfo) {
    CommandBlock open = Block(SC_OPEN);
    EXPECT_EQ(Send(lib, &open), SCS_OK);

    DeviceInfo info;
    memset(&info, 0xEE, sizeof info);
    CommandBlock get = Block(SC_GET_DEVICE_INFO, &info);
    EXPECT_EQ(Send(lib, &get), SCS_OK);
    EXPECT_EQ(info.lensCount, 2);
    EXPECT_EQ(info.deviceFlags & (DIF_LENS_TABLE_1 | DIF_LENS_TABLE_2), DIF_LENS_TABLE_1 | DIF_LENS_TABLE_2);
    std::vector<Logged> log = ReadRequestLog(scanner);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].code, (uint32_t)IOCTL_SCANNER_GET_DEVICE_INFO);
    EXPECT_EQ(log[0].outputLength, sizeof(DeviceInfo));
    VscClearLog(scanner);

    // Released button: the request fails and its error is the status.
    CommandBlock poll = Block(SC_POLL_BUTTON);
    int16_t up = Send(lib, &poll);
    EXPECT_GT(up, 0);
    ASSERT_EQ(VscSetButton(scanner, true), 0u);
    poll = Block(SC_POLL_BUTTON);
    EXPECT_EQ(Send(lib, &poll), SCS_OK);
    EXPECT_EQ(Sent(), (Codes_{IOCTL_SCANNER_POLL_BUTTON, IOCTL_SCANNER_POLL_BUTTON}));

    CommandBlock close = Block(SC_CLOSE);
    EXPECT_EQ(Send(lib, &close), SCS_OK);
    // Closing more often than opened stays harmless.
    close = Block(SC_CLOSE);
    EXPECT_EQ(Send(lib, &close), SCS_OK);

    // A null buffer is refused without a request.
    CommandBlock null = Block(SC_GET_DEVICE_INFO);
    EXPECT_EQ(Send(lib, &null), SCS_BAD_PARAMETER);
    EXPECT_EQ(Sent(), Codes_{});
}

TEST_F(Entry, UnknownCommandsChangeNothing) {
    for (uint16_t code : {22, 23, 100, 0x8000, 0xFFFF}) {
        CommandBlock b = Block(code);
        b.count = 0x12345678;
        EXPECT_EQ(Send(lib, &b), SCS_BAD_COMMAND) << code;
        EXPECT_EQ(b.count, 0x12345678u);
    }
    EXPECT_EQ(Sent(), Codes_{});
}

TEST_F(Entry, OwnershipAndOwnerOnlyCommands) {
    const uint16_t actions[] = {SC_DEVICE_ACTION_1, SC_DEVICE_ACTION_2, SC_DEVICE_ACTION_3, SC_DEVICE_ACTION_4};
    for (uint16_t a : actions) {
        CommandBlock b = Block(a);
        EXPECT_EQ(Send(lib, &b), SCS_NOT_OWNER) << a;
    }
    CommandBlock release = Block(SC_RELEASE);
    EXPECT_EQ(Send(lib, &release), SCS_NOT_OWNER);
    CommandBlock read = Block(SC_READ_LINES);
    read.count = 77;
    EXPECT_EQ(Send(lib, &read), SCS_NOT_OWNER);
    EXPECT_EQ(read.count, 0u);
    EXPECT_EQ(Sent(), Codes_{});

    CommandBlock acquire = Block(SC_ACQUIRE);
    ASSERT_EQ(Send(lib, &acquire), SCS_OK);
    const uint16_t id = acquire.ownerId;
    EXPECT_NE(id, 0);
    EXPECT_EQ(id, DriverOwner());
    EXPECT_EQ(Sent(), Codes_{IOCTL_SCANNER_ACQUIRE});

    // A second acquire is refused, even from the owner.
    CommandBlock again = Block(SC_ACQUIRE);
    again.ownerId = id;
    EXPECT_EQ(Send(lib, &again), SCS_NOT_OWNER);

    for (uint16_t a : actions) {
        CommandBlock wrong = Block(a);
        wrong.ownerId = (uint16_t)(id + 1);
        EXPECT_EQ(Send(lib, &wrong), SCS_NOT_OWNER) << a;
    }
    EXPECT_EQ(Sent(), Codes_{});
    for (uint16_t a : actions) {
        CommandBlock b = Block(a);
        b.ownerId = id;
        EXPECT_EQ(Send(lib, &b), SCS_OK) << a;
    }
    EXPECT_EQ(Sent(), (Codes_{IOCTL_SCANNER_ACTION_1, IOCTL_SCANNER_ACTION_2, IOCTL_SCANNER_ACTION_3,
                              IOCTL_SCANNER_ACTION_4}));

    // The scan gates: nothing stored, nothing running.
    CommandBlock start = Block(SC_START_SCAN);
    start.ownerId = id;
    EXPECT_EQ(Send(lib, &start), SCS_WRONG_STATE);
    CommandBlock stop = Block(SC_STOP_SCAN);
    stop.ownerId = id;
    EXPECT_EQ(Send(lib, &stop), SCS_WRONG_STATE);
    read = Block(SC_READ_LINES);
    read.ownerId = id;
    EXPECT_EQ(Send(lib, &read), SCS_WRONG_STATE);

    CommandBlock wrongRelease = Block(SC_RELEASE);
    wrongRelease.ownerId = (uint16_t)(id ^ 0x5A5A);
    EXPECT_EQ(Send(lib, &wrongRelease), SCS_NOT_OWNER);
    EXPECT_EQ(Sent(), Codes_{});

    release = Block(SC_RELEASE);
    release.ownerId = id;
    EXPECT_EQ(Send(lib, &release), SCS_OK);
    EXPECT_EQ(Sent(), Codes_{IOCTL_SCANNER_RELEASE});
    EXPECT_EQ(DriverOwner(), 0);
    release = Block(SC_RELEASE);
    release.ownerId = id;
    EXPECT_EQ(Send(lib, &release), SCS_NOT_OWNER);
}

TEST_F(Entry, OwnershipSpansProcesses) {
    CommandBlock acquire = Block(SC_ACQUIRE);
    ASSERT_EQ(Send(lib, &acquire), SCS_OK);
    const uint16_t id = acquire.ownerId;

    // Another process is refused while this one owns the scanner, also
    // when it presents the owner's id to SC_ACQUIRE.
    EXPECT_EQ(RunHelper("status 15"), (DWORD)(uint16_t)SCS_NOT_OWNER);
    EXPECT_EQ(RunHelper("status 11 " + std::to_string(id + 1)), (DWORD)(uint16_t)SCS_NOT_OWNER);
    // Owner-only commands work from any process that presents the id.
    EXPECT_EQ(RunHelper("status 11 " + std::to_string(id)), 0u);
    VscClearLog(scanner);

    CommandBlock release = Block(SC_RELEASE);
    release.ownerId = id;
    ASSERT_EQ(Send(lib, &release), SCS_OK);
    EXPECT_EQ(RunHelper("status 15"), 0u);
    EXPECT_EQ(Sent(), (Codes_{IOCTL_SCANNER_RELEASE, IOCTL_SCANNER_ACQUIRE}));

    // The helper has ended; its ownership stays.
    const uint16_t helperId = DriverOwner();
    EXPECT_NE(helperId, 0);
    acquire = Block(SC_ACQUIRE);
    EXPECT_EQ(Send(lib, &acquire), SCS_NOT_OWNER);
    release = Block(SC_RELEASE);
    release.ownerId = helperId;
    EXPECT_EQ(Send(lib, &release), SCS_OK);
}

TEST_F(Entry, KilledOwnerLeavesTheScannerOwned) {
    std::string readyName = UniqueName("ready"), quitName = UniqueName("quit");
    HANDLE ready = NamedEvent(readyName), quit = NamedEvent(quitName);
    HANDLE helper = StartHelper("hold " + readyName + " " + quitName + " acquire");
    ASSERT_TRUE(helper);
    ASSERT_EQ(WaitForSingleObject(ready, 30000), WAIT_OBJECT_0);
    const uint16_t id = DriverOwner();
    ASSERT_NE(id, 0);
    TerminateProcess(helper, 9);
    WaitForSingleObject(helper, 30000);
    CloseHandle(helper);

    CommandBlock acquire = Block(SC_ACQUIRE);
    EXPECT_EQ(Send(lib, &acquire), SCS_NOT_OWNER);
    CommandBlock action = Block(SC_DEVICE_ACTION_1);
    action.ownerId = id;
    EXPECT_EQ(Send(lib, &action), SCS_OK);
    CommandBlock release = Block(SC_RELEASE);
    release.ownerId = id;
    EXPECT_EQ(Send(lib, &release), SCS_OK);
    acquire = Block(SC_ACQUIRE);
    EXPECT_EQ(Send(lib, &acquire), SCS_OK);
    release = Block(SC_RELEASE);
    release.ownerId = acquire.ownerId;
    EXPECT_EQ(Send(lib, &release), SCS_OK);
    CloseHandle(ready);
    CloseHandle(quit);
}

// SC_PORT_SERVICE: buffer -> pointer -> request.
struct PortCall {
    PortRequest request;
    PortRequest *slot;
    CommandBlock block;
};

int16_t SendPort(const Devcmd &lib, PortRequest *request) {
    PortRequest *slot = request;
    CommandBlock b = Block(SC_PORT_SERVICE, &slot);
    return Send(lib, &b);
}

TEST_F(Entry, PortServiceSubCommands) {
    PortRequest r;
    memset(&r, 0, sizeof r);
    r.subCode = SCP_GET_SETTINGS;
    memset(r.payload, 0xCC, sizeof r.payload);
    ASSERT_EQ(SendPort(lib, &r), SCS_OK);
    PortSettings settings;
    memcpy(&settings, r.payload, sizeof settings);
    EXPECT_EQ(settings.portAddress, 0x278);
    EXPECT_EQ(settings.portMode, PORT_MODE_SPP);
    EXPECT_EQ(settings.lampOffSeconds, 600u);
    std::vector<Logged> log = ReadRequestLog(scanner);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].code, (uint32_t)IOCTL_SCANNER_PORT_SERVICE);
    ASSERT_EQ(log[0].input.size(), sizeof(PortRequest));
    EXPECT_EQ(log[0].input[0], SCP_GET_SETTINGS);
    EXPECT_EQ(log[0].input[2], 0xCC);  // the payload goes with the request
    EXPECT_EQ(log[0].outputLength, sizeof(PortSettings));
    VscClearLog(scanner);

    VscStatus s;
    r = PortRequest{};
    r.subCode = SCP_LAMP_ON;
    EXPECT_EQ(SendPort(lib, &r), SCS_OK);
    VscGetStatus(scanner, &s);
    EXPECT_EQ(s.lampOn, 1);
    r.subCode = SCP_LAMP_OFF;
    EXPECT_EQ(SendPort(lib, &r), SCS_OK);
    VscGetStatus(scanner, &s);
    EXPECT_EQ(s.lampOn, 0);
    r.subCode = SCP_SET_LAMP_TIMEOUT;
    uint32_t seconds = 120;
    memcpy(r.payload, &seconds, sizeof seconds);
    EXPECT_EQ(SendPort(lib, &r), SCS_OK);
    VscGetStatus(scanner, &s);
    EXPECT_EQ(s.lampOffSeconds, 120u);
    log = ReadRequestLog(scanner);
    ASSERT_EQ(log.size(), 3u);
    for (const Logged &l : log) EXPECT_EQ(l.outputLength, 0u);
    EXPECT_EQ(log[2].input[0], SCP_SET_LAMP_TIMEOUT);
    EXPECT_EQ(log[2].input[2], 120);
    VscClearLog(scanner);

    // Port test: the answer comes back in the payload; a miss is an error.
    r = PortRequest{};
    r.subCode = SCP_TEST_PORT;
    PortTest test = {0x378, PORT_MODE_SPP};
    memcpy(r.payload, &test, sizeof test);
    EXPECT_GT(SendPort(lib, &r), 0);
    test = {0x278, PORT_MODE_SPP};
    memcpy(r.payload, &test, sizeof test);
    EXPECT_EQ(SendPort(lib, &r), SCS_OK);
    PortTest answer;
    memcpy(&answer, r.payload, sizeof answer);
    EXPECT_EQ(answer.address, 0x278);
    EXPECT_EQ(answer.mode, PORT_MODE_SPP);
    log = ReadRequestLog(scanner);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].outputLength, sizeof(PortTest));
    VscClearLog(scanner);

    // Sub-command 5 sends nothing; unknown ones are refused.
    r = PortRequest{};
    r.subCode = SCP_NOP;
    EXPECT_EQ(SendPort(lib, &r), SCS_OK);
    for (uint16_t sub : {6, 7, 99, 101, 0xFFFF}) {
        r.subCode = sub;
        EXPECT_EQ(SendPort(lib, &r), SCS_BAD_COMMAND) << sub;
    }
    CommandBlock null = Block(SC_PORT_SERVICE);
    EXPECT_EQ(Send(lib, &null), SCS_BAD_PARAMETER);
    PortRequest *none = nullptr;
    null = Block(SC_PORT_SERVICE, &none);
    EXPECT_EQ(Send(lib, &null), SCS_BAD_PARAMETER);
    EXPECT_EQ(Sent(), Codes_{});
}

TEST_F(Entry, PortServiceRawRequest) {
#pragma pack(push, 1)
    struct {
        uint16_t subCode;
        uint32_t code, input, output, inputSize, outputSize;
    } raw;
#pragma pack(pop)
    static_assert(sizeof raw == sizeof(PortRawRequest));
    TableFormat format;
    memset(&format, 0, sizeof format);
    raw.subCode = SCP_RAW_IOCTL;
    raw.code = IOCTL_SCANNER_GET_TABLE_FORMAT;
    raw.input = 0;
    raw.output = (uint32_t)(uintptr_t)&format;
    raw.inputSize = 0;
    raw.outputSize = sizeof format;
    PortRequest *slot = reinterpret_cast<PortRequest *>(&raw);
    CommandBlock b = Block(SC_PORT_SERVICE, &slot);
    EXPECT_EQ(Send(lib, &b), SCS_OK);
    EXPECT_EQ(format.entriesPerTable, 256);
    EXPECT_EQ(format.tableCount, 3);
    EXPECT_EQ(Sent(), Codes_{IOCTL_SCANNER_GET_TABLE_FORMAT});

    // A code the scanner does not know: its error is the status.
    raw.code = 0x16FFFC;
    b = Block(SC_PORT_SERVICE, &slot);
    EXPECT_GT(Send(lib, &b), 0);
}

}  // namespace
