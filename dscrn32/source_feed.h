// Source lines for the line pipeline, read from the run's file in chunks
// of whole lines into an area of the ring's movable block.  Where the
// process has two processors or more and the image is large, a reading
// thread fills chunks while the pipeline filters the lines already in, so
// that the file's reads and the filtering overlap; otherwise the pipeline
// fills them itself.  Either way the file is read only while a DoFilter
// call runs, never past the image's last line, and a line the file does
// not hold in full fails only on the call that needs it.
#pragma once

#include <windows.h>

#include <stdint.h>

struct SourceFeed;

// How the area is divided: chunks of `chunkLines` lines, `chunks` of them
// reused in turn, each `chunkStride` bytes apart.
struct FeedLayout {
    uint32_t chunkLines;
    uint32_t chunkStride;
    uint32_t chunks;
    uint32_t areaBytes;  // chunks * chunkStride, plus slack for reads past a line's end
};

// The layout for lines of `lineBytes`, of which `windowLines` are in use
// at a time; false if the area would not fit a global memory block.
bool PlanFeed(uint32_t lineBytes, uint32_t lines, uint32_t windowLines, FeedLayout* layout);

// A feed of the image's `lines` lines from `file`, read from its current
// position; null if memory runs out.  No thread runs yet.
SourceFeed* OpenFeed(HANDLE file, uint32_t lineBytes, uint32_t lines, uint32_t windowLines,
                     const FeedLayout& layout);
// Ends the reading thread, if one runs, and frees the feed.
void CloseFeed(SourceFeed* feed);

// Between these two the feed may read into `area`; FeedEndCall returns
// only when no read is in progress, so the block can be unlocked.
void FeedBeginCall(SourceFeed* feed, uint8_t* area);
void FeedEndCall(SourceFeed* feed);

// Waits for the next source line (each is taken once, in order) and gives
// its offset in the area; false if the file does not hold it in full.
// Taking a line frees the one `windowLines` before it.
bool FeedNextLine(SourceFeed* feed, uint32_t* offset);
