#include "output/atomic_output.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "host/file_names.h"
#include "host/host_api.h"
#include "output/atomic_output_platform.h"

namespace atomic_output {
namespace {

// Exclusive creation refuses a name that exists; a clash with another
// writer's temporary file is retried under a new name this many times.
constexpr int kNameAttempts = 64;

// The longest path the ANSI file functions of Windows take, as the host's
// name field (its terminator aside). A temporary name stays within it, or
// within the target's own length when that is longer.
constexpr size_t kLongestShortPath = size_t(kMaxPathLength) - 1;

// Temporary files in use, for removal when the process is interrupted: fixed
// slots that a signal handler can read without allocating or locking, and
// that writers on several threads claim without a lock. A name too long for
// a slot, or one more than the slots hold, is not tracked.
constexpr int kPendingSlots = 8;
constexpr size_t kPendingNameSize = 4096;
enum PendingState { kSlotFree, kSlotClaimed, kSlotInUse };
struct PendingFile {
    std::atomic<int> state;
    char name[kPendingNameSize];
};
static_assert(std::atomic<int>::is_always_lock_free, "read from a signal handler");
PendingFile pendingFiles[kPendingSlots];

// Length of the folder part of `path`, separator included (0 for a bare name).
size_t FolderLength(const std::string& path)
{
    for (size_t i = path.size(); i > 0; --i)
        if (IsPathSeparator(path[i - 1]))
            return i;
    return 0;
}

// Eight hex digits that differ between processes, calls and attempts.
uint32_t NextTemporaryNumber()
{
    static std::atomic<uint32_t> calls{0};
    const uint32_t counter = ++calls;
    const uint64_t ticks = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    return (ProcessNumber() * 0x9E3779B1u) ^ uint32_t(ticks) ^ uint32_t(ticks >> 32) ^
           (counter << 20) ^ counter;
}

// "<folder>.<name>.1a2b3c4d.tmp": beside the target, hidden from a plain
// listing on POSIX, and naming the file it stands for, so that one left by a
// killed process says whose it was. Where that would pass the length limit
// (a long name), the name is cut short; where even the number does not fit
// (a long folder), as many characters of "~1a2b3c4d" as do.
std::string FormTemporaryName(const std::string& target, size_t folderLength, uint32_t number)
{
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", unsigned(number));
    const size_t suffixLength = std::strlen(suffix);
    const size_t limit = std::max(target.size(), kLongestShortPath);
    const size_t room = limit > folderLength ? limit - folderLength : 1;
    std::string fileName;
    if (room > suffixLength + 1) {
        fileName = "." + target.substr(folderLength, room - suffixLength - 1) + suffix;
    } else {
        std::snprintf(suffix, sizeof suffix, "~%08x", unsigned(number));
        fileName.assign(suffix, std::min(room, std::strlen(suffix)));
    }
    return target.substr(0, folderLength) + fileName;
}

int TrackPending(const std::string& name)
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

void ForgetPending(int slot)
{
    if (slot >= 0)
        pendingFiles[slot].state.store(kSlotFree);
}

} // namespace

void RemovePendingFiles()
{
    for (PendingFile& pending : pendingFiles)
        if (pending.state.load() == kSlotInUse)
            RemoveFileQuietly(pending.name);
}

} // namespace atomic_output

using namespace atomic_output;

AtomicOutput::AtomicOutput() : file(nullptr), inPlace(false), pendingSlot(-1) {}

AtomicOutput::~AtomicOutput()
{
    Discard();
}

void AtomicOutput::RemoveTemporaryFilesOnInterrupt()
{
    InstallInterruptHandler();
}

FILE* AtomicOutput::Open(const char* target)
{
    Discard();
    inPlace = false;
    targetName.clear();
    if (target == nullptr || target[0] == '\0') {
        errno = ENOENT;
        return nullptr;
    }
    TargetFacts facts;
    if (!InspectTarget(target, facts))
        return nullptr;
    targetName = facts.path;
    if (facts.kind == TargetKind::Device || facts.inPlace)
        return OpenInPlace();

    const size_t folderLength = FolderLength(targetName);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string candidate =
            FormTemporaryName(targetName, folderLength, NextTemporaryNumber());
        temporaryName = candidate;
        HeldInterrupts held;
        HoldInterrupts(true, held);
        file = CreateExclusive(candidate.c_str());
        const int savedErrno = errno;
        if (file != nullptr)
            pendingSlot = TrackPending(candidate);
        HoldInterrupts(false, held);
        errno = savedErrno;
        if (file == nullptr) {
            temporaryName.clear();
            if (errno == EEXIST)
                continue;
            // A folder that takes no new file may still hold a writable
            // target: write that in place, as "wb" does. Anything else (a
            // missing folder, a full disk) is the open's failure.
            if ((errno == EACCES || errno == EPERM) && facts.kind == TargetKind::Regular)
                return OpenInPlace();
            return nullptr;
        }
        if (facts.kind == TargetKind::Regular && !TakeOverFacts(file, facts)) {
            Discard();
            return OpenInPlace();
        }
        return file;
    }
    errno = EEXIST;
    return nullptr;
}

FILE* AtomicOutput::OpenInPlace()
{
    inPlace = true;
    file = std::fopen(targetName.c_str(), "wb");
    return file;
}

int AtomicOutput::Commit()
{
    FILE* closing = file;
    file = nullptr;
    if (closing == nullptr) {
        errno = EBADF;
        return 0;
    }
    if (inPlace)
        return std::fclose(closing) == 0 ? 1 : 0;
    if (std::fclose(closing) != 0 || !MoveIntoPlace(temporaryName.c_str(), targetName.c_str())) {
        Discard();
        return 0;
    }
    ForgetPending(pendingSlot);
    pendingSlot = -1;
    temporaryName.clear();
    return 1;
}

void AtomicOutput::Discard()
{
    // The caller reports the failure that got us here; keep its errno.
    const int savedErrno = errno;
    if (file != nullptr) {
        std::fclose(file);
        file = nullptr;
    }
    // Removed before it is forgotten: an interrupt in between removes it too.
    if (!temporaryName.empty()) {
        std::remove(temporaryName.c_str());
        temporaryName.clear();
    }
    ForgetPending(pendingSlot);
    pendingSlot = -1;
    errno = savedErrno;
}

InterruptRemoval::InterruptRemoval(const std::string& name) : slot(TrackPending(name)) {}

InterruptRemoval::~InterruptRemoval()
{
    ForgetPending(slot);
}
