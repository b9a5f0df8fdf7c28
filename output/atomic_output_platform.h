// What AtomicOutput asks of the platform; atomic_output_posix.cpp and
// atomic_output_win32.cpp answer it, one of them chosen by CMake.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace atomic_output {

enum class TargetKind {
    Missing, // nothing of that name yet: created
    Regular, // a regular file: replaced, or written in place
    Device,  // anything else a "wb" open writes to: written in place
};

struct TargetFacts {
    std::string path; // the file a "wb" open would write: symbolic links followed
    TargetKind kind = TargetKind::Missing;
    // A replacement would lose what the file has (hard links), or could not
    // be moved into place (an append-only folder).
    bool inPlace = false;
    // Regular files: what a replacement takes over (POSIX).
    unsigned mode = 0;
    unsigned owner = 0;
    unsigned group = 0;
};

// Finds what a "wb" open of `target` would write. 0, with errno set as the
// open would set it, when such an open is refused (a file this process may
// not write, a folder, a name that cannot be reached).
int InspectTarget(const char* target, TargetFacts& facts);

// Opens `name` for binary writing only if no file of that name exists
// (errno EEXIST otherwise). Null with errno set on failure.
FILE* CreateExclusive(const char* name);

// Gives a new replacement what the file it will replace carries besides its
// bytes: owner, permission bits, access lists and other extended attributes
// (POSIX). 0 when one of them cannot be given: the caller writes in place.
int TakeOverFacts(FILE* replacement, const TargetFacts& facts);

// Moves `from` over `to`, replacing a file of that name. 1 on success, else
// 0 with errno set.
int MoveIntoPlace(const char* from, const char* to);

// Removes a file; safe to call from a signal handler.
void RemoveFileQuietly(const char* name);

// A number that differs between processes.
uint32_t ProcessNumber();

// What HoldInterrupts keeps of the signals held before (the caller's, not
// thread-local data: a library's thread-local data is made on first use,
// and the process ends when there is no memory for it).
struct HeldInterrupts {
    alignas(8) unsigned char mask[128];
};

// Holds back (true) or lets through (false) the interrupts that remove
// temporary files, so that a file is never created without being tracked.
// What was held before is held again afterwards.
void HoldInterrupts(bool hold, HeldInterrupts& held);

// Arranges for RemovePendingFiles to run when the process is interrupted.
void InstallInterruptHandler();

// Removes every temporary file still in use; safe in a signal handler.
void RemovePendingFiles();

} // namespace atomic_output
