// vscanctl as a person or a script uses it: verbs change the shared
// scanner, status and log print it, bad arguments get the usage and exit 2.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "wine_test_support.h"

namespace {

struct Result {
    DWORD code;
    std::string out;
};

Result Vscanctl(const std::string &args) {
    Result r{999, ""};
    EXPECT_TRUE(RunProcess("\"" + BinDir() + "\\vscanctl.exe\" " + args, 30000, &r.code, &r.out)) << args;
    return r;
}

TEST(Vscanctl, VerbsSteerTheSharedScanner) {
    VirtualScanner scanner;
    struct Step {
        const char *args;
        DWORD code;
        const char *shows;  // in the output of the step, or of "status" after it
    } steps[] = {
        {"button down", 0, "button      down"},
        {"port 3BC EPP", 0, "answers at 0x3BC EPP"},
        {"port none", 0, "answers at none"},
        {"lamp on timeout 90", 0, "lamp on, switch-off after 90 s"},
        {"profile scanport", 0, "profile     scanport"},
        {"fault fail GET_DEVICE_INFO busy 2", 0, "faults      1 armed"},
        {"fault clear", 0, "faults      0 armed"},
        {"reset", 0, "profile     flatbed"},
    };
    for (const Step &s : steps) {
        Result r = Vscanctl(s.args);
        EXPECT_EQ(r.code, s.code) << s.args << "\n" << r.out;
        Result status = Vscanctl("status");
        EXPECT_NE((r.out + status.out).find(s.shows), std::string::npos) << s.args << "\n" << status.out;
    }
    EXPECT_EQ(scanner.Status().buttonDown, 0) << "reset releases the button";
}

TEST(Vscanctl, LogPrintsCodeNamesAndInputBytes) {
    VirtualScanner scanner;
    uint16_t lens = 1;
    DWORD n;
    DeviceIoControl(scanner.device, IOCTL_SCANNER_SELECT_LENS, &lens, 2, nullptr, 0, &n, nullptr);
    Result r = Vscanctl("log");
    EXPECT_EQ(r.code, 0u);
    EXPECT_NE(r.out.find("SELECT_LENS 0100 -> ok"), std::string::npos) << r.out;
    EXPECT_EQ(Vscanctl("log clear").code, 0u);
    EXPECT_EQ(scanner.Status().logCount, 0u);
}

TEST(Vscanctl, BadArgumentsGetTheUsage) {
    const char *bad[] = {"", "bogus", "button sideways", "port 278", "port 278 XYZ", "port FFFF SPP",
                         "profile nothere", "lamp dim", "fault", "fault fail NOPE busy", "fault fail START nope",
                         "fault short 0", "fault zero x", "log more"};
    for (const char *args : bad) {
        Result r = Vscanctl(args);
        EXPECT_EQ(r.code, 2u) << "'" << args << "'";
        EXPECT_NE(r.out.find("usage: vscanctl"), std::string::npos) << args;
    }
}

}  // namespace
