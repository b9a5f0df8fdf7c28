// What the row pipeline asks of the platform: a processor for its worker
// other than the caller's, and memory for its ring that is quick to touch.
#pragma once

#include <cstddef>
#include <cstdint>

// Left alone, Linux starts a new thread on its creator's processor and
// seldom moves either while both keep busy: on a 2-core machine the caller
// and the worker of a load then took turns on one core for the whole call,
// and the second core stayed idle. So the worker keeps off the caller's.

// How many processors this process may run on (its affinity, where the
// platform tells it), or 0 when that is unknown.
unsigned UsableProcessors();

// The processor the calling thread runs on now, or -1 where that cannot be told.
int CurrentProcessor();

// Keeps the calling thread off `processor` from now on, where the process
// may run on another one too; otherwise (or where the platform cannot) does
// nothing.
void AvoidProcessor(int processor);

// A block for the ring, 16-byte aligned, or null when there is no memory.
// A fresh ring's pages are touched first in the middle of a load or write:
// on Linux the block is backed by 2 MiB pages where it is large enough, so
// that it takes one page fault instead of several hundred (about a
// millisecond, at the start of a load, that the other stage waits).
class RingMemory {
public:
    explicit RingMemory(size_t bytes);
    ~RingMemory();
    RingMemory(const RingMemory&) = delete;
    RingMemory& operator=(const RingMemory&) = delete;

    uint8_t* Data() const { return data; }

private:
    void* block = nullptr;
    uint8_t* data = nullptr;
};
