// The MERVIX.INI reader: the [ScannerInfo] list, cut-off values, names in
// any case, and bad values that must not reach past a buffer.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "suite_config.h"

namespace {

std::string g_path = std::string(SUITE_CONFIG_TEST_DIR) + "/suite_config_test.ini";

void WriteIni(const std::string &text) {
    FILE *f = fopen(g_path.c_str(), "wb");
    ASSERT_TRUE(f);
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
    SuiteConfigUseFile(g_path.c_str());
}

TEST(SuiteConfig, ScannerInfoListEndsAtTheFirstGap) {
    WriteIni("[ScannerInfo]\r\n0=378\r\n1=278\r\n3=3BC\r\n");
    uint16_t list[CFG_SCANNER_INFO_MAX];
    ASSERT_EQ(ReadScannerInfoList(list, CFG_SCANNER_INFO_MAX), 2u);
    EXPECT_EQ(list[0], 0x378);
    EXPECT_EQ(list[1], 0x278);
}

TEST(SuiteConfig, ScannerInfoEmptyValueEndsTheListAndCapacityHolds) {
    WriteIni("[scannerinfo]\n0 = 2a0\n1=\n2=3bc\n");
    uint16_t list[CFG_SCANNER_INFO_MAX];
    ASSERT_EQ(ReadScannerInfoList(list, CFG_SCANNER_INFO_MAX), 1u);
    EXPECT_EQ(list[0], 0x2A0);

    std::string many = "[ScannerInfo]\n";
    for (int i = 0; i < 45; ++i) many += std::to_string(i) + "=" + std::to_string(100 + i) + "\n";
    WriteIni(many);
    uint16_t big[CFG_SCANNER_INFO_MAX + 8];
    memset(big, 0xEE, sizeof big);
    EXPECT_EQ(ReadScannerInfoList(big, CFG_SCANNER_INFO_MAX + 8), (uint32_t)CFG_SCANNER_INFO_MAX);
    EXPECT_EQ(big[39], 0x139);
    EXPECT_EQ(big[40], 0xEEEE);
    uint16_t small[3];
    EXPECT_EQ(ReadScannerInfoList(small, 3), 3u);
    EXPECT_EQ(small[2], 0x102);
}

TEST(SuiteConfig, HexParserTakesEveryCharacter) {
    EXPECT_EQ(ParseHexWord("378"), 0x378);
    EXPECT_EQ(ParseHexWord("3bC"), 0x3BC);
    EXPECT_EQ(ParseHexWord(""), 0);
    EXPECT_EQ(ParseHexWord("12345"), 0x2345);  // low 16 bits
    // "0x378": 'x' counts 33, shifted with the rest.
    EXPECT_EQ(ParseHexWord("0x378"), (uint16_t)(((0 * 16 + 33) * 16 + 3) * 256 + 0x78));
    // A byte above 127 counts as negative.
    EXPECT_EQ(ParseHexWord("\xC8"), (uint16_t)((signed char)'\xC8' - '0'));
}

TEST(SuiteConfig, NamesInAnyCaseAndValuesCutToTheirBuffers) {
    std::string longName(60, 'N');
    std::string longPath(300, 'p');
    WriteIni("; comment\n[MERVIXSYSTEM]\nmodelname=" + longName + "\nMAPFILE = \"" + longPath +
             "\"\nGroup=  Oravine Scanner  \n[scandll]\ndll32=C:\\x\\devcmd.dll\n");
    char model[CFG_MODEL_NAME_CHARS + 4];
    memset(model, '#', sizeof model);
    EXPECT_EQ(ReadModelName(*reinterpret_cast<char(*)[CFG_MODEL_NAME_CHARS]>(model)), 39u);
    EXPECT_EQ(std::string(model), longName.substr(0, 39));
    EXPECT_EQ(model[CFG_MODEL_NAME_CHARS], '#');

    char path[CFG_MAP_FILE_CHARS];
    EXPECT_EQ(ReadMapFile(path), 259u);
    EXPECT_EQ(path[0], 'p');
    char group[CFG_GROUP_CHARS];
    EXPECT_EQ(ReadSuiteGroup(group), strlen("Oravine Scanner"));
    EXPECT_STREQ(group, "Oravine Scanner");

    char utility[CFG_LIBRARY_PATH_UTILITY_CHARS];
    EXPECT_GT(ReadCommandLibraryPath(utility, sizeof utility), 0u);
    EXPECT_STREQ(utility, "C:\\x\\devcmd.dll");
    char tiny[5];
    EXPECT_EQ(ReadCommandLibraryPath(tiny, sizeof tiny), 4u);
    EXPECT_STREQ(tiny, "C:\\x");
}

TEST(SuiteConfig, MissingEmptyAndBinaryValuesReadAsAbsent) {
    static const char binary[] = "[MervixSystem]\nModelName=\nMapFile=\0abc\n[ScannerInfo]\n0=\x01\x02\n";
    WriteIni(std::string(binary, sizeof binary - 1));
    char model[CFG_MODEL_NAME_CHARS];
    EXPECT_EQ(ReadModelName(model), 0u);
    char path[CFG_MAP_FILE_CHARS];
    EXPECT_EQ(ReadMapFile(path), 0u);  // the value starts with a zero byte
    char dir[CFG_LIBRARY_DIR_CHARS];
    EXPECT_EQ(ReadSharedLibraryDir(dir), 0u);
    EXPECT_STREQ(dir, "");
    uint16_t address = 0;
    EXPECT_TRUE(ReadScanPortEntry(0, &address));  // present, however meaningless

    SuiteConfigUseFile((g_path + ".missing").c_str());
    EXPECT_EQ(ReadModelName(model), 0u);
    uint16_t list[4];
    EXPECT_EQ(ReadScannerInfoList(list, 4), 0u);
    char none[1] = {'x'};
    EXPECT_EQ(ReadSuiteValue("ScanDLL", "DLL32", none, 0), 0u);
    EXPECT_EQ(none[0], 'x');
}

}  // namespace
