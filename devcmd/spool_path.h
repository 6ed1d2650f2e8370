// Where a stretched scan spools its native lines. Platform-free.
#pragma once

#include <stdint.h>

enum : uint32_t { SPOOL_PATH_CHARS = 260 };

#define SPOOL_FILE_NAME "ORVSPOOL.TMP"

// "ORVSPOOL.TMP" in the temporary-files directory `tempPath` (as
// GetTempPathA gives it, `tempLength` characters) into `spoolPath` of
// SPOOL_PATH_CHARS. A directory that leaves no room gives an empty path.
void ComposeSpoolPath(char *spoolPath, const char *tempPath, uint32_t tempLength);
