// Windows answers for AtomicOutput: device names ("NUL", "CON", "\\.\...")
// written directly, write access judged by opening the target as "wb" does,
// temporary files opened so that an interrupt can still delete them.
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <string>
#include <windows.h>

#include "host/file_names.h"
#include "output/atomic_output_platform.h"

namespace atomic_output {
namespace {

// errno for the system's own error codes, as the C library maps them.
int ErrnoFor(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
        return EINVAL;
    default:
        return EIO;
    }
}

bool NameIs(const std::string& stem, const char* device)
{
    if (stem.size() != std::strlen(device))
        return false;
    for (size_t i = 0; i < stem.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(stem[i])) != device[i])
            return false;
    return true;
}

// The names the system keeps for devices, in any folder and with any
// extension ("NUL", "c:\out\nul.pic", "COM1"), and "\\.\" device paths.
bool IsDeviceName(const char* path)
{
    if (std::strncmp(path, "\\\\.\\", 4) == 0)
        return true;
    const char* name = path + std::strlen(path);
    while (name > path && !IsPathSeparator(name[-1]))
        --name;
    std::string stem(name, std::strcspn(name, ".:"));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices)
        if (NameIs(stem, device))
            return true;
    if (stem.size() == 4 && (NameIs(stem.substr(0, 3), "COM") || NameIs(stem.substr(0, 3), "LPT")))
        return stem[3] >= '1' && stem[3] <= '9';
    return false;
}

BOOL WINAPI OnConsoleEvent(DWORD)
{
    RemovePendingFiles();
    return FALSE; // the system's own handler then ends the process
}

} // namespace

int InspectTarget(const char* target, TargetFacts& facts)
{
    facts.path = target;
    if (IsDeviceName(target)) {
        facts.kind = TargetKind::Device;
        return 1;
    }
    const DWORD attributes = GetFileAttributesA(target);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            facts.kind = TargetKind::Missing; // a missing folder fails at creation
            return 1;
        }
        errno = ErrnoFor(error);
        return 0;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        errno = EACCES; // as the C library's "wb" open of a folder answers
        return 0;
    }
    // Opened for writing, as "wb" opens it but without truncating: refused
    // for the read-only attribute, a denying security descriptor or another
    // program's lock, exactly where "wb" would be.
    const HANDLE handle = CreateFileA(target, GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ErrnoFor(GetLastError());
        return 0;
    }
    // Hard links, and anything the name leads to that is no disk file.
    facts.kind = TargetKind::Regular;
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileType(handle) != FILE_TYPE_DISK)
        facts.kind = TargetKind::Device;
    else if (GetFileInformationByHandle(handle, &information))
        facts.inPlace = information.nNumberOfLinks > 1;
    // A new file would not carry these: keep them by writing in place.
    if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) !=
        0)
        facts.inPlace = true;
    CloseHandle(handle);
    return 1;
}

FILE* CreateExclusive(const char* name)
{
    // Shared for deletion, so that an interrupt can remove it while it is open.
    const HANDLE handle = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ErrnoFor(GetLastError());
        return nullptr;
    }
    const int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        DeleteFileA(name);
        errno = EMFILE;
        return nullptr;
    }
    FILE* opened = _fdopen(descriptor, "wb");
    if (opened == nullptr) {
        _close(descriptor);
        DeleteFileA(name);
        errno = EMFILE;
    }
    return opened;
}

int TakeOverFacts(FILE*, const TargetFacts&)
{
    return 1; // a renamed file keeps the folder's inherited security
}

int ReplaceFile(const char* from, const char* to)
{
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING))
        return 1;
    errno = ErrnoFor(GetLastError());
    return 0;
}

void RemoveFileQuietly(const char* name)
{
    DeleteFileA(name);
}

uint32_t ProcessNumber()
{
    return uint32_t(_getpid());
}

void HoldInterrupts(bool, HeldInterrupts&)
{
    // The console handler runs on a thread of its own: nothing to hold back.
}

void InstallInterruptHandler()
{
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

} // namespace atomic_output
