// scan.exe as a user runs it: what it prints, its exit code, and that it
// leaves the scanner stopped, released and closed whatever happened.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "devcmd_client.h"
#include "wine_test_support.h"

namespace {

struct Result {
    DWORD code;
    std::string out;
};

Result Scan(const std::string &args) {
    Result r{999, ""};
    EXPECT_TRUE(RunProcess("\"" + BinDir() + "\\scan.exe\" --quiet " + args, 120000, &r.code, &r.out)) << args;
    return r;
}

bool Has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

class ScanTool : public ::testing::Test {
protected:
    VirtualScanner scanner;
};

TEST_F(ScanTool, ListsDescriptionLensesAndResolutions) {
    Result r = Scan("--list");
    EXPECT_EQ(r.code, 0u) << r.out;
    EXPECT_TRUE(Has(r.out, "Oravine FB-600")) << r.out;
    EXPECT_TRUE(Has(r.out, "lens 0 (reflective): 50-1200 dpi, native 300 dpi colour / 600 dpi other modes")) << r.out;
    EXPECT_TRUE(Has(r.out, "lens 1 (lens table 2)")) << r.out;
    EXPECT_TRUE(Has(r.out, "3 of 256 entries")) << r.out;
}

TEST_F(ScanTool, BadOptionsGetTheUsage) {
    const char *bad[] = {"", "--mode sepia out.png", "--res x out.png", "--brightness 128 out.png",
                         "--area 1,2,3 out.png", "out.jpg", "--lens-table 3 out.png", "a.png b.png"};
    for (const char *args : bad) {
        Result r = Scan(args);
        EXPECT_EQ(r.code, 2u) << args << "\n" << r.out;
        EXPECT_TRUE(Has(r.out, "usage: scan")) << args;
    }
    EXPECT_EQ(scanner.Log().size(), 0u) << "nothing reaches the scanner";
}

// A refusal is named with its status and what to change, and the scanner
// is left free for the next program.
TEST_F(ScanTool, RefusalsAreExplainedAndTheScannerIsLeftFree) {
    struct Case {
        const char *args;
        const char *status;
        const char *advice;
    } cases[] = {
        {"--res 1201 out.png", "SCS_BAD_PARAMETER (-3)", "50-1200 dpi"},
        {"--area 5000,0,200,600 out.png", "SCS_BAD_PARAMETER (-3)", "within 5100 x 7020"},
        {"--lens 5 out.png", "SCS_BAD_PARAMETER (-3)", "--list shows"},
    };
    for (const Case &c : cases) {
        Result r = Scan(c.args);
        EXPECT_EQ(r.code, 1u) << c.args << "\n" << r.out;
        EXPECT_TRUE(Has(r.out, c.status)) << c.args << "\n" << r.out;
        EXPECT_TRUE(Has(r.out, c.advice)) << c.args << "\n" << r.out;
        EXPECT_EQ(scanner.Status().ownerId, 0) << c.args;
    }
}

TEST_F(ScanTool, AScannerInUseIsReportedAndNotTaken) {
    Devcmd lib;
    ASSERT_TRUE(LoadDevcmd(&lib));
    CommandBlock open = Block(SC_OPEN), acquire = Block(SC_ACQUIRE);
    Send(lib, &open);
    ASSERT_EQ(Send(lib, &acquire), SCS_OK);

    Result r = Scan("out.png");
    EXPECT_EQ(r.code, 1u) << r.out;
    EXPECT_TRUE(Has(r.out, "SCS_NOT_OWNER (-9)")) << r.out;
    EXPECT_TRUE(Has(r.out, "another program is using the scanner")) << r.out;

    // Our ownership survived the refused program.
    CommandBlock release = Block(SC_RELEASE);
    release.ownerId = acquire.ownerId;
    EXPECT_EQ(Send(lib, &release), SCS_OK);
    CommandBlock close = Block(SC_CLOSE);
    Send(lib, &close);
    FreeDevcmd(&lib);
}

}  // namespace
