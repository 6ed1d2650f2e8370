// Reader of the suite configuration file "MERVIX.INI" in the Windows
// directory. The suite only reads it; a missing file, section or key reads
// as an empty value, and every value is cut to its buffer.
#pragma once

#include <stdint.h>

#define SUITE_CONFIG_FILE "MERVIX.INI"

#define CFG_SECTION_SCAN_DLL "ScanDLL"
#define CFG_SECTION_SYSTEM "MervixSystem"
#define CFG_SECTION_SCANNER_INFO "ScannerInfo"
#define CFG_KEY_DLL32 "DLL32"
#define CFG_KEY_MODEL_NAME "ModelName"
#define CFG_KEY_MAP_FILE "MapFile"
#define CFG_KEY_GROUP "Group"

// Buffer sizes in characters, the terminating zero included.
enum : uint32_t {
    CFG_LIBRARY_PATH_UTILITY_CHARS = 128,  // [ScanDLL] DLL32 as the utility reads it
    CFG_LIBRARY_PATH_CHARS = 260,          // [ScanDLL] DLL32 as the button monitor reads it
    CFG_LIBRARY_DIR_CHARS = 260,           // [MervixSystem] DLL32
    CFG_MODEL_NAME_CHARS = 40,             // [MervixSystem] ModelName
    CFG_MAP_FILE_CHARS = 260,              // [MervixSystem] MapFile
    CFG_GROUP_CHARS = 260,                 // [MervixSystem] Group
    CFG_SCANNER_INFO_CHARS = 12,           // one [ScannerInfo] value
    CFG_SCANNER_INFO_MAX = 40,             // addresses in the [ScannerInfo] list
};

// Reads one value with an empty default into `buffer` (`size` characters
// with the terminating zero). Returns the length of the text read; 0 means
// missing or empty. A value longer than the buffer is cut to size - 1.
// With size 0 nothing is written.
uint32_t ReadSuiteValue(const char *section, const char *key, char *buffer, uint32_t size);

// [ScanDLL] DLL32: full path of the command library. `size` is 128 for the
// utility and 260 for the button monitor.
uint32_t ReadCommandLibraryPath(char *buffer, uint32_t size);
// [MervixSystem] DLL32: directory of the suite's shared libraries (ends in
// a path separator).
uint32_t ReadSharedLibraryDir(char (&buffer)[CFG_LIBRARY_DIR_CHARS]);
// [MervixSystem] ModelName.
uint32_t ReadModelName(char (&buffer)[CFG_MODEL_NAME_CHARS]);
// [MervixSystem] MapFile.
uint32_t ReadMapFile(char (&buffer)[CFG_MAP_FILE_CHARS]);
// [MervixSystem] Group.
uint32_t ReadSuiteGroup(char (&buffer)[CFG_GROUP_CHARS]);

// Hexadecimal text to a 16-bit address: every character goes through the
// same digit arithmetic, none is rejected (so "0x378" reads as another
// address). The result is the low 16 bits.
uint16_t ParseHexWord(const char *text);

// [ScannerInfo] key `position` ("%d"): false when missing or empty,
// otherwise the parsed address.
bool ReadScanPortEntry(uint32_t position, uint16_t *address);

// The [ScannerInfo] list: keys "0", "1", ... up to the first missing or
// empty one, at most `capacity` (and at most CFG_SCANNER_INFO_MAX) entries.
// Returns the number of addresses stored.
uint32_t ReadScannerInfoList(uint16_t *addresses, uint32_t capacity);

#ifndef _WIN32
// Host build only: the file the reader parses in place of the Windows
// directory's MERVIX.INI (null: every value reads as missing).
void SuiteConfigUseFile(const char *path);
#endif
