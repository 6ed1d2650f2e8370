// Platform-free rules of the button monitor: the poll state machine, the
// command-line options, token substitution and the path joins of the
// setup dialog. Kept free of windows.h so the host build tests them.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum : int32_t {
    BUTTON_STATE_INITIAL = -1,
    BUTTON_STATE_RELEASED = 0,
    BUTTON_STATE_PRESSED = 1,
};

struct ButtonStep {
    int32_t state;  // the state after this tick
    bool launch;    // this tick saw a press: post the launch request
};

// One tick of the poll state machine.
ButtonStep NextButtonState(int32_t state, bool buttonDown);

enum MonitorOption : int32_t {
    OPTION_RUN_MONITOR = 0,
    OPTION_OPEN_SETUP = 1,   // "/S", "/s"
    OPTION_LAUNCH = 2,       // "/D", "/d"
    OPTION_QUIT = 3,         // "/Q", "/q"
};

// The command-line tail (after the program name and its blanks), compared
// as a whole. Null reads as an empty tail.
MonitorOption ParseMonitorOption(const char *tail);

// Replaces every occurrence of `token` in `text` (a zero-terminated text in
// a buffer of `size` bytes) by `argument`. The search goes on after each
// inserted argument, so an argument holding the token does not recur.
// Returns the number of replacements; *cut is set when the result had to
// be cut to the buffer.
uint32_t ReplaceToken(char *text, size_t size, const char *token, const char *argument, bool *cut);

// ShowResourceMessage's substitution: argument i replaces every "%i".
void SubstituteArguments(char *text, size_t size, uint32_t count, const char *const *arguments);

enum ExpandResult : int32_t {
    EXPAND_NOTHING = 0,    // no placeholder: leave the stored value alone
    EXPAND_DONE = 1,       // `out` holds the expanded value
    EXPAND_TOO_LONG = 2,   // the expansion would not fit: leave it alone
    EXPAND_NO_FOLDER = 3,  // a placeholder's folder is unknown: leave it alone
};

// Expands "%1" (Programs folder) and "%2" (Startup folder) in an action
// value into `out` of `outSize` bytes. A folder given as null or empty is
// unknown.
ExpandResult ExpandActionValue(const char *value, const char *programs, const char *startup,
                               char *out, size_t outSize);

// Splits a stored action value at its last backslash into the folder
// before it and the file name after it, each cut to its buffer. A value
// without a backslash has no folder and is all file name.
void SplitActionValue(const char *value, char *folder, size_t folderSize, char *name,
                      size_t nameSize);

// folder + "\" + name (+ suffix, may be null) into out; false, with out
// empty, when the whole would not fit.
bool JoinPath(const char *folder, const char *name, const char *suffix, char *out, size_t outSize);

// Whether an application name can be a key of "Detect.ini" and be found
// again: not empty, no "=", and not read as a section or a comment.
bool IsStorableName(const char *name);

// Copies at most size - 1 characters and always terminates (size > 0).
void CopyCut(char *dest, size_t size, const char *source);
