// The command handlers behind ScannerCommander, one per command code. Each
// sets the block's status; the dispatcher has set it to 0 before.
#pragma once

#include "scanner_commander.h"

typedef void (*CommandHandler)(CommandBlock *block);

// Handlers indexed by command code 0 .. SC_LAST_COMMAND.
extern const CommandHandler kCommandHandlers[SC_LAST_COMMAND + 1];

// Owner-only commands: SCF_ACQUIRED set and the block presents the stored id.
bool PresentsOwner(const CommandBlock *block);

// Scan commands (scan_run.cpp).
void CmdGetScanLayout(CommandBlock *block);
void CmdSetScanParams(CommandBlock *block);
void CmdStartScan(CommandBlock *block);
void CmdReadLines(CommandBlock *block);
void CmdStopScan(CommandBlock *block);
