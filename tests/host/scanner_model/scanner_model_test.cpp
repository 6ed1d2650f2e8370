// The scanner model on its own: what only a controllable clock or a full
// log can show.
#include <string.h>

#include <vector>

#include <gtest/gtest.h>

#include "scanner_model.h"

namespace {

uint32_t Request(uint32_t code, const void *in, uint32_t inSize, void *out, uint32_t outSize, uint32_t nowMs,
                 uint32_t *info = nullptr) {
    ModelBuffers b = {static_cast<const uint8_t *>(in), inSize, static_cast<uint8_t *>(out), outSize};
    uint32_t dummy;
    return ModelDeviceControl(code, &b, nowMs, info ? info : &dummy);
}

VscStatus Status(uint32_t nowMs) {
    VscStatus s;
    EXPECT_EQ(Request(VSC_GET_STATUS, nullptr, 0, &s, sizeof(s), nowMs), VS_STATUS_SUCCESS);
    return s;
}

uint8_t portRequest[14];
uint32_t PortService(uint16_t sub, const void *payload, uint32_t payloadSize, void *answer, uint32_t answerSize,
                     uint32_t nowMs) {
    memset(portRequest, 0, sizeof(portRequest));
    memcpy(portRequest, &sub, 2);
    if (payload) memcpy(portRequest + 2, payload, payloadSize);
    return Request(IOCTL_SCANNER_PORT_SERVICE, portRequest, 14, answer, answerSize, nowMs);
}

class Model : public ::testing::Test {
protected:
    void SetUp() override { ModelReset(); }
};

TEST_F(Model, LampSwitchesOffAfterItsIdleTimeButNotWhileScanning) {
    PortService(1, nullptr, 0, nullptr, 0, 1000);  // on
    uint32_t seconds = 60;
    PortService(3, &seconds, 4, nullptr, 0, 1000);
    EXPECT_EQ(Status(60999).lampOn, 1);
    EXPECT_EQ(Status(60999).lampSecondsLeft, 1u);
    EXPECT_EQ(Status(61000).lampOn, 0);

    // Zero means the lamp stays on.
    PortService(1, nullptr, 0, nullptr, 0, 2000);
    seconds = 0;
    PortService(3, &seconds, 4, nullptr, 0, 2000);
    EXPECT_EQ(Status(10000000).lampOn, 1);

    // A running scan keeps it lit; the idle time counts from the stop.
    seconds = 5;
    PortService(3, &seconds, 4, nullptr, 0, 0);
    ScanParams p = {};
    p.left = p.top = 0;
    p.width = p.height = 600;
    p.xResolution = p.yResolution = 50;
    p.colorMode = SCM_GRAY;
    ASSERT_EQ(Request(IOCTL_SCANNER_SET_PARAMS, &p, sizeof(p), &p, sizeof(p), 0), VS_STATUS_SUCCESS);
    ScanStartInfo start;
    ASSERT_EQ(Request(IOCTL_SCANNER_START, nullptr, 0, &start, sizeof(start), 0), VS_STATUS_SUCCESS);
    EXPECT_EQ(Status(100000).lampOn, 1);
    Request(IOCTL_SCANNER_STOP, nullptr, 0, nullptr, 0, 100000);
    EXPECT_EQ(Status(104999).lampOn, 1);
    EXPECT_EQ(Status(105000).lampOn, 0);
}

TEST_F(Model, PortTestAnswersOnlyWhereTheScannerIs) {
    struct Case {
        uint16_t address, mode;
        bool answers;
    } parallel[] = {{0x378, 0, false}, {0x378, 1, false}, {0x278, 0, false}, {0x278, 1, true}, {0x3BC, 1, false}};
    for (const Case &c : parallel) {
        uint16_t ask[2] = {c.address, c.mode}, answer[2] = {0, 0};
        uint32_t st = PortService(4, ask, 4, answer, 4, 0);
        EXPECT_EQ(st == VS_STATUS_SUCCESS, c.answers) << std::hex << c.address << " " << c.mode;
        if (c.answers) {
            EXPECT_EQ(answer[0], 0x278);
        }
    }
    // A card answers at its address whatever mode is asked, and reports its own.
    VscProfileName name = {"scanport"};
    ASSERT_EQ(Request(VSC_SET_PROFILE, &name, sizeof(name), nullptr, 0, 0), VS_STATUS_SUCCESS);
    uint16_t ask[2] = {0x2A0, 1}, answer[2] = {};
    EXPECT_EQ(PortService(4, ask, 4, answer, 4, 0), VS_STATUS_SUCCESS);
    EXPECT_EQ(answer[1], 0);
    // Nobody answers after "port none", and the setting reads undefined.
    VscPort none = {0xFFFF, 0};
    ASSERT_EQ(Request(VSC_SET_PORT, &none, sizeof(none), nullptr, 0, 0), VS_STATUS_SUCCESS);
    EXPECT_NE(PortService(4, ask, 4, answer, 4, 0), VS_STATUS_SUCCESS);
    PortSettings s;
    ASSERT_EQ(PortService(0, nullptr, 0, &s, sizeof(s), 0), VS_STATUS_SUCCESS);
    EXPECT_EQ(s.portAddress, 0xFFFF);
}

TEST_F(Model, FullLogDropsTheOldestEntries) {
    for (uint32_t i = 0; i < VSC_LOG_CAPACITY + 10; ++i) {
        uint16_t lens = uint16_t(i % 2);
        Request(IOCTL_SCANNER_SELECT_LENS, &lens, 2, nullptr, 0, 0);
    }
    VscStatus s = Status(0);
    EXPECT_EQ(s.logCount, uint32_t(VSC_LOG_CAPACITY));
    EXPECT_EQ(s.logDropped, 10u);
    uint32_t first = 0;
    VscLogEntry e[2];
    uint32_t info = 0;
    ASSERT_EQ(Request(VSC_GET_LOG, &first, 4, e, sizeof(e), 0, &info), VS_STATUS_SUCCESS);
    EXPECT_EQ(info, sizeof(e));
    EXPECT_EQ(e[0].sequence, 10u);
    EXPECT_EQ(e[1].sequence, 11u);
}

TEST_F(Model, OwnerIdsAreNeverZeroAndAlwaysChange) {
    uint16_t last = 0;
    for (int i = 0; i < 70000; ++i) {
        uint16_t id = 0;
        ASSERT_EQ(Request(IOCTL_SCANNER_ACQUIRE, nullptr, 0, &id, 2, 0), VS_STATUS_SUCCESS);
        ASSERT_NE(id, 0);
        ASSERT_NE(id, last);
        last = id;
    }
}

}  // namespace
