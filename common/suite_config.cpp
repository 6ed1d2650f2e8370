// Reader of "MERVIX.INI". On Windows every value comes from the profile
// functions; the host build parses the file itself with the same rules
// (names without regard to case, surrounding blanks and one pair of quotes
// dropped) so that the list and cut-off logic is tested in both builds.
#include "suite_config.h"

#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

#ifdef _WIN32

void ReadProfileText(const char *section, const char *key, char *buffer, uint32_t size) {
    GetPrivateProfileStringA(section, key, "", buffer, size, SUITE_CONFIG_FILE);
}

#else

char g_configPath[1024];

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Trims [begin, end) of blanks on both sides.
void Trim(const char *&begin, const char *&end) {
    while (begin < end && IsBlank(*begin)) ++begin;
    while (end > begin && IsBlank(end[-1])) --end;
}

bool SameName(const char *begin, const char *end, const char *name) {
    size_t length = (size_t)(end - begin);
    if (strlen(name) != length) return false;
    for (size_t i = 0; i < length; ++i) {
        char a = begin[i], b = name[i];
        if (a >= 'A' && a <= 'Z') a = (char)(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = (char)(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

// One line without its end; a line longer than the buffer is taken by its
// start only. False at the end of the file.
bool ReadLine(FILE *file, char *line, size_t size) {
    size_t length = 0;
    int c = fgetc(file);
    if (c == EOF) return false;
    while (c != EOF && c != '\n') {
        if (length + 1 < size) line[length++] = (char)c;
        c = fgetc(file);
    }
    line[length] = 0;
    return true;
}

void ReadProfileText(const char *section, const char *key, char *buffer, uint32_t size) {
    if (!g_configPath[0]) return;
    FILE *file = fopen(g_configPath, "rb");
    if (!file) return;
    char line[1024];
    bool inSection = false;
    bool found = false;
    while (!found && ReadLine(file, line, sizeof line)) {
        const char *begin = line;
        const char *end = line + strlen(line);
        Trim(begin, end);
        if (begin == end || *begin == ';') continue;
        if (*begin == '[') {
            const char *close = (const char *)memchr(begin, ']', (size_t)(end - begin));
            const char *nameBegin = begin + 1;
            const char *nameEnd = close ? close : end;
            Trim(nameBegin, nameEnd);
            inSection = SameName(nameBegin, nameEnd, section);
            continue;
        }
        if (!inSection) continue;
        const char *equals = (const char *)memchr(begin, '=', (size_t)(end - begin));
        if (!equals) continue;
        const char *keyBegin = begin;
        const char *keyEnd = equals;
        Trim(keyBegin, keyEnd);
        if (!SameName(keyBegin, keyEnd, key)) continue;
        const char *valueBegin = equals + 1;
        const char *valueEnd = end;
        Trim(valueBegin, valueEnd);
        if (valueEnd - valueBegin >= 2 && (*valueBegin == '"' || *valueBegin == '\'') &&
            valueEnd[-1] == *valueBegin) {
            ++valueBegin;
            --valueEnd;
        }
        size_t length = (size_t)(valueEnd - valueBegin);
        if (length > size - 1) length = size - 1;
        memcpy(buffer, valueBegin, length);
        buffer[length] = 0;
        found = true;
    }
    fclose(file);
}

#endif

}  // namespace

#ifndef _WIN32
void SuiteConfigUseFile(const char *path) {
    g_configPath[0] = 0;
    if (path) snprintf(g_configPath, sizeof g_configPath, "%s", path);
}
#endif

uint32_t ReadSuiteValue(const char *section, const char *key, char *buffer, uint32_t size) {
    if (!buffer || size == 0) return 0;
    buffer[0] = 0;
    ReadProfileText(section, key, buffer, size);
    // Presence is what the text holds: the count the profile call returns
    // would also count bytes after an embedded zero of a binary value.
    buffer[size - 1] = 0;
    return (uint32_t)strlen(buffer);
}

uint32_t ReadCommandLibraryPath(char *buffer, uint32_t size) {
    return ReadSuiteValue(CFG_SECTION_SCAN_DLL, CFG_KEY_DLL32, buffer, size);
}

uint32_t ReadSharedLibraryDir(char (&buffer)[CFG_LIBRARY_DIR_CHARS]) {
    return ReadSuiteValue(CFG_SECTION_SYSTEM, CFG_KEY_DLL32, buffer, CFG_LIBRARY_DIR_CHARS);
}

uint32_t ReadModelName(char (&buffer)[CFG_MODEL_NAME_CHARS]) {
    return ReadSuiteValue(CFG_SECTION_SYSTEM, CFG_KEY_MODEL_NAME, buffer, CFG_MODEL_NAME_CHARS);
}

uint32_t ReadMapFile(char (&buffer)[CFG_MAP_FILE_CHARS]) {
    return ReadSuiteValue(CFG_SECTION_SYSTEM, CFG_KEY_MAP_FILE, buffer, CFG_MAP_FILE_CHARS);
}

uint32_t ReadSuiteGroup(char (&buffer)[CFG_GROUP_CHARS]) {
    return ReadSuiteValue(CFG_SECTION_SYSTEM, CFG_KEY_GROUP, buffer, CFG_GROUP_CHARS);
}

uint16_t ParseHexWord(const char *text) {
    uint32_t value = 0;
    for (const char *p = text; *p; ++p) {
        // Signed, as the characters are: bytes above 127 count as negative.
        int c = (signed char)*p;
        int digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
        value = value * 16u + (uint32_t)digit;
    }
    return (uint16_t)value;
}

bool ReadScanPortEntry(uint32_t position, uint16_t *address) {
    char key[12];
    snprintf(key, sizeof key, "%d", (int)position);
    char value[CFG_SCANNER_INFO_CHARS];
    if (ReadSuiteValue(CFG_SECTION_SCANNER_INFO, key, value, sizeof value) == 0) return false;
    *address = ParseHexWord(value);
    return true;
}

uint32_t ReadScannerInfoList(uint16_t *addresses, uint32_t capacity) {
    if (!addresses) return 0;
    if (capacity > CFG_SCANNER_INFO_MAX) capacity = CFG_SCANNER_INFO_MAX;
    uint32_t count = 0;
    while (count < capacity && ReadScanPortEntry(count, &addresses[count])) ++count;
    return count;
}
