// POSIX targets: opened for writing as "wb" opens them, so that the kernel
// decides what may be written (permissions, read-only and append-only
// files, protected_symlinks and protected_regular), and known from then on
// by the descriptor it opened, not by following names again.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "output/atomic_output_platform.h"

namespace atomic_output {
namespace {

constexpr int kWriteFlags = O_WRONLY | O_NOCTTY | O_CLOEXEC;

bool SameFile(const struct stat& one, const struct stat& other)
{
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// Where the kernel says `descriptor` leads ("" where it cannot say).
std::string DescriptorPath(int descriptor)
{
    char path[PATH_MAX + 1];
    const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
    const ssize_t length = readlink(link.c_str(), path, sizeof path);
    if (length <= 0 || size_t(length) >= sizeof path)
        return "";
    return std::string(path, size_t(length));
}

// Splits `path` into its folder, with the separator, and its own name.
void SplitPath(const std::string& path, TargetFacts& facts)
{
    const size_t slash = path.rfind('/');
    facts.folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    facts.name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// Opens the folder the replacement goes to, for the calls made in it.
bool OpenFolder(TargetFacts& facts)
{
    const std::string folder = facts.folder.empty() ? "." : facts.folder;
    facts.folderFile = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return facts.folderFile >= 0;
}

// A folder that takes new names but gives none up: a temporary file could be
// neither moved over the target nor removed.
bool FolderIsAppendOnly(int folderFile)
{
    struct statx facts;
    if (statx(folderFile, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &facts) != 0)
        return false;
    return (facts.stx_attributes & facts.stx_attributes_mask & STATX_ATTR_APPEND) != 0;
}

// Finds the folder and name of the file `opened` (the target's file, as
// opened): the target's own where the target names that file, else the
// name the kernel gives the descriptor (a link was followed). False where
// it cannot say for sure.
bool LocateFile(const char* target, const struct stat& opened, TargetFacts& facts)
{
    struct stat named;
    std::string path = target;
    if (lstat(target, &named) != 0 || !SameFile(named, opened)) {
        path = DescriptorPath(facts.file);
        if (path.empty() || path[0] != '/' || lstat(path.c_str(), &named) != 0 ||
            !SameFile(named, opened))
            return false;
    }
    SplitPath(path, facts);
    return !facts.name.empty() && OpenFolder(facts);
}

// Nothing answers to `target`: no file, or a link to nothing.
int InspectMissing(const char* target, TargetFacts& facts)
{
    struct stat status;
    if (lstat(target, &status) == 0 && S_ISLNK(status.st_mode)) {
        // "wb" creates the file the link names, where the kernel lets the
        // link be followed and the file be made there; so does writing in
        // place (OpenInPlace).
        facts.kind = TargetKind::Regular;
        facts.inPlace = true;
        return 1;
    }
    facts.kind = TargetKind::Missing;
    SplitPath(target, facts);
    if (facts.name.empty() || !OpenFolder(facts))
        return 0; // a missing folder: ENOENT, as "wb" answers
    facts.inPlace = FolderIsAppendOnly(facts.folderFile);
    return 1;
}

} // namespace

int InspectTarget(const char* target, TargetFacts& facts)
{
    ReleaseTarget(facts);
    facts = TargetFacts();
    // No O_CREAT: nothing is made when nothing is there.
    const int probe = open(target, kWriteFlags);
    if (probe < 0)
        return errno == ENOENT ? InspectMissing(target, facts) : 0;
    // Opened again with O_CREAT, which the kernel's rule against writing
    // another user's file or FIFO in a sticky folder applies to; the name
    // exists, so nothing is made. (Had it gone meanwhile, this makes it, as
    // "wb" would.)
    facts.file = open(target, kWriteFlags | O_CREAT, 0666);
    const int error = errno;
    close(probe);
    errno = error;
    struct stat status;
    if (facts.file < 0 || fstat(facts.file, &status) != 0) {
        ReleaseTarget(facts);
        return 0;
    }
    if (!S_ISREG(status.st_mode)) {
        facts.kind = TargetKind::Device;
        facts.inPlace = true;
        return 1;
    }
    facts.kind = TargetKind::Regular;
    facts.mode = unsigned(status.st_mode & 07777);
    facts.owner = unsigned(status.st_uid);
    facts.group = unsigned(status.st_gid);
    facts.inPlace = status.st_nlink > 1 || !LocateFile(target, status, facts) ||
                    FolderIsAppendOnly(facts.folderFile);
    return 1;
}

void ReleaseTarget(TargetFacts& facts)
{
    for (int* descriptor : {&facts.file, &facts.folderFile}) {
        if (*descriptor >= 0)
            close(*descriptor);
        *descriptor = -1;
    }
}

FILE* OpenInPlace(const char* target, TargetFacts& facts, bool keep)
{
    int descriptor = facts.file;
    facts.file = -1;
    if (descriptor < 0) {
        // A new file in an append-only folder, or the file a link to nothing
        // names: made there, as "wb" makes it.
        descriptor = open(target, kWriteFlags | O_CREAT | O_TRUNC | (keep ? O_EXCL : 0), 0666);
        if (descriptor < 0)
            return nullptr;
    } else if (facts.kind == TargetKind::Regular && ftruncate(descriptor, 0) != 0) {
        const int error = errno;
        close(descriptor);
        errno = error;
        return nullptr;
    }
    FILE* opened = fdopen(descriptor, "wb");
    if (opened == nullptr) {
        const int error = errno;
        close(descriptor);
        errno = error;
    }
    return opened;
}

} // namespace atomic_output
