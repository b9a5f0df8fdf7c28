#include "tests/test_support.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <stdexcept>

#include "pic/pic_header.h"

#include <cerrno>

#if defined(_WIN32)
#include <windows.h>
// after windows.h
#include <tlhelp32.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

#if defined(_WIN32)
namespace {

// Set once a Unix link was made under Wine: it may dangle, and a dangling
// link is invisible to Windows programs, which then cannot remove its folder.
bool unixLinksMade = false;

// Under Wine, the Unix name of a Windows path; "" elsewhere.
std::string UnixNameOf(const std::string& path)
{
    using UnixName = char*(CDECL*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    const std::wstring wide(path.begin(), path.end());
    char* name = unixName != nullptr ? unixName(wide.c_str()) : nullptr;
    if (name == nullptr)
        return "";
    std::string found = name;
    HeapFree(GetProcessHeap(), 0, name);
    return found;
}

// Runs a Unix program under Wine until `done` holds (at most 5 s): Wine
// starts it with no handle to wait on.
bool RunUnixProgram(std::string command, const std::function<bool()>& done)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    for (int wait = 0; wait < 500; ++wait) {
        if (done())
            return true;
        Sleep(10);
    }
    return false;
}

} // namespace
#endif

TempDir::TempDir()
{
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate =
            fs::temp_directory_path() /
            ("pic-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path = candidate.string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir()
{
#if defined(_WIN32)
    const std::string unixPath = unixLinksMade ? UnixNameOf(path) : std::string();
    if (!unixPath.empty())
        RunUnixProgram("Z:\\bin\\rm -rf \"" + unixPath + "\"",
                       [&] { return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES; });
#endif
    std::error_code error;
    fs::remove_all(path, error);
}

std::string TempDir::File(const std::string& name) const
{
    return (fs::path(path) / name).string();
}

void WriteFileBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

Bytes ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path)
{
    std::error_code error;
    return fs::exists(path, error);
}

Bytes MakePicHeaderBytes(int width, int height, bool withAlpha, bool compressed, float ratio)
{
    Bytes bytes = {0x53, 0x80, 0xF6, 0x34, 0x40, 0x6C, 0xCC, 0xCD};
    Bytes comment(80, 0);
    std::memcpy(comment.data(), kPicCommentPrefix, sizeof kPicCommentPrefix - 1);
    bytes.insert(bytes.end(), comment.begin(), comment.end());
    bytes.insert(bytes.end(), {'P', 'I', 'C', 'T'});
    uint32_t ratioBits;
    std::memcpy(&ratioBits, &ratio, 4);
    bytes.insert(bytes.end(), {uint8_t(width >> 8), uint8_t(width), uint8_t(height >> 8),
                               uint8_t(height), uint8_t(ratioBits >> 24), uint8_t(ratioBits >> 16),
                               uint8_t(ratioBits >> 8), uint8_t(ratioBits), 0, 3, 0, 0});
    const uint8_t type = compressed ? 2 : 0;
    bytes.insert(bytes.end(), {uint8_t(withAlpha ? 1 : 0), 8, type, 0xE0});
    if (withAlpha)
        bytes.insert(bytes.end(), {0, 8, type, 0x10});
    return bytes;
}

#if !defined(_WIN32)
// ", attributes name=hex ..." for a file's extended attributes (its access
// list among them), in the order the system lists them; "" for none.
std::string AttributesText(const std::string& path)
{
    char names[4096];
    const ssize_t size = llistxattr(path.c_str(), names, sizeof names);
    std::string text;
    for (ssize_t start = 0; start < size; start += ssize_t(std::strlen(names + start)) + 1) {
        uint8_t value[1024];
        const ssize_t length = lgetxattr(path.c_str(), names + start, value, sizeof value);
        text += std::string(text.empty() ? ", attributes " : " ") + (names + start) + "=";
        for (ssize_t i = 0; i < length; ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02x", value[i]);
            text += hex;
        }
    }
    return text;
}
#endif

#if !defined(_WIN32)
// ", flags dA" for the inode flags a file's owner chooses, as lsattr shows
// them; "" for none.
std::string FlagsText(const std::string& path)
{
    static const struct {
        int flag;
        char letter;
    } kFlags[] = {{FS_SECRM_FL, 's'},  {FS_UNRM_FL, 'u'},    {FS_SYNC_FL, 'S'},
                  {FS_NODUMP_FL, 'd'}, {FS_NOATIME_FL, 'A'}, {FS_COMPR_FL, 'c'},
                  {FS_NOCOW_FL, 'C'},  {FS_NOTAIL_FL, 't'},  {FS_JOURNAL_DATA_FL, 'j'}};
    const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    int flags = 0;
    const bool read = descriptor >= 0 && ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0;
    if (descriptor >= 0)
        close(descriptor);
    std::string letters;
    for (const auto& item : kFlags)
        if (read && (flags & item.flag) != 0)
            letters += item.letter;
    return letters.empty() ? "" : ", flags " + letters;
}
#endif

std::string DescribeFolder(const std::string& folder, const Bytes& earlier)
{
    std::set<std::string> lines;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        std::string line = entry.path().lexically_relative(folder).generic_string() + ": ";
        if (entry.is_symlink()) {
            // Links into the folder itself read the same for any folder.
            std::string text = fs::read_symlink(entry.path()).string();
            if (text.compare(0, folder.size(), folder) == 0)
                text = "<folder>" + text.substr(folder.size());
            line += "-> " + text;
        } else if (entry.is_directory()) {
            line += "folder";
        } else if (!entry.is_regular_file()) {
            line += "device";
        } else {
            line += ReadFileBytes(entry.path().string()) == earlier ? "earlier" : "written";
            if (entry.hard_link_count() > 1)
                line += ", " + std::to_string(entry.hard_link_count()) + " links";
#if !defined(_WIN32)
            struct stat facts;
            if (lstat(entry.path().c_str(), &facts) == 0) {
                char owner[64];
                std::snprintf(owner, sizeof owner, ", owner %u group %u mode %04o",
                              unsigned(facts.st_uid), unsigned(facts.st_gid),
                              unsigned(facts.st_mode & 07777));
                line += owner + AttributesText(entry.path().string()) +
                        FlagsText(entry.path().string());
            }
#endif
        }
        lines.insert(line);
    }
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

SmallFileSystem::SmallFileSystem(unsigned bytes)
{
#if defined(_WIN32)
    (void)bytes;
    unavailable = "no small file system to mount on Windows";
#else
    const std::string options = "size=" + std::to_string(bytes);
    if (geteuid() != 0)
        unavailable = "only root can mount a small file system to fill";
    else if (mount("tmpfs", folder.Path().c_str(), "tmpfs", 0, options.c_str()) != 0)
        unavailable = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
#endif
}

SmallFileSystem::~SmallFileSystem()
{
#if !defined(_WIN32)
    if (unavailable.empty())
        umount2(folder.Path().c_str(), MNT_DETACH);
#endif
}

void SmallFileSystem::Fill() const
{
    FILE* filler = std::fopen(File("filler").c_str(), "wb");
    if (filler == nullptr)
        throw std::runtime_error("cannot create the filler file");
    const Bytes block(4096, 0xAA);
    while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() &&
           std::fflush(filler) == 0) {
    }
    // Single bytes, until not even one more fits.
    std::clearerr(filler);
    while (std::fputc(0xAA, filler) != EOF && std::fflush(filler) == 0) {
    }
    std::fclose(filler);
}

int ProcessThreadCount()
{
#if defined(_WIN32)
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot list the process's threads");
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    CloseHandle(snapshot);
    return count;
#else
    int count = 0;
    for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
#endif
}

std::string RunAsNobody(const std::function<std::string()>& work, std::string& skipped)
{
#if defined(_WIN32)
    (void)work;
    skipped = "no other user to run as on Windows";
    return std::string();
#else
    if (geteuid() != 0) {
        skipped = "not root, so no other user to run as";
        return std::string();
    }
    int channel[2];
    if (pipe(channel) != 0) {
        skipped = "no pipe to the child";
        return std::string();
    }
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        std::string answer = "cannot become nobody";
        if (setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0)
            answer = work();
        const ssize_t written = write(channel[1], answer.data(), answer.size());
        _exit(written == ssize_t(answer.size()) ? 0 : 1);
    }
    close(channel[1]);
    std::string answer;
    char buffer[4096];
    for (ssize_t got; (got = read(channel[0], buffer, sizeof buffer)) > 0;)
        answer.append(buffer, size_t(got));
    close(channel[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        skipped = "the child running as nobody failed";
    return answer;
#endif
}

bool RunningUnderWine()
{
#if defined(_WIN32)
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

#if defined(_WIN32)
void* ReplaceImport(const char* library, const char* function, void* replacement)
{
    auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
    for (; imports.VirtualAddress != 0 && entry->Name != 0; ++entry) {
        if (_stricmp(reinterpret_cast<const char*>(base + entry->Name), library) != 0)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto* named =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(named->Name), function) != 0)
                continue;
            DWORD protection = 0;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                           &protection);
            void* before = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
            return before;
        }
    }
    return nullptr;
}
#endif

bool MakeSymbolicLink(const std::string& text, const std::string& link)
{
#if defined(_WIN32)
    if (!RunningUnderWine()) {
        std::string windowsText = text;
        for (char& c : windowsText)
            c = c == '/' ? '\\' : c;
        // Vista and later: looked up, as the build targets older systems too.
        using CreateLink = BOOLEAN(APIENTRY*)(LPCSTR, LPCSTR, DWORD);
        const auto createLink = reinterpret_cast<CreateLink>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkA")));
        constexpr DWORD kUnprivileged = 0x2; // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
        return createLink != nullptr &&
               createLink(link.c_str(), windowsText.c_str(), kUnprivileged) != 0;
    }
    const std::string unixLink = UnixNameOf(link);
    if (unixLink.empty())
        return false;
    // A link to a missing file does not show: it is made to a file made
    // for the purpose, which goes once the link shows.
    const std::string pointee = link.substr(0, link.find_last_of("/\\") + 1) + text;
    const bool madePointee = !FileExists(pointee);
    if (madePointee)
        WriteFileBytes(pointee, {});
    unixLinksMade = true;
    const bool shown = RunUnixProgram("Z:\\bin\\ln -s \"" + text + "\" \"" + unixLink + "\"", [&] {
        return GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES;
    });
    if (madePointee)
        DeleteFileA(pointee.c_str());
    return shown;
#else
    return symlink(text.c_str(), link.c_str()) == 0;
#endif
}

std::string ProgramBesideTest(const std::string& name)
{
#if defined(_WIN32)
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    const std::string self(path, length);
    return self.substr(0, self.find_last_of("\\/") + 1) + name + ".exe";
#else
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string self(path, length > 0 ? size_t(length) : 0);
    return self.substr(0, self.find_last_of('/') + 1) + name;
#endif
}

namespace {

std::string ReadText(const std::string& path)
{
    const Bytes bytes = FileExists(path) ? ReadFileBytes(path) : Bytes{};
    return std::string(bytes.begin(), bytes.end());
}

#if defined(_WIN32)
// One argument quoted for the C runtime's command-line parser.
std::string Quote(const std::string& argument)
{
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

HANDLE OpenInheritable(const std::string& path, bool reading)
{
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
    return CreateFileA(path.c_str(), reading ? GENERIC_READ : GENERIC_WRITE, FILE_SHARE_READ,
                       &security, reading ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

int Spawn(const std::string& program, const std::vector<std::string>& arguments,
          const std::string& inputPath, const std::string& outPath, const std::string& errPath)
{
    std::string commandLine = Quote(program);
    for (const std::string& argument : arguments)
        commandLine += " " + Quote(argument);
    HANDLE in = inputPath.empty() ? nullptr : OpenInheritable(inputPath, true);
    HANDLE out = OpenInheritable(outPath, false);
    HANDLE err = OpenInheritable(errPath, false);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in != nullptr ? in : GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    const BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    if (in != nullptr)
        CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    if (!started)
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = DWORD(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return int(code);
}
#else
int Spawn(const std::string& program, std::vector<std::string> arguments,
          const std::string& inputPath, const std::string& outPath, const std::string& errPath)
{
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        if (!inputPath.empty())
            dup2(open(inputPath.c_str(), O_RDONLY), 0);
        dup2(open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}
#endif

} // namespace

ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& folder, const std::string& inputPath)
{
    const std::string outPath = (fs::path(folder) / "stdout.txt").string();
    const std::string errPath = (fs::path(folder) / "stderr.txt").string();
    ProcessResult result;
    result.exitCode = Spawn(program, arguments, inputPath, outPath, errPath);
    result.out = ReadText(outPath);
    result.err = ReadText(errPath);
    return result;
}
