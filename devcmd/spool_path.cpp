#include "spool_path.h"

#include <string.h>

void ComposeSpoolPath(char *spoolPath, const char *tempPath, uint32_t tempLength) {
    spoolPath[0] = 0;
    if (tempLength == 0 || tempLength >= SPOOL_PATH_CHARS) return;
    bool separator = tempPath[tempLength - 1] == '\\' || tempPath[tempLength - 1] == '/';
    size_t needed = tempLength + (separator ? 0 : 1) + strlen(SPOOL_FILE_NAME);
    // No truncated name: it could name some other file, which the end of a
    // scan would delete. An empty path makes a stretched scan fail instead.
    if (needed >= SPOOL_PATH_CHARS) return;
    memcpy(spoolPath, tempPath, tempLength);
    size_t at = tempLength;
    if (!separator) spoolPath[at++] = '\\';
    strcpy(spoolPath + at, SPOOL_FILE_NAME);
}

