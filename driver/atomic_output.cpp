#include "driver/atomic_output.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Exclusive creation refuses a name that exists; a clash with another
// writer's temporary file is retried under a new name this many times.
constexpr int kNameAttempts = 64;

bool IsPathSeparator(char c)
{
#if defined(_WIN32)
    return c == '\\' || c == '/' || c == ':';
#else
    return c == '/';
#endif
}

// Length of the folder part of `path`, separator included (0 for a bare name).
size_t FolderLength(const char* path, size_t length)
{
    for (size_t i = length; i > 0; --i)
        if (IsPathSeparator(path[i - 1]))
            return i;
    return 0;
}

// Eight hex digits that differ between processes, calls and attempts.
uint32_t NextTemporaryNumber()
{
    static uint32_t counter = 0;
#if defined(_WIN32)
    const uint32_t process = uint32_t(_getpid());
#else
    const uint32_t process = uint32_t(getpid());
#endif
    const uint64_t ticks = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    ++counter;
    return (process * 0x9E3779B1u) ^ uint32_t(ticks) ^ uint32_t(ticks >> 32) ^ (counter << 20) ^
           counter;
}

// "<folder>~pic1a2b3c4d.tmp"; where the folder leaves less room than that
// (a long folder, a short file name), as many characters of "~1a2b3c4d" as
// fit in kMaxPathLength - 1, which the target itself fits.
void FormTemporaryName(const char* target, int folderLength, uint32_t number,
                       char out[kMaxPathLength])
{
    char fileName[32];
    const int room = kMaxPathLength - 1 - folderLength; // >= 1: the target's own file name fits
    if (room >= 16)
        std::snprintf(fileName, sizeof fileName, "~pic%08x.tmp", unsigned(number));
    else
        std::snprintf(fileName, sizeof fileName, "~%08x", unsigned(number));
    std::snprintf(out, kMaxPathLength, "%.*s%.*s", folderLength, target, room, fileName);
}

// Opens `name` for writing only if no file of that name exists yet.
FILE* CreateExclusive(const char* name)
{
#if defined(_WIN32)
    const int descriptor =
        _open(name, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (descriptor < 0)
        return nullptr;
    FILE* opened = _fdopen(descriptor, "wb");
    if (opened == nullptr)
        _close(descriptor);
#else
    const int descriptor = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0)
        return nullptr;
    FILE* opened = fdopen(descriptor, "wb");
    if (opened == nullptr)
        close(descriptor);
#endif
    return opened;
}

// Moves `from` over `to`, replacing a file of that name. 1 on success.
int ReplaceFile(const char* from, const char* to)
{
#if defined(_WIN32)
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING))
        return 1;
    const DWORD error = GetLastError();
    errno = error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND     ? ENOENT
            : error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? EACCES
                                                                               : EIO;
    return 0;
#else
    return std::rename(from, to) == 0 ? 1 : 0;
#endif
}

#if !defined(_WIN32)
// Follows a symbolic link at `name` to the file it names, in place, when the
// resolved path fits; a dangling link stays as it is and is replaced.
void FollowLink(char name[kMaxPathLength])
{
    struct stat facts;
    char resolved[PATH_MAX];
    if (lstat(name, &facts) != 0 || !S_ISLNK(facts.st_mode) || realpath(name, resolved) == nullptr)
        return;
    if (std::strlen(resolved) < size_t(kMaxPathLength))
        std::memcpy(name, resolved, std::strlen(resolved) + 1);
}

// The existing target's permission bits go to its replacement.
void KeepPermissions(const char* target, FILE* replacement)
{
    struct stat facts;
    if (stat(target, &facts) == 0 && S_ISREG(facts.st_mode))
        fchmod(fileno(replacement), facts.st_mode & 07777);
}

bool ExistsAndIsNotRegular(const char* name)
{
    struct stat facts;
    return stat(name, &facts) == 0 && !S_ISREG(facts.st_mode);
}
#endif

} // namespace

AtomicOutput::AtomicOutput() : file(nullptr), direct(false), targetName{}, temporaryName{} {}

AtomicOutput::~AtomicOutput()
{
    Discard();
}

FILE* AtomicOutput::Open(const char* target)
{
    Discard();
    const size_t targetLength = target == nullptr ? 0 : strnlen(target, kMaxPathLength);
    if (targetLength == 0 || targetLength >= size_t(kMaxPathLength)) {
        errno = targetLength == 0 ? ENOENT : ENAMETOOLONG;
        return nullptr;
    }
    std::memcpy(targetName, target, targetLength + 1);
#if !defined(_WIN32)
    FollowLink(targetName);
    if (ExistsAndIsNotRegular(targetName)) {
        // A folder fails here as it should; a device or pipe takes the bytes.
        direct = true;
        file = std::fopen(targetName, "wb");
        return file;
    }
#endif

    const int folderLength = int(FolderLength(targetName, std::strlen(targetName)));
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        char candidate[kMaxPathLength];
        FormTemporaryName(targetName, folderLength, NextTemporaryNumber(), candidate);
        file = CreateExclusive(candidate);
        if (file != nullptr) {
            std::memcpy(temporaryName, candidate, sizeof candidate);
#if !defined(_WIN32)
            KeepPermissions(targetName, file);
#endif
            return file;
        }
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

int AtomicOutput::Commit()
{
    if (direct) {
        FILE* closing = file;
        file = nullptr;
        direct = false;
        return closing != nullptr && std::fclose(closing) == 0 ? 1 : 0;
    }
    if (file == nullptr || temporaryName[0] == '\0')
        return 0;
    FILE* closing = file;
    file = nullptr;
    if (std::fclose(closing) != 0 || !ReplaceFile(temporaryName, targetName)) {
        Discard();
        return 0;
    }
    temporaryName[0] = '\0';
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
    direct = false;
    if (temporaryName[0] != '\0') {
        std::remove(temporaryName);
        temporaryName[0] = '\0';
    }
    errno = savedErrno;
}
