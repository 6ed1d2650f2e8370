#include "monitor_logic.h"

#include <string.h>

ButtonStep NextButtonState(int32_t state, bool buttonDown) {
    if (buttonDown) {
        // Only a down seen after an up is a press; a button held at start is not.
        return {BUTTON_STATE_PRESSED, state == BUTTON_STATE_RELEASED};
    }
    return {BUTTON_STATE_RELEASED, false};
}

MonitorOption ParseMonitorOption(const char *tail) {
    if (!tail) return OPTION_RUN_MONITOR;
    static const struct {
        const char *text;
        MonitorOption option;
    } options[] = {
        {"/S", OPTION_OPEN_SETUP}, {"/s", OPTION_OPEN_SETUP}, {"/D", OPTION_LAUNCH},
        {"/d", OPTION_LAUNCH},     {"/Q", OPTION_QUIT},       {"/q", OPTION_QUIT},
    };
    for (const auto &o : options)
        if (strcmp(tail, o.text) == 0) return o.option;
    return OPTION_RUN_MONITOR;
}

void CopyCut(char *dest, size_t size, const char *source) {
    if (size == 0) return;
    size_t n = source ? strlen(source) : 0;
    if (n > size - 1) n = size - 1;
    if (n) memcpy(dest, source, n);
    dest[n] = 0;
}

uint32_t ReplaceToken(char *text, size_t size, const char *token, const char *argument, bool *cut) {
    if (cut) *cut = false;
    if (!text || size == 0 || !token || !*token) return 0;
    const size_t tokenLength = strlen(token);
    const size_t argumentLength = argument ? strlen(argument) : 0;
    uint32_t replaced = 0;
    size_t from = 0;
    for (;;) {
        char *found = strstr(text + from, token);
        if (!found) break;
        const size_t at = size_t(found - text);
        const size_t length = strlen(text);
        const size_t restLength = length - at - tokenLength;
        // Room from `at` to the end of the buffer, the zero excluded.
        const size_t room = size - 1 - at;
        size_t put = argumentLength < room ? argumentLength : room;
        size_t keep = restLength < room - put ? restLength : room - put;
        if (put < argumentLength || keep < restLength) {
            if (cut) *cut = true;
        }
        memmove(text + at + put, found + tokenLength, keep);
        if (put) memcpy(text + at, argument, put);
        text[at + put + keep] = 0;
        ++replaced;
        from = at + put;
    }
    return replaced;
}

void SubstituteArguments(char *text, size_t size, uint32_t count, const char *const *arguments) {
    for (uint32_t i = 1; i <= count; ++i) {
        char token[16] = "%";
        uint32_t n = i, digits = 0;
        char reversed[12];
        do {
            reversed[digits++] = char('0' + n % 10);
            n /= 10;
        } while (n);
        for (uint32_t d = 0; d < digits; ++d) token[1 + d] = reversed[digits - 1 - d];
        token[1 + digits] = 0;
        ReplaceToken(text, size, token, arguments[i - 1], nullptr);
    }
}

ExpandResult ExpandActionValue(const char *value, const char *programs, const char *startup,
                               char *out, size_t outSize) {
    if (!value || !out || outSize == 0) return EXPAND_NOTHING;
    const bool hasPrograms = strstr(value, "%1") != nullptr;
    const bool hasStartup = strstr(value, "%2") != nullptr;
    if (!hasPrograms && !hasStartup) return EXPAND_NOTHING;
    if ((hasPrograms && (!programs || !*programs)) || (hasStartup && (!startup || !*startup)))
        return EXPAND_NO_FOLDER;
    // Work in a buffer with room to spare so a cut shows as too long.
    char work[4096];
    if (strlen(value) >= sizeof(work)) return EXPAND_TOO_LONG;
    CopyCut(work, sizeof(work), value);
    bool cut1 = false, cut2 = false;
    if (hasPrograms) ReplaceToken(work, sizeof(work), "%1", programs, &cut1);
    // The Startup pass starts again from the beginning of the value.
    if (strstr(work, "%2")) ReplaceToken(work, sizeof(work), "%2", startup && *startup ? startup : "", &cut2);
    if (cut1 || cut2 || strlen(work) >= outSize) return EXPAND_TOO_LONG;
    CopyCut(out, outSize, work);
    return EXPAND_DONE;
}

void SplitActionValue(const char *value, char *folder, size_t folderSize, char *name, size_t nameSize) {
    if (folderSize) folder[0] = 0;
    if (nameSize) name[0] = 0;
    if (!value) return;
    const char *slash = strrchr(value, '\\');
    if (!slash) {
        CopyCut(name, nameSize, value);
        return;
    }
    size_t n = size_t(slash - value);
    if (folderSize) {
        if (n > folderSize - 1) n = folderSize - 1;
        memcpy(folder, value, n);
        folder[n] = 0;
    }
    CopyCut(name, nameSize, slash + 1);
}

bool JoinPath(const char *folder, const char *name, const char *suffix, char *out, size_t outSize) {
    if (outSize == 0) return false;
    out[0] = 0;
    const size_t a = folder ? strlen(folder) : 0, b = name ? strlen(name) : 0, c = suffix ? strlen(suffix) : 0;
    if (a + 1 + b + c > outSize - 1) return false;
    if (a) memcpy(out, folder, a);
    out[a] = '\\';
    if (b) memcpy(out + a + 1, name, b);
    if (c) memcpy(out + a + 1 + b, suffix, c);
    out[a + 1 + b + c] = 0;
    return true;
}

bool IsStorableName(const char *name) {
    if (!name) return false;
    const char *p = name;
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p || *p == '[' || *p == ';') return false;
    return strchr(name, '=') == nullptr;
}
