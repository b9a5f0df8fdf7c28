// POSIX answers for AtomicOutput: links followed by hand so that a dangling
// link still names the file "wb" would create, write permission judged as
// open(2) judges it, owner, mode, access lists and every other extended
// attribute handed to the replacement.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
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

// The inode flags that change what an open for writing may do (statx
// reports them without opening the file); 0 where the system cannot tell.
uint64_t FileAttributes(const std::string& path)
{
    struct statx facts;
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS, &facts) != 0)
        return 0;
    return facts.stx_attributes & facts.stx_attributes_mask;
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The names of a file's extended attributes (access lists are among them:
// "system.posix_acl_access"), from `path` or, when it is null, from
// `descriptor`. False with errno set when they cannot be listed; a file
// system without them has none.
bool ListAttributes(const char* path, int descriptor, std::vector<std::string>& names)
{
    names.clear();
    std::vector<char> list;
    for (;;) {
        const ssize_t size =
            path != nullptr ? listxattr(path, nullptr, 0) : flistxattr(descriptor, nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP;
        list.resize(size_t(size) + 1);
        const ssize_t got = path != nullptr ? listxattr(path, list.data(), list.size())
                                            : flistxattr(descriptor, list.data(), list.size());
        if (got >= 0) {
            list.resize(size_t(got));
            break;
        }
        if (errno != ERANGE) // ERANGE: an attribute came meanwhile
            return false;
    }
    for (size_t start = 0; start < list.size();) {
        const char* name = list.data() + start;
        const size_t length = strnlen(name, list.size() - start);
        if (length != 0)
            names.emplace_back(name, length);
        start += length + 1;
    }
    return true;
}

// Gives the replacement exactly the extended attributes of the file at
// `path`: copies each, and removes those it was born with (a folder's
// default access list) that the file lacks. False when one cannot be set
// (an attribute only a privileged process may write).
bool CopyAttributes(const std::string& path, int descriptor)
{
    std::vector<std::string> names;
    std::vector<std::string> own;
    if (!ListAttributes(path.c_str(), -1, names) || !ListAttributes(nullptr, descriptor, own))
        return false;
    std::vector<char> value;
    for (const std::string& name : names) {
        const ssize_t size = getxattr(path.c_str(), name.c_str(), nullptr, 0);
        if (size < 0)
            return false;
        value.resize(size_t(size) + 1);
        const ssize_t got = getxattr(path.c_str(), name.c_str(), value.data(), value.size());
        if (got < 0 || fsetxattr(descriptor, name.c_str(), value.data(), size_t(got), 0) != 0)
            return false;
    }
    for (const std::string& name : own)
        if (std::find(names.begin(), names.end(), name) == names.end() &&
            fremovexattr(descriptor, name.c_str()) != 0)
            return false;
    return true;
}

// A folder that takes new names but gives none up: a temporary file could be
// neither moved over the target nor removed.
bool FolderIsAppendOnly(const std::string& path)
{
    return (FileAttributes(FolderOf(path)) & STATX_ATTR_APPEND) != 0;
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
            facts.inPlace = FolderIsAppendOnly(facts.path);
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
    // file of mode 0444, as its "wb" open succeeds there. An append-only or
    // immutable file refuses a truncating open, root's too.
    if (faccessat(AT_FDCWD, facts.path.c_str(), W_OK, AT_EACCESS) != 0)
        return 0;
    if ((FileAttributes(facts.path) & (STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE)) != 0) {
        errno = EPERM;
        return 0;
    }
    facts.kind = TargetKind::Regular;
    facts.inPlace = status.st_nlink > 1 || FolderIsAppendOnly(facts.path);
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
    // After the owner: a change of owner clears the set-id bits (and a file
    // capability, one of the attributes). The access list, an attribute,
    // sets the group bits again to its mask, as the target's mode has them.
    if (fchmod(descriptor, mode_t(facts.mode)) != 0)
        return 0;
    return CopyAttributes(facts.path, descriptor) ? 1 : 0;
}

int MoveIntoPlace(const char* from, const char* to)
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

void HoldInterrupts(bool hold, HeldInterrupts& held)
{
    static_assert(sizeof(sigset_t) <= sizeof held.mask && alignof(sigset_t) <= 8,
                  "a signal mask fits HeldInterrupts");
    sigset_t interrupts;
    sigemptyset(&interrupts);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaddset(&interrupts, signalNumber);
    sigset_t* before = reinterpret_cast<sigset_t*>(held.mask);
    if (hold)
        pthread_sigmask(SIG_BLOCK, &interrupts, before);
    else
        pthread_sigmask(SIG_SETMASK, before, nullptr);
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
