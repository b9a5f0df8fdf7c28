// POSIX facts a replacement takes over from the file it replaces: owner,
// extended attributes of every namespace this process may read and set
// (access lists are among them: "system.posix_acl_access"), and inode
// flags; its permission bits once it is whole. A new file takes the bits
// "wb" would have given it.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

#include "output/atomic_output_platform.h"

namespace atomic_output {
namespace {

// The inode flags a file's owner chooses and a new file can be given (what
// chattr shows as s u c S d A m t C j); others are the file system's own
// (extents, inline data, ...) or keep the file from being replaced at all
// (append-only, immutable), and are left as the new file has them.
constexpr int kCarriedFlags = FS_SECRM_FL | FS_UNRM_FL | FS_COMPR_FL | FS_SYNC_FL | FS_NODUMP_FL |
                              FS_NOATIME_FL | FS_NOCOMP_FL | FS_NOTAIL_FL | FS_NOCOW_FL |
                              FS_JOURNAL_DATA_FL;

// Access list entries as the system stores them (after a 4-byte version):
// tag, permissions, id, little-endian.
constexpr size_t kAclHeaderSize = 4;
constexpr size_t kAclEntrySize = 8;
enum AclTag { kAclOwner = 0x01, kAclGroup = 0x04, kAclMask = 0x10, kAclOthers = 0x20 };

// The names of the extended attributes `descriptor`'s file has. False with
// errno set when they cannot be listed; a file system without them has none.
bool ListAttributes(int descriptor, std::vector<std::string>& names)
{
    names.clear();
    std::vector<char> list;
    for (;;) {
        const ssize_t size = flistxattr(descriptor, nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP;
        list.resize(size_t(size) + 1);
        const ssize_t got = flistxattr(descriptor, list.data(), list.size());
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

// The value of attribute `name` of `descriptor`'s file; false with errno set.
bool ReadAttribute(int descriptor, const std::string& name, std::vector<char>& value)
{
    for (;;) {
        const ssize_t size = fgetxattr(descriptor, name.c_str(), nullptr, 0);
        if (size < 0)
            return false;
        value.resize(size_t(size) + 1);
        const ssize_t got = fgetxattr(descriptor, name.c_str(), value.data(), value.size());
        if (got >= 0) {
            value.resize(size_t(got));
            return true;
        }
        if (errno != ERANGE)
            return false;
    }
}

// Gives `to` exactly the extended attributes of `from`: copies each, and
// removes those it was born with (a folder's default access list) that
// `from` lacks.
bool CopyAttributes(int from, int to)
{
    std::vector<std::string> names;
    std::vector<std::string> own;
    if (!ListAttributes(from, names) || !ListAttributes(to, own))
        return false;
    std::vector<char> value;
    for (const std::string& name : names)
        if (!ReadAttribute(from, name, value) ||
            fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0)
            return false;
    for (const std::string& name : own)
        if (std::find(names.begin(), names.end(), name) == names.end() &&
            fremovexattr(to, name.c_str()) != 0)
            return false;
    return true;
}

// Gives `to` the carried inode flags of `from`. A file system without flags
// has none to give; one that takes none answers ENOTSUP.
bool CopyFlags(int from, int to)
{
    int wanted = 0;
    int current = 0;
    if (ioctl(from, FS_IOC_GETFLAGS, &wanted) != 0 || (wanted & kCarriedFlags) == 0)
        return true;
    if (ioctl(to, FS_IOC_GETFLAGS, &current) != 0) {
        errno = errno == ENOTTY ? ENOTSUP : errno;
        return false;
    }
    const int flags = (current & ~kCarriedFlags) | (wanted & kCarriedFlags);
    if (flags == current || ioctl(to, FS_IOC_SETFLAGS, &flags) == 0)
        return true;
    errno = errno == ENOTTY ? ENOTSUP : errno;
    return false;
}

// The mask the process creates files under: the kernel's record of it,
// which reading leaves as it is (umask(2) would change it for every thread
// meanwhile); 077 where it cannot be read, so that nothing is shown to
// others by mistake.
unsigned ProcessUmask()
{
    const int status = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    char text[4096];
    const ssize_t got = status >= 0 ? read(status, text, sizeof text - 1) : -1;
    if (status >= 0)
        close(status);
    if (got <= 0)
        return 077;
    text[got] = '\0';
    const char* line = std::strstr(text, "\nUmask:");
    unsigned mask = 077;
    return line != nullptr && std::sscanf(line + 7, "%o", &mask) == 1 ? mask & 0777 : 077;
}

// The permission bits a file created with mode 0666 gets in `folder`: those
// of the folder's default access list where it has one (the mask, or else
// the group's entry, standing for the group bits), else 0666 less the
// process's umask.
unsigned NewFileMode(const std::string& folder)
{
    unsigned char list[kAclHeaderSize + 64 * kAclEntrySize];
    const ssize_t size = getxattr(folder.empty() ? "." : folder.c_str(), "system.posix_acl_default",
                                  list, sizeof list);
    if (size < ssize_t(kAclHeaderSize + kAclEntrySize))
        return 0666 & ~ProcessUmask();
    unsigned owner = 0, group = 0, others = 0;
    bool masked = false;
    for (size_t at = kAclHeaderSize; at + kAclEntrySize <= size_t(size); at += kAclEntrySize) {
        const unsigned tag = list[at] | unsigned(list[at + 1]) << 8;
        const unsigned permissions = list[at + 2] & 7u;
        if (tag == kAclOwner)
            owner = permissions;
        else if (tag == kAclMask || (tag == kAclGroup && !masked))
            group = permissions;
        else if (tag == kAclOthers)
            others = permissions;
        masked = masked || tag == kAclMask;
    }
    return 0666 & (owner << 6 | group << 3 | others);
}

} // namespace

int TakeOverFacts(FILE* replacement, const TargetFacts& facts)
{
    const int descriptor = fileno(replacement);
    if (facts.kind != TargetKind::Regular)
        return 1;
    struct stat status;
    if (fstat(descriptor, &status) != 0)
        return 0;
    if ((unsigned(status.st_uid) != facts.owner || unsigned(status.st_gid) != facts.group) &&
        fchown(descriptor, uid_t(facts.owner), gid_t(facts.group)) != 0)
        return 0;
    // After the owner: a change of owner clears a file capability, one of
    // the attributes. The access list opens the group bits to its mask:
    // closed again, so that no one else reads the file until it is whole.
    return CopyAttributes(facts.file, descriptor) && CopyFlags(facts.file, descriptor) &&
                   fchmod(descriptor, S_IRUSR | S_IWUSR) == 0
               ? 1
               : 0;
}

bool LacksRight(int error)
{
    return error == EPERM || error == EACCES || error == ENOTSUP || error == EOPNOTSUPP;
}

int FinishReplacement(FILE* replacement, const TargetFacts& facts)
{
    if (std::fflush(replacement) != 0)
        return 0;
    const int descriptor = fileno(replacement);
    // The target's mode also gives an access list its mask back.
    const unsigned mode =
        facts.kind == TargetKind::Regular ? facts.mode : NewFileMode(facts.folder);
    if (fchmod(descriptor, mode_t(mode)) != 0)
        return 0;
    // Before the name changes, as git's lock files and SQLite's journal do:
    // after a power cut the name holds the earlier file or the whole new one.
    return facts.kind != TargetKind::Regular || fdatasync(descriptor) == 0 ? 1 : 0;
}

} // namespace atomic_output
