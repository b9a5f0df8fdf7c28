// POSIX answers for AtomicOutput: links followed by hand so that a dangling
// link still names the file "wb" would create, write permission judged as
// open(2) judges it, owner and mode handed to the replacement.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "output/atomic_output_platform.h"

namespace atomic_output {
namespace {

// As the kernel does, give up on a chain of more links than this (ELOOP).
constexpr int kMaxLinkHops = 40;

// The text of the link at `path`, or "" with errno set.
std::string ReadLinkText(const std::string& path, size_t size)
{
    std::vector<char> text(size + 2);
    const ssize_t length = readlink(path.c_str(), text.data(), text.size());
    if (length < 0 || size_t(length) >= text.size()) {
        if (length >= 0)
            errno = ENAMETOOLONG; // the link changed meanwhile
        return std::string();
    }
    return std::string(text.data(), size_t(length));
}

void OnInterrupt(int signalNumber)
{
    RemovePendingFiles();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

} // namespace

int InspectTarget(const char* target, TargetFacts& facts)
{
    facts.path = target;
    struct stat status;
    for (int hop = 0;; ++hop) {
        if (lstat(facts.path.c_str(), &status) != 0) {
            if (errno != ENOENT)
                return 0;
            facts.kind = TargetKind::Missing;
            return 1;
        }
        if (!S_ISLNK(status.st_mode))
            break;
        if (hop == kMaxLinkHops) {
            errno = ELOOP;
            return 0;
        }
        const std::string link = ReadLinkText(facts.path, size_t(status.st_size));
        if (link.empty())
            return 0;
        // A relative link is read from the link's own folder.
        const size_t slash = facts.path.rfind('/');
        facts.path = link[0] == '/' || slash == std::string::npos
                         ? link
                         : facts.path.substr(0, slash + 1) + link;
    }
    if (S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        return 0;
    }
    if (!S_ISREG(status.st_mode)) {
        facts.kind = TargetKind::Device;
        return 1;
    }
    // Judged with the effective ids, as open(2) judges; root passes on a
    // file of mode 0444, as its "wb" open succeeds there.
    if (faccessat(AT_FDCWD, facts.path.c_str(), W_OK, AT_EACCESS) != 0)
        return 0;
    facts.kind = TargetKind::Regular;
    facts.inPlace = status.st_nlink > 1;
    facts.mode = unsigned(status.st_mode & 07777);
    facts.owner = unsigned(status.st_uid);
    facts.group = unsigned(status.st_gid);
    return 1;
}

FILE* CreateExclusive(const char* name)
{
    const int descriptor = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0)
        return nullptr;
    FILE* opened = fdopen(descriptor, "wb");
    if (opened == nullptr) {
        const int savedErrno = errno;
        close(descriptor);
        unlink(name);
        errno = savedErrno;
    }
    return opened;
}

int TakeOverFacts(FILE* replacement, const TargetFacts& facts)
{
    const int descriptor = fileno(replacement);
    struct stat status;
    if (fstat(descriptor, &status) != 0)
        return 0;
    if ((unsigned(status.st_uid) != facts.owner || unsigned(status.st_gid) != facts.group) &&
        fchown(descriptor, uid_t(facts.owner), gid_t(facts.group)) != 0)
        return 0;
    // After the owner: a change of owner clears the set-id bits.
    return fchmod(descriptor, mode_t(facts.mode)) == 0 ? 1 : 0;
}

int ReplaceFile(const char* from, const char* to)
{
    return std::rename(from, to) == 0 ? 1 : 0;
}

void RemoveFileQuietly(const char* name)
{
    unlink(name);
}

uint32_t ProcessNumber()
{
    return uint32_t(getpid());
}

void HoldInterrupts(bool hold)
{
    sigset_t interrupts;
    sigemptyset(&interrupts);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaddset(&interrupts, signalNumber);
    // What was held before is held again afterwards.
    static thread_local sigset_t before;
    if (hold)
        pthread_sigmask(SIG_BLOCK, &interrupts, &before);
    else
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

void InstallInterruptHandler()
{
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(signalNumber, &action, nullptr);
    }
}

} // namespace atomic_output
