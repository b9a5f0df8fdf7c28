// Windows answers for AtomicOutput: device names ("NUL", "CON", "\\.\...")
// and devices that open as no disk file written directly, write access
// judged by opening the target as "wb" does, links followed to the file
// they lead to, temporary files opened so that an interrupt can still
// delete them, and the target replaced by the system's ReplaceFileA.
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
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
        return ENOTSUP;
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

// The name of the file an open handle leads to, links followed, in the
// "C:\\folder\\file" form ("\\server\\share\\..." for a share). Unchanged
// where the system cannot say (GetFinalPathNameByHandleA came with Vista).
void FinalPathOf(HANDLE handle, std::string& path)
{
    using FinalPathFunction = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto finalPath = kernel != nullptr
                               ? reinterpret_cast<FinalPathFunction>(reinterpret_cast<void*>(
                                     GetProcAddress(kernel, "GetFinalPathNameByHandleA")))
                               : nullptr;
    char name[MAX_PATH * 4];
    if (finalPath == nullptr)
        return;
    const DWORD length = finalPath(handle, name, sizeof name, 0);
    if (length == 0 || length >= sizeof name)
        return;
    std::string found(name, length);
    if (found.compare(0, 8, "\\\\?\\UNC\\") == 0)
        found = "\\\\" + found.substr(8);
    else if (found.compare(0, 4, "\\\\?\\") == 0)
        found = found.substr(4);
    path = found;
}

// Splits `path` into its folder, with the separator, and its own name.
void SplitPath(const std::string& path, TargetFacts& facts)
{
    size_t nameStart = path.size();
    while (nameStart > 0 && !IsPathSeparator(path[nameStart - 1]))
        --nameStart;
    facts.folder = path.substr(0, nameStart);
    facts.name = path.substr(nameStart);
}

// Whether a name that no file answers to is taken all the same: a symbolic
// link to a missing file, which Wine shows as nothing at all. The probe
// creates the name only when it is free, and the system removes it again
// when the handle closes.
bool NameIsTaken(const char* target)
{
    const HANDLE probe = CreateFileA(target, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        return false;
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

// Whether this process may give a replacement the target's security
// descriptor, as ReplaceFileA does (it needs WRITE_DAC on the target).
bool MayWriteSecurity(const char* target)
{
    const HANDLE handle =
        CreateFileA(target, WRITE_DAC | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(handle);
    return true;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A ReplaceFileA that failed with `error`. Its documented failures can leave
// the target's name empty, the new file still under its own name and the
// earlier one under the backup name; one of them is moved back into place:
// the new file, or else the earlier one. 1 when the new file is in place.
int RecoverFromReplace(DWORD error, const std::string& from, const std::string& to,
                       const std::string& backup)
{
    if (Exists(to)) {
        // Both files kept their names (or the earlier one is back).
        DeleteFileA(backup.c_str());
        errno = ErrnoFor(error);
        return 0;
    }
    if (MoveFileExA(from.c_str(), to.c_str(), 0)) {
        DeleteFileA(backup.c_str());
        return 1;
    }
    error = GetLastError();
    MoveFileExA(backup.c_str(), to.c_str(), 0);
    errno = ErrnoFor(error);
    return 0;
}

} // namespace

int InspectTarget(const char* target, TargetFacts& facts)
{
    facts = TargetFacts();
    SplitPath(target, facts);
    if (IsDeviceName(target)) {
        facts.kind = TargetKind::Device;
        facts.inPlace = true;
        return 1;
    }
    const DWORD attributes = GetFileAttributesA(target);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            facts.kind = TargetKind::Missing; // a missing folder fails at creation
            // A link to a missing file: "wb" creates that file, and so
            // does writing in place. A replacement would replace the link.
            facts.inPlace = error == ERROR_FILE_NOT_FOUND && NameIsTaken(target);
            return 1;
        }
        // Some devices answer no attributes but open (Wine's Z:\dev\null).
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        errno = EACCES; // as the C library's "wb" open of a folder answers
        return 0;
    }
    // Opened for writing, as "wb" opens it but without truncating: refused
    // for the read-only attribute, a denying security descriptor or another
    // program's lock, exactly where "wb" would be. Links are followed.
    const HANDLE handle = CreateFileA(target, GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ErrnoFor(GetLastError());
        return 0;
    }
    facts.kind = TargetKind::Regular;
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        facts.kind = TargetKind::Device;
        facts.inPlace = true;
    } else {
        // Hard links would be split off by a replacement.
        if (GetFileInformationByHandle(handle, &information))
            facts.inPlace = information.nNumberOfLinks > 1;
        // A symbolic link stays: the file it leads to is the one replaced.
        std::string path = target;
        FinalPathOf(handle, path);
        SplitPath(path, facts);
        // The replacement takes the file's security descriptor only where
        // this process may write one.
        if (!facts.inPlace && !MayWriteSecurity(target))
            facts.inPlace = true;
    }
    // A new file would not carry these: keep them by writing in place.
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) !=
            0)
        facts.inPlace = true;
    CloseHandle(handle);
    return 1;
}

void ReleaseTarget(TargetFacts&) {}

FILE* OpenInPlace(const char* target, TargetFacts& facts, bool keep)
{
    if (!keep || facts.kind != TargetKind::Missing)
        return std::fopen(target, "wb");
    const HANDLE handle = CreateFileA(target, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ErrnoFor(GetLastError());
        return nullptr;
    }
    const int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    FILE* opened = descriptor >= 0 ? _fdopen(descriptor, "wb") : nullptr;
    if (opened == nullptr) {
        if (descriptor >= 0)
            _close(descriptor);
        else
            CloseHandle(handle);
        errno = EMFILE;
    }
    return opened;
}

FILE* CreateTemporary(const TargetFacts& facts, const std::string& name)
{
    // Shared for deletion, so that an interrupt can remove it while it is
    // open, and for writing, so that another writer can write it under its
    // second name (NameForAnotherWriter).
    const std::string path = facts.folder + name;
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ErrnoFor(GetLastError());
        return nullptr;
    }
    const int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        DeleteFileA(path.c_str());
        errno = EMFILE;
        return nullptr;
    }
    FILE* opened = _fdopen(descriptor, "wb");
    if (opened == nullptr) {
        _close(descriptor);
        DeleteFileA(path.c_str());
        errno = EMFILE;
    }
    return opened;
}

int TakeOverFacts(FILE*, const TargetFacts&)
{
    return 1; // ReplaceFile carries them when it moves the file into place
}

bool LacksRight(int error)
{
    return error == EACCES || error == EPERM || error == ENOTSUP;
}

int FinishReplacement(FILE* replacement, const TargetFacts& facts)
{
    if (std::fflush(replacement) != 0)
        return 0;
    // Its data on the disk before it replaces the earlier file.
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(replacement)));
    if (facts.kind == TargetKind::Regular && !FlushFileBuffers(handle)) {
        errno = ErrnoFor(GetLastError());
        return 0;
    }
    return 1;
}

int LinkInFolder(const TargetFacts& facts, const std::string& from, const std::string& to)
{
    if (CreateHardLinkA((facts.folder + to).c_str(), (facts.folder + from).c_str(), nullptr))
        return 1;
    errno = ErrnoFor(GetLastError());
    return 0;
}

int MoveIntoPlace(const TargetFacts& facts, const std::string& from, const std::string& spare,
                  bool replace)
{
    const std::string source = facts.folder + from;
    const std::string target = facts.folder + facts.name;
    if (!replace) {
        if (MoveFileExA(source.c_str(), target.c_str(), 0))
            return 1;
        errno = ErrnoFor(GetLastError());
        return 0;
    }
    // The system's own replacement: the file keeps the replaced file's
    // security descriptor, attributes, alternate streams and creation time.
    // The earlier file goes to the spare name first, so that a failure
    // part way leaves it somewhere to come back from.
    const std::string backup = facts.folder + spare;
    if (::ReplaceFileA(target.c_str(), source.c_str(), backup.c_str(), 0, nullptr, nullptr)) {
        DeleteFileA(backup.c_str());
        return 1;
    }
    const DWORD error = GetLastError();
    // No file to replace: a new one.
    if (error == ERROR_FILE_NOT_FOUND && !Exists(target)) {
        if (MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
            return 1;
        errno = ErrnoFor(GetLastError());
        return 0;
    }
    return RecoverFromReplace(error, source, target, backup);
}

int RemoveInFolder(const TargetFacts& facts, const std::string& name)
{
    if (DeleteFileA((facts.folder + name).c_str()))
        return 1;
    errno = ErrnoFor(GetLastError());
    return 0;
}

uint32_t ProcessNumber()
{
    return uint32_t(_getpid());
}

} // namespace atomic_output
