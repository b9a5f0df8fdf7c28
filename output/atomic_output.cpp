#include "output/atomic_output.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "host/host_api.h"
#include "output/interrupts_platform.h"

using namespace atomic_output;

namespace {

// Exclusive creation refuses a name that exists; a clash with another
// writer's temporary file is retried under a new name this many times.
constexpr int kNameAttempts = 64;

// The longest path the ANSI file functions of Windows take, as the host's
// name field (its terminator aside). A temporary name stays within it, or
// within the target's own length when that is longer.
constexpr size_t kLongestShortPath = size_t(kMaxPathLength) - 1;

// The longest name of one file that file systems take (NAME_MAX; Windows
// counts 255 characters).
constexpr size_t kLongestFileName = 255;

// Eight hex digits that differ between processes, calls and attempts.
uint32_t NextTemporaryNumber()
{
    static std::atomic<uint32_t> calls{0};
    const uint32_t counter = ++calls;
    const uint64_t ticks = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    return (ProcessNumber() * 0x9E3779B1u) ^ uint32_t(ticks) ^ uint32_t(ticks >> 32) ^
           (counter << 20) ^ counter;
}

// ".<name>.1a2b3c4d.tmp": hidden from a plain listing on POSIX, and naming
// the file it stands for, so that one left by a killed process says whose
// it was. Where the whole path would pass the longest path (or the
// target's own length, if longer) or the name the longest file name, as
// much of <name> as fits; where not even the number fits (a long folder),
// as many characters of "~1a2b3c4d" as do.
std::string FormTemporaryName(const TargetFacts& facts, uint32_t number)
{
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", unsigned(number));
    const size_t suffixLength = std::strlen(suffix);
    const size_t targetLength = facts.folder.size() + facts.name.size();
    const size_t limit = std::max(targetLength, kLongestShortPath);
    const size_t room =
        std::min(limit > facts.folder.size() ? limit - facts.folder.size() : 1, kLongestFileName);
    if (room > suffixLength + 1)
        return "." + facts.name.substr(0, room - suffixLength - 1) + suffix;
    std::snprintf(suffix, sizeof suffix, "~%08x", unsigned(number));
    return std::string(suffix, std::min(room, std::strlen(suffix)));
}

} // namespace

AtomicOutput::AtomicOutput()
    : file(nullptr), inPlace(false), keep(false), handedOver(false), scratch(false),
      temporarySlot(-1), secondSlot(-1)
{
}

AtomicOutput::~AtomicOutput()
{
    Discard();
}

std::string AtomicOutput::TemporaryName() const
{
    return temporaryName.empty() ? std::string() : facts.folder + temporaryName;
}

bool AtomicOutput::Inspect(const char* target, Existing existing)
{
    Discard();
    inPlace = false;
    handedOver = false;
    scratch = false;
    keep = existing == Existing::Keep;
    targetName.clear();
    if (target == nullptr || target[0] == '\0') {
        errno = ENOENT;
        return false;
    }
    targetName = target;
    if (!InspectTarget(target, facts))
        return false;
    if (keep && facts.kind != TargetKind::Missing) {
        ReleaseTarget(facts);
        errno = EEXIST;
        return false;
    }
    return true;
}

FILE* AtomicOutput::Open(const char* target, Existing existing)
{
    if (!Inspect(target, existing))
        return nullptr;
    if (facts.inPlace)
        return OpenInPlace(target);
    file = CreateTemporaryFile();
    if (file == nullptr) {
        // A folder that takes no new file may still hold a writable
        // target: write that in place, as "wb" does. Anything else (a
        // missing folder, a full disk) is the open's failure.
        if ((errno == EACCES || errno == EPERM) && facts.kind == TargetKind::Regular)
            return OpenInPlace(target);
        ReleaseTarget(facts);
        return nullptr;
    }
    if (!TakeOverFacts(file, facts)) {
        const int error = errno;
        Discard();
        if (LacksRight(error))
            return OpenInPlace(target);
        errno = error;
        return nullptr;
    }
    return file;
}

FILE* AtomicOutput::OpenScratch(const char* path)
{
    if (!Inspect(path, Existing::Keep))
        return nullptr;
    scratch = true;
    file = CreateTemporaryFile(facts.name);
    if (file == nullptr) {
        const int error = errno;
        ReleaseTarget(facts);
        errno = error;
    }
    return file;
}

FILE* AtomicOutput::CreateTemporaryFile(const std::string& fixedName)
{
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string name =
            fixedName.empty() ? FormTemporaryName(facts, NextTemporaryNumber()) : fixedName;
        // Listed before it is made, and made in a stretch an interrupt waits
        // for, so that no moment goes by where it exists unlisted.
        // Its name kept first, so that nothing that can fail (allocate) comes
        // between its making and its keeping.
        temporaryName = name;
        const InterruptDeferral deferral;
        temporarySlot = interrupts::ListPending(facts.folder + name);
        FILE* created = CreateTemporary(facts, name);
        if (created != nullptr)
            return created;
        const int error = errno;
        interrupts::UnlistPending(temporarySlot);
        temporarySlot = -1;
        temporaryName.clear();
        errno = error;
        if (errno != EEXIST || !fixedName.empty())
            return nullptr;
    }
    errno = EEXIST;
    return nullptr;
}

FILE* AtomicOutput::OpenInPlace(const char* target)
{
    inPlace = true;
    file = atomic_output::OpenInPlace(target, facts, keep);
    const int error = errno;
    ReleaseTarget(facts);
    errno = error;
    return file;
}

const std::string& AtomicOutput::NameForAnotherWriter()
{
    if (!writerName.empty() || file == nullptr)
        return writerName;
    if (inPlace) {
        writerName = targetName;
        return writerName;
    }
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        secondName = FormTemporaryName(facts, NextTemporaryNumber());
        writerName = facts.folder + secondName;
        const InterruptDeferral deferral;
        secondSlot = interrupts::ListPending(writerName);
        if (LinkInFolder(facts, temporaryName, secondName))
            return writerName;
        interrupts::UnlistPending(secondSlot);
        secondSlot = -1;
        secondName.clear();
        writerName.clear();
        if (errno != EEXIST)
            break;
    }
    // No second name: the other writer writes a scratch file, or else the
    // target, its own way.
    if (scratch) {
        writerName = TemporaryName();
        return writerName;
    }
    Discard();
    handedOver = true;
    writerName = targetName;
    return writerName;
}

int AtomicOutput::Commit()
{
    if (handedOver)
        return 1;
    FILE* closing = file;
    file = nullptr;
    if (closing == nullptr) {
        errno = EBADF;
        return 0;
    }
    if (inPlace || scratch)
        return std::fclose(closing) == 0 ? 1 : 0;
    file = closing; // Discard closes it on failure
    if (!secondName.empty()) {
        RemoveName(secondName, secondSlot);
        if (!secondName.empty()) {
            Discard();
            return 0;
        }
    }
    if (!FinishReplacement(file, facts)) {
        Discard();
        return 0;
    }
    const std::string spare = FormTemporaryName(facts, NextTemporaryNumber());
    file = nullptr;
    if (std::fclose(closing) != 0 || !MoveIntoPlace(facts, temporaryName, spare, !keep)) {
        Discard();
        return 0;
    }
    interrupts::UnlistPending(temporarySlot);
    temporarySlot = -1;
    temporaryName.clear();
    ReleaseTarget(facts);
    return 1;
}

// Removes `name` from the target's folder, tried twice (a removal can fail
// for a moment on a network file system), and takes it off the list when
// it is gone; `name` stays set when it is not.
void AtomicOutput::RemoveName(std::string& name, int& slot)
{
    if (!RemoveInFolder(facts, name) && errno != ENOENT && !RemoveInFolder(facts, name) &&
        errno != ENOENT)
        return;
    // Removed before it is forgotten: an interrupt in between removes it too.
    interrupts::UnlistPending(slot);
    slot = -1;
    name.clear();
}

void AtomicOutput::Discard()
{
    // The caller reports the failure that got us here; keep its errno.
    const int savedErrno = errno;
    if (file != nullptr) {
        std::fclose(file);
        file = nullptr;
    }
    if (!secondName.empty())
        RemoveName(secondName, secondSlot);
    if (!temporaryName.empty())
        RemoveName(temporaryName, temporarySlot);
    // A name that would not go stays listed, for an interrupt to try again.
    secondName.clear();
    secondSlot = -1;
    temporaryName.clear();
    temporarySlot = -1;
    writerName.clear();
    ReleaseTarget(facts);
    errno = savedErrno;
}
