// Scan area and option checks at their bounds, and the spool path when the
// temporary directory leaves no room for the file name.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "scan_checks.h"
#include "spool_path.h"

namespace {

LensRecord Lens() {
    LensRecord r{};
    r.minResolution = 50;
    r.maxResolution = 1200;
    r.minWidth = 60;
    r.areaWidth = 5100;
    r.minHeight = 60;
    r.areaHeight = 7020;
    return r;
}

TEST(ScanChecks, AreaAndResolutionBounds) {
    const LensRecord lens = Lens();
    const ScanArea good = {0, 0, 5100, 7020, 50, 1200};
    EXPECT_TRUE(AreaFitsLens(lens, good));
    struct {
        ScanArea area;
        const char *what;
    } bad[] = {
        {{0, 0, 600, 600, 49, 300}, "x below min"},
        {{0, 0, 600, 600, 1201, 300}, "x above max"},
        {{0, 0, 600, 600, 300, 49}, "y below min"},
        {{0, 0, 600, 600, 300, 1201}, "y above max"},
        {{1, 0, 5100, 600, 300, 300}, "left + width one above"},
        {{0, 1, 600, 7020, 300, 300}, "top + height one above"},
        {{0, 0, 59, 600, 300, 300}, "width below min"},
        {{0, 0, 600, 59, 300, 300}, "height below min"},
        {{0xFFFF, 0, 600, 600, 300, 300}, "sum beyond 16 bits"},
        {{0, 0xFFF0, 600, 0x20, 300, 300}, "top sum wraps in 16 bits"},
    };
    for (auto &b : bad) EXPECT_FALSE(AreaFitsLens(lens, b.area)) << b.what;
}

TEST(ScanChecks, OptionBits) {
    EXPECT_TRUE(OptionAvailable(0, 0));
    EXPECT_TRUE(OptionAvailable(0x5, 1));
    EXPECT_FALSE(OptionAvailable(0x5, 2));
    EXPECT_TRUE(OptionAvailable(0x5, 3));
    EXPECT_TRUE(OptionAvailable(0x1, 33));  // bit (33 - 1) mod 32
    EXPECT_TRUE(OptionAvailable(0x80000000u, 32));
}

TEST(SpoolPath, FileNameJoinsTheTemporaryDirectory) {
    char path[SPOOL_PATH_CHARS + 8];
    memset(path, '#', sizeof path);
    ComposeSpoolPath(path, "C:\\windows\\temp\\", 16);
    EXPECT_STREQ(path, "C:\\windows\\temp\\ORVSPOOL.TMP");
    ComposeSpoolPath(path, "C:\\tmp", 6);
    EXPECT_STREQ(path, "C:\\tmp\\ORVSPOOL.TMP");

    // The longest directory that still fits: 259 characters in all.
    std::string fits = "C:\\" + std::string(259 - 12 - 4, 'd') + "\\";
    ASSERT_EQ(fits.size() + 12, 259u);
    ComposeSpoolPath(path, fits.c_str(), (uint32_t)fits.size());
    EXPECT_EQ(strlen(path), 259u);

    // One more and there is no room: empty, and nothing written past it.
    memset(path, '#', sizeof path);
    std::string tooLong = "C:\\" + std::string(259 - 12 - 3, 'd') + "\\";
    ComposeSpoolPath(path, tooLong.c_str(), (uint32_t)tooLong.size());
    EXPECT_STREQ(path, "");
    EXPECT_EQ(path[1], '#');
    ComposeSpoolPath(path, "", 0);
    EXPECT_STREQ(path, "");
}

}  // namespace
