// The scan run: commands 9 and 16 to 19, the spool file of a rescaled
// scan and the delivery of its stretched lines.
#pragma once

#include "scanner_commander.h"

// Closes and deletes the spool file and frees the line buffer of the
// current scan, if any: the end of every scan (stop, restart, release, and
// the unload of the process that made them).
void DiscardSpool();
// True when this process made the spool file or line buffer of the scan.
bool SpoolIsHere();

// Part of SC_START_SCAN: decides whether the scan is rescaled and, if so,
// rewrites the stored parameters for the scanner. SCS_OK, or a status
// that ends the start before the parameters are sent.
int16_t PrepareRescaling();
// Part of SC_READ_LINES of a rescaled scan.
int16_t FillSpool(CommandBlock *block);
void DeliverRescaledLines(CommandBlock *block);
