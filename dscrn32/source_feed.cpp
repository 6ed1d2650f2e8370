// The source feed: chunks of whole lines read from the file, by a reading
// thread where that pays, and by the pipeline itself whenever it needs a
// chunk that is not in yet and no read is under way.
//
// Chunk n holds lines n * chunkLines onward and lies in slot n % chunks.
// Whoever holds `reading` fills chunk `filled` once chunk `filled - chunks`
// is free, that is below `freeBelow`, the chunk of the oldest line the
// pipeline's window still holds.  Each side publishes with a locked
// exchange, which also orders it against what the side reads next.
#include "source_feed.h"

#include <immintrin.h>

namespace {

enum : uint32_t {
    CHUNK_TARGET_BYTES = 32u << 10,  // one read: short enough that ending a call waits little
    AHEAD_CHUNKS = 6,                // chunks the reader may be ahead of the window
    BIG_CHUNK_BYTES = 1u << 20,      // past this, one chunk ahead is all the area holds
    MAX_CHUNKS = 16,
    AREA_SLACK = 64,                    // the line routines read a few pixels past a line
    THREAD_MIN_BYTES = 1u << 20,        // smaller images are read before a thread would start
    SPIN_ROUNDS = 4000,                 // about 100 us of pause before the reader sleeps
    READER_STACK = 64u << 10,
};

enum : LONG { FEED_PAUSE, FEED_RUN, FEED_EXIT };

// What a sleeping reader waits for, and so who must wake it.
enum : LONG { AWAKE, WAIT_ROOM, WAIT_RUN, WAIT_EXIT };

}  // namespace

// Where the next line to take lies, and how far into its chunk the
// oldest line of the window is.
struct NextLine {
    uint32_t line, chunk, slot, inChunk;
    uint32_t oldestInChunk;
};

struct SourceFeed {
    HANDLE file;
    uint32_t lineBytes, lines, windowLines;
    FeedLayout layout;
    uint32_t chunkCount;
    bool threadChosen;  // the first call has decided whether a thread reads
    bool hasReader;
    HANDLE wake;        // auto-reset: a sleeping reader has something to look at
    HMODULE module;     // the reader's own reference to this library

    // pipeline to reader
    volatile LONG command;
    uint8_t* volatile area;
    volatile LONG freeBelow;
    // reader to pipeline
    volatile LONG filled;  // chunks read, the last of them short if `ended`
    volatile LONG ended;   // the file held no more: no chunk comes after `filled`
    volatile LONG reading;  // taken by whoever reads the next chunk
    volatile LONG sleeping;
    volatile LONG holders;  // with a reader: it and the pipeline
    uint32_t got[MAX_CHUNKS];  // bytes in each slot
    NextLine next;             // the pipeline's own
};

namespace {

uint32_t Load(const volatile LONG& v)
{
    return static_cast<uint32_t>(v);
}

void Publish(volatile LONG* v, uint32_t value)
{
    InterlockedExchange(v, static_cast<LONG>(value));
}

// The lines read by the reader are filtered on another processor: out of
// this one's cache into the shared cache with them, so that the filter does
// not fetch each from here.  Processors without the instruction take it as
// a no-op, and it is only a hint where they have it.
__attribute__((target("cldemote"))) void DemoteToSharedCache(uint8_t* p, uint32_t bytes)
{
    for (uint32_t at = 0; at < bytes; at += 64)
        _cldemote(p + at);
}

// The next chunk if it is due and its slot is free; true if it was read
// (in full or, at the file's end, in part).  The reader reads for the
// pipeline's processor, the pipeline for its own.
bool FillOne(SourceFeed* f, uint8_t* area, bool forOtherProcessor)
{
    const uint32_t seq = Load(f->filled);
    if (seq >= f->chunkCount || Load(f->ended) || seq - Load(f->freeBelow) >= f->layout.chunks)
        return false;
    const uint32_t slot = seq % f->layout.chunks;
    const uint32_t first = seq * f->layout.chunkLines;
    const uint32_t count = f->lines - first < f->layout.chunkLines ? f->lines - first : f->layout.chunkLines;
    const uint32_t want = count * f->lineBytes;
    uint8_t* dst = area + static_cast<size_t>(slot) * f->layout.chunkStride;
    uint32_t total = 0;
    while (total < want) {
        DWORD got = 0;
        if (!ReadFile(f->file, dst + total, want - total, &got, nullptr) || got == 0)
            break;
        total += got;
    }
    if (forOtherProcessor)
        DemoteToSharedCache(dst, total);
    f->got[slot] = total;
    if (total < want)
        Publish(&f->ended, 1);
    Publish(&f->filled, seq + 1);
    return true;
}

bool TryTake(volatile LONG* lock)
{
    return InterlockedCompareExchange(lock, 1, 0) == 0;
}

// Spins while stillIdle() holds, then sleeps as `why` until woken; returns
// at once if the reader has been told to exit.  With nothing left to read
// it sleeps without spinning.
template <class StillIdle>
void Idle(SourceFeed* f, LONG why, StillIdle stillIdle)
{
    if (why != WAIT_EXIT)
        for (uint32_t i = 0; i < SPIN_ROUNDS; i++) {
            if (f->command == FEED_EXIT || !stillIdle())
                return;
            _mm_pause();
        }
    Publish(&f->sleeping, static_cast<uint32_t>(why));
    if (f->command != FEED_EXIT && stillIdle())
        WaitForSingleObject(f->wake, INFINITE);
    Publish(&f->sleeping, AWAKE);
}

// Each of the pipeline and the reader holds the feed until it lets go.
void LetGo(SourceFeed* f)
{
    if (InterlockedDecrement(&f->holders) == 0) {
        CloseHandle(f->wake);
        HeapFree(GetProcessHeap(), 0, f);
    }
}

DWORD WINAPI ReaderMain(void* param)
{
    SourceFeed* f = static_cast<SourceFeed*>(param);
    for (;;) {
        // Read only while a call runs: the pipeline pauses the feed before
        // it takes `reading` back at the end of a call.
        bool read = false;
        if (TryTake(&f->reading)) {
            if (f->command == FEED_RUN)
                read = FillOne(f, f->area, true);
            Publish(&f->reading, 0);
        }
        const LONG command = f->command;
        if (command == FEED_EXIT)
            break;
        if (read)
            continue;
        if (command != FEED_RUN) {
            Idle(f, WAIT_RUN, [f, command] { return f->command == command; });
        } else if (Load(f->filled) >= f->chunkCount || Load(f->ended)) {
            Idle(f, WAIT_EXIT, [] { return true; });  // this run has nothing left to read
        } else {
            // No room yet, or the pipeline is reading.
            const LONG freeBelow = f->freeBelow, filled = f->filled;
            Idle(f, WAIT_ROOM, [f, freeBelow, filled] {
                return f->command == FEED_RUN && f->freeBelow == freeBelow && f->filled == filled;
            });
        }
    }
    const HMODULE module = f->module;
    LetGo(f);
    FreeLibraryAndExitThread(module, 0);
}

uint32_t ProcessorsForThisProcess()
{
    DWORD_PTR process = 0, system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
        return 1;
    uint32_t n = 0;
    for (; process; process &= process - 1)
        n++;
    return n;
}

// A reading thread pays only with a processor to run on beside this one
// and more image than the area holds at once.
bool WantsThread(const SourceFeed* f)
{
    const uint64_t imageBytes = static_cast<uint64_t>(f->lines) * f->lineBytes;
    return imageBytes >= THREAD_MIN_BYTES && f->chunkCount > f->layout.chunks && ProcessorsForThisProcess() >= 2;
}

void StartReader(SourceFeed* f)
{
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&ReaderMain)), &f->module))
        return;
    f->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    f->holders = 2;
    HANDLE thread = f->wake ? CreateThread(nullptr, READER_STACK, ReaderMain, f, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr)
                            : nullptr;
    if (thread) {
        CloseHandle(thread);  // nobody waits for it: it ends on its own
        f->hasReader = true;
        return;
    }
    // The pipeline reads for itself.
    if (f->wake)
        CloseHandle(f->wake);
    f->wake = nullptr;
    FreeLibrary(f->module);
    f->module = nullptr;
}

void Wake(SourceFeed* f)
{
    SetEvent(f->wake);
}

}  // namespace

bool PlanFeed(uint32_t lineBytes, uint32_t lines, uint32_t windowLines, FeedLayout* layout)
{
    if (lineBytes == 0 || windowLines == 0)
        return false;
    uint64_t chunkLines = CHUNK_TARGET_BYTES / lineBytes;
    if (chunkLines == 0)
        chunkLines = 1;
    if (lines > 0 && chunkLines > lines)
        chunkLines = lines;
    const uint64_t stride = (chunkLines * lineBytes + 63u) & ~uint64_t{63};
    const uint64_t chunkCount = lines == 0 ? 1 : (lines + chunkLines - 1) / chunkLines;
    // The window and the line being taken in span at most this many chunks.
    const uint64_t window = (windowLines + chunkLines - 1) / chunkLines + 1;
    uint64_t chunks = window + (stride <= BIG_CHUNK_BYTES ? uint32_t{AHEAD_CHUNKS} : 1u);
    if (chunks > chunkCount)
        chunks = chunkCount;  // the whole image fits: no slot is used twice
    const uint64_t areaBytes = chunks * stride + AREA_SLACK;
    if (chunks > MAX_CHUNKS || areaBytes > 0x7FFF0000u)
        return false;
    layout->chunkLines = static_cast<uint32_t>(chunkLines);
    layout->chunkStride = static_cast<uint32_t>(stride);
    layout->chunks = static_cast<uint32_t>(chunks);
    layout->areaBytes = static_cast<uint32_t>(areaBytes);
    return true;
}

SourceFeed* OpenFeed(HANDLE file, uint32_t lineBytes, uint32_t lines, uint32_t windowLines,
                     const FeedLayout& layout)
{
    void* memory = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(SourceFeed));
    if (!memory)
        return nullptr;
    SourceFeed* f = static_cast<SourceFeed*>(memory);
    f->file = file;
    f->lineBytes = lineBytes;
    f->lines = lines;
    f->windowLines = windowLines;
    f->layout = layout;
    f->chunkCount = lines == 0 ? 0 : (lines + layout.chunkLines - 1) / layout.chunkLines;
    f->command = FEED_PAUSE;
    return f;
}

void CloseFeed(SourceFeed* f)
{
    if (!f)
        return;
    if (f->hasReader) {
        // The caller does not wait for the thread to end: the last of the
        // two to let go frees the feed.
        Publish(&f->command, FEED_EXIT);
        Wake(f);
        LetGo(f);
        return;
    }
    HeapFree(GetProcessHeap(), 0, f);
}

void FeedBeginCall(SourceFeed* f, uint8_t* area)
{
    if (!f->threadChosen) {
        f->threadChosen = true;
        if (WantsThread(f))
            StartReader(f);
    }
    f->area = area;
    if (!f->hasReader)
        return;
    Publish(&f->command, FEED_RUN);
    if (Load(f->sleeping) == WAIT_RUN)
        Wake(f);
}

void FeedEndCall(SourceFeed* f)
{
    if (f->hasReader) {
        Publish(&f->command, FEED_PAUSE);
        while (Load(f->reading))
            _mm_pause();
    }
    f->area = nullptr;
}

bool FeedNextLine(SourceFeed* f, uint32_t* offset)
{
    // Lines come in order, so where they lie is counted on, not divided out.
    NextLine& next = f->next;
    if (next.line >= f->windowLines && ++next.oldestInChunk == f->layout.chunkLines) {
        next.oldestInChunk = 0;
        Publish(&f->freeBelow, Load(f->freeBelow) + 1);  // the window has left a chunk
        if (f->hasReader && Load(f->sleeping) == WAIT_ROOM)
            Wake(f);
    }
    const uint32_t seq = next.chunk;
    for (uint32_t spins = 0; Load(f->filled) <= seq; spins++) {
        if (Load(f->ended)) {
            if (Load(f->filled) > seq)
                break;
            return false;  // the file ended before this line
        }
        if (TryTake(&f->reading)) {
            // Needed now and nobody reading: read it here rather than wait
            // for a reader that may not have started or may have lost its processor.
            const bool read = FillOne(f, f->area, false);
            Publish(&f->reading, 0);
            // No room for the chunk the window needs would be a fault in
            // the layout: fail the run rather than wait for ever.
            if (!read && Load(f->filled) <= seq && !Load(f->ended))
                return false;
        } else if (spins % 1024 == 1023) {
            SwitchToThread();
        } else {
            _mm_pause();
        }
    }
    const uint32_t within = next.inChunk * f->lineBytes;
    if (f->got[next.slot] < within + f->lineBytes)
        return false;
    *offset = next.slot * f->layout.chunkStride + within;
    next.line++;
    if (++next.inChunk == f->layout.chunkLines) {
        next.inChunk = 0;
        next.chunk++;
        next.slot = next.slot + 1 == f->layout.chunks ? 0 : next.slot + 1;
    }
    return true;
}
