#include "output/interrupts.h"

#include <atomic>
#include <cstring>

#include "output/interrupts_platform.h"

namespace interrupts {
namespace {

// Files to remove on interrupt: fixed slots that a signal handler reads
// without allocating or locking, and that writers on several threads claim
// without a lock. Enough for pictool's 64 jobs with two names each; a name
// too long for a slot, or one more than the slots hold, is not listed.
constexpr int kPendingSlots = 128;
constexpr size_t kPendingNameSize = 4096;
enum PendingState { kSlotFree, kSlotClaimed, kSlotInUse };
struct PendingFile {
    std::atomic<int> state;
    char name[kPendingNameSize];
};
static_assert(std::atomic<int>::is_always_lock_free, "read from a signal handler");
PendingFile pendingFiles[kPendingSlots];

// The interrupt that came (0: none yet), and the deferred stretches running.
std::atomic<int> pendingInterrupt{0};
std::atomic<int> deferredStretches{0};

// Removes the listed files and ends the process, for the interrupt noted.
[[noreturn]] void EndForTheInterrupt()
{
    RemovePendingFiles();
    EndProcess(pendingInterrupt.load());
}

} // namespace

bool OnInterrupt(int interrupt)
{
    // Sequentially consistent, as is the stretches' count: either this sees
    // a stretch running, or that stretch sees the interrupt when it ends.
    const bool again = pendingInterrupt.exchange(interrupt) != 0;
    if (!again && deferredStretches.load() != 0)
        return false;
    RemovePendingFiles();
    return true;
}

bool Deferring()
{
    return deferredStretches.load() != 0;
}

void RemovePendingFiles()
{
    for (PendingFile& pending : pendingFiles)
        if (pending.state.load() == kSlotInUse)
            RemoveFileQuietly(pending.name);
}

int ListPending(const std::string& name)
{
    if (name.size() >= kPendingNameSize)
        return -1;
    for (int slot = 0; slot < kPendingSlots; ++slot) {
        int expected = kSlotFree;
        if (pendingFiles[slot].state.compare_exchange_strong(expected, kSlotClaimed)) {
            std::memcpy(pendingFiles[slot].name, name.c_str(), name.size() + 1);
            pendingFiles[slot].state.store(kSlotInUse);
            return slot;
        }
    }
    return -1;
}

void UnlistPending(int slot)
{
    if (slot >= 0)
        pendingFiles[slot].state.store(kSlotFree);
}

} // namespace interrupts

using namespace interrupts;

void RemoveTemporaryFilesOnInterrupt()
{
    InstallHandler();
}

InterruptRemoval::InterruptRemoval(const std::string& name) : slot(ListPending(name)) {}

InterruptRemoval::~InterruptRemoval()
{
    UnlistPending(slot);
}

InterruptDeferral::InterruptDeferral()
{
    deferredStretches.fetch_add(1);
    if (pendingInterrupt.load() == 0)
        return;
    // Too late: nothing more may be made. The last stretch ends the process.
    if (deferredStretches.fetch_sub(1) == 1)
        EndForTheInterrupt();
    WaitForTheEnd();
}

InterruptDeferral::~InterruptDeferral()
{
    if (deferredStretches.fetch_sub(1) == 1 && pendingInterrupt.load() != 0)
        EndForTheInterrupt();
}
