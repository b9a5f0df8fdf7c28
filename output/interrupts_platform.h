// Between output/interrupts.cpp and the platform's half of interrupt
// handling, interrupts_posix.cpp or interrupts_win32.cpp (chosen by CMake),
// and the list of files AtomicOutput keeps there.
#pragma once

#include <string>

namespace interrupts {

// --- answered by the platform ---

// Arranges for the platform's handler to run when the process is interrupted.
void InstallHandler();

// Removes a file by name; safe in a signal handler.
void RemoveFileQuietly(const char* name);

// Ends the process as `interrupt` would have ended it; safe in a signal
// handler. Where the handler waits on a thread of its own (Windows), the
// handler ends it, and this only waits for that.
[[noreturn]] void EndProcess(int interrupt);

// Waits for another thread to end the process.
[[noreturn]] void WaitForTheEnd();

// --- answered by interrupts.cpp, for the platform's handler ---

// Notes `interrupt` (a nonzero number). True when the process must end now:
// no deferred stretch runs, or an interrupt came before; the listed files
// are then removed already. False when the last stretch to end ends it.
bool OnInterrupt(int interrupt);

// True while some deferred stretch runs.
bool Deferring();

// Removes every listed file; safe in a signal handler.
void RemovePendingFiles();

// --- for AtomicOutput ---

// Lists `name` for removal on interrupt; the slot, or -1 when it cannot be
// listed (too long, or every slot taken).
int ListPending(const std::string& name);
// Takes a slot of ListPending off the list (-1: nothing).
void UnlistPending(int slot);

} // namespace interrupts
