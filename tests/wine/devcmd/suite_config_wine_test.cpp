// The MERVIX.INI reader on the Windows profile functions, against the
// file in the Windows directory (restored byte for byte afterwards).
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "suite_config.h"
#include "wine_test_support.h"

namespace {

std::string IniPath() { return WindowsDir() + "\\MERVIX.INI"; }

void WriteIni(const std::string &text) {
    ASSERT_TRUE(WriteWholeFile(IniPath(), text));
    // Wine caches profile files: make it read this one again.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, IniPath().c_str());
}

TEST(SuiteConfigWine, ScannerInfoWithAGapAndNamesInAnyCase) {
    FileRestorer restore(IniPath());
    WriteIni("[scannerINFO]\r\n0=378\r\n1=278\r\n3=3BC\r\n[MERVIXsystem]\r\nmodelNAME=" +
             std::string(45, 'M') + "\r\nMapFile=\r\n[SCANDLL]\r\ndll32=C:\\suite\\devcmd.dll\r\n");
    uint16_t list[CFG_SCANNER_INFO_MAX];
    ASSERT_EQ(ReadScannerInfoList(list, CFG_SCANNER_INFO_MAX), 2u);
    EXPECT_EQ(list[0], 0x378);
    EXPECT_EQ(list[1], 0x278);

    char model[CFG_MODEL_NAME_CHARS];
    EXPECT_EQ(ReadModelName(model), 39u);
    EXPECT_EQ(std::string(model), std::string(39, 'M'));
    char map[CFG_MAP_FILE_CHARS];
    EXPECT_EQ(ReadMapFile(map), 0u);
    char utility[CFG_LIBRARY_PATH_UTILITY_CHARS];
    EXPECT_EQ(ReadCommandLibraryPath(utility, sizeof utility), strlen("C:\\suite\\devcmd.dll"));
    EXPECT_STREQ(utility, "C:\\suite\\devcmd.dll");
    char group[CFG_GROUP_CHARS];
    EXPECT_EQ(ReadSuiteGroup(group), 0u);
}

TEST(SuiteConfigWine, OverlongAndBinaryValuesStayInTheirBuffers) {
    FileRestorer restore(IniPath());
    std::string binary = "[MervixSystem]\r\nDLL32=" + std::string(400, 'd') + "\r\nGroup=\x01\x7f\xff\xfe\r\n" +
                         "[ScannerInfo]\r\n0=123456789ABCDEF\r\n";
    WriteIni(binary);
    char dir[CFG_LIBRARY_DIR_CHARS + 8];
    memset(dir, '#', sizeof dir);
    EXPECT_EQ(ReadSharedLibraryDir(*reinterpret_cast<char(*)[CFG_LIBRARY_DIR_CHARS]>(dir)), 259u);
    EXPECT_EQ(dir[CFG_LIBRARY_DIR_CHARS], '#');
    char group[CFG_GROUP_CHARS];
    EXPECT_GT(ReadSuiteGroup(group), 0u);
    EXPECT_LT(strlen(group), (size_t)CFG_GROUP_CHARS);
    // 11 characters of the value are read, parsed to their low 16 bits.
    uint16_t address = 0;
    ASSERT_TRUE(ReadScanPortEntry(0, &address));
    EXPECT_EQ(address, 0x89AB);

    DeleteFileA(IniPath().c_str());
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, IniPath().c_str());
    uint16_t list[4];
    EXPECT_EQ(ReadScannerInfoList(list, 4), 0u);
    char model[CFG_MODEL_NAME_CHARS];
    EXPECT_EQ(ReadModelName(model), 0u);
}

}  // namespace
