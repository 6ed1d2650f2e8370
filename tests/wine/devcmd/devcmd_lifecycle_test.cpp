// The shared state over the lives of client processes: maps that outlive
// no command, maps built again after their builder has ended, a fresh
// start after the last unload, and the load refused without the driver.
// This program loads the library itself only where a test says so.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "devcmd_client.h"
#include "scanner_records.h"

namespace {

const char *const kMapNames[] = {"OrvSysMapMemFile", "OrvUserMapMemFile", "OrvLensMemFile"};

bool MapExists(const char *name) {
    HANDLE h = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
    if (!h) return false;
    CloseHandle(h);
    return true;
}

// A helper process that keeps the library loaded until told to end.
struct Holder {
    std::string readyName = UniqueName("ready"), quitName = UniqueName("quit");
    HANDLE ready = NamedEvent(readyName), quit = NamedEvent(quitName);
    HANDLE process = nullptr;
    bool Start(const char *what = "") {
        process = StartHelper("hold " + readyName + " " + quitName + " " + what);
        if (!process) return false;
        HANDLE both[2] = {ready, process};
        return WaitForMultipleObjects(2, both, FALSE, 30000) == WAIT_OBJECT_0;
    }
    DWORD End() {
        SetEvent(quit);
        DWORD code = WaitHelper(process);
        process = nullptr;
        return code;
    }
    ~Holder() {
        if (process) End();
        CloseHandle(ready);
        CloseHandle(quit);
    }
};

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        scanner = VscOpen();
        ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
        ASSERT_EQ(VscReset(scanner), 0u);
        for (const char *name : kMapNames) ASSERT_FALSE(MapExists(name)) << name << ": the library is in use";
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
    HANDLE scanner = INVALID_HANDLE_VALUE;
    Devcmd lib;
};

const std::vector<uint32_t> kBuild = {
    IOCTL_SCANNER_GET_TABLE_FORMAT, IOCTL_SCANNER_GET_DEVICE_INFO, IOCTL_SCANNER_GET_LENS_RECORD,
    IOCTL_SCANNER_GET_LENS_RECORD,  IOCTL_SCANNER_GET_LENS_RECORD, IOCTL_SCANNER_GET_LENS_RECORD,
    IOCTL_SCANNER_GET_LENS_RECORD,  IOCTL_SCANNER_GET_LENS_RECORD, IOCTL_SCANNER_GET_CURRENT_LENS};

TEST_F(Lifecycle, NoMapOutlivesACommandAndMapsAreBuiltAgain) {
    Holder builder, prober;
    VscClearLog(scanner);
    ASSERT_TRUE(builder.Start());
    EXPECT_EQ(Sent(), kBuild) << "the first process builds";
    // The prober opens every map, on good and bad input, and stays loaded.
    ASSERT_TRUE(prober.Start("probe"));
    for (const char *name : kMapNames) EXPECT_TRUE(MapExists(name)) << name;

    // With the builder gone no process may hold a map any more.
    EXPECT_EQ(builder.End(), 0u);
    for (const char *name : kMapNames) EXPECT_FALSE(MapExists(name)) << name << " left open";
    VscClearLog(scanner);

    // The next command that needs a map builds them again, here.
    ASSERT_TRUE(LoadDevcmd(&lib));
    EXPECT_EQ(Sent(), std::vector<uint32_t>{}) << "the built-marker is still set";
    LensRecord record;
    memset(&record, 0, sizeof record);
    CommandBlock b = Block(SC_GET_LENS_RECORD, &record);
    b.index = 1;
    b.select = 2;
    EXPECT_EQ(Send(lib, &b), SCS_OK);
    EXPECT_EQ(record.lensId, 6);
    EXPECT_EQ(Sent(), kBuild);
    std::vector<uint8_t> tables(3 * 256);
    b = Block(SC_GET_DEFAULT_TONE_TABLE, tables.data());
    b.index = 1;
    EXPECT_EQ(Send(lib, &b), SCS_OK);
    EXPECT_EQ(tables[2 * 256 + 77], 77);
    EXPECT_EQ(Sent(), std::vector<uint32_t>{});
    // Another process uses the maps this one now holds.
    EXPECT_EQ(RunHelper("lens 0 1"), 0x10003u);
    EXPECT_EQ(prober.End(), 0u);
}

TEST_F(Lifecycle, MapThatCannotBeBuiltGivesAStatus) {
    Holder builder, keeper;
    ASSERT_TRUE(builder.Start());
    ASSERT_TRUE(keeper.Start());
    builder.End();
    // An object of another kind takes the lens map's name.
    HANDLE squatter = CreateEventA(nullptr, TRUE, FALSE, "OrvLensMemFile");
    ASSERT_TRUE(squatter);
    DWORD status = RunHelper("lens 0 0");
    EXPECT_GT(status, 0u);
    EXPECT_LT(status, 0x8000u) << "a system error, not a crash or a refusal code";
    CloseHandle(squatter);
    EXPECT_EQ(RunHelper("lens 1 0"), 0x10002u);
    keeper.End();
}

TEST_F(Lifecycle, LastUnloadStartsAfresh) {
    ASSERT_TRUE(LoadDevcmd(&lib));
    CommandBlock acquire = Block(SC_ACQUIRE);
    ASSERT_EQ(Send(lib, &acquire), SCS_OK);
    FreeDevcmd(&lib);

    // Nobody had it loaded: the next load starts from the initial values
    // and builds again; the scanner is free.
    VscClearLog(scanner);
    ASSERT_TRUE(LoadDevcmd(&lib));
    EXPECT_EQ(Sent(), kBuild);
    acquire = Block(SC_ACQUIRE);
    ASSERT_EQ(Send(lib, &acquire), SCS_OK);
    EXPECT_EQ(Sent(), std::vector<uint32_t>{IOCTL_SCANNER_ACQUIRE});

    // While another process keeps the library, the state stays.
    Holder keeper;
    ASSERT_TRUE(keeper.Start());
    FreeDevcmd(&lib);
    ASSERT_TRUE(LoadDevcmd(&lib));
    EXPECT_EQ(Sent(), std::vector<uint32_t>{});
    CommandBlock again = Block(SC_ACQUIRE);
    EXPECT_EQ(Send(lib, &again), SCS_NOT_OWNER) << "the acquired state is shared";
    CommandBlock release = Block(SC_RELEASE);
    release.ownerId = acquire.ownerId;
    EXPECT_EQ(Send(lib, &release), SCS_OK);
    keeper.End();
}

TEST_F(Lifecycle, NoDriverNoLibrary) {
    CloseHandle(scanner);
    scanner = INVALID_HANDLE_VALUE;
    ASSERT_EQ(VscStop(), 0u);
    HMODULE module = LoadLibraryA(DevcmdPath().c_str());
    EXPECT_EQ(module, nullptr);
    if (module) FreeLibrary(module);
    EXPECT_EQ(RunHelper("load"), 1u);
    ASSERT_EQ(VscStart(), 0u);
    scanner = VscOpen();
    ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RunHelper("load"), 0u);
    EXPECT_TRUE(LoadDevcmd(&lib));
}

}  // namespace
