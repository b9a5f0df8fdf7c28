// Helpers shared by the tests: a private temporary folder, whole-file I/O,
// folders and file systems to write into, and programs of the build to run.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path; }
    // `name` inside the folder.
    std::string File(const std::string& name) const;

private:
    std::string path;
};

void WriteFileBytes(const std::string& path, const Bytes& bytes);
Bytes ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);

// A PIC file header as we write it (104 bytes, comment "" after the prefix),
// followed by the packets for the given layout: for building test files.
Bytes MakePicHeaderBytes(int width, int height, bool withAlpha, bool compressed,
                         float ratio = 1.0f);

// Every entry under `folder`, links not followed, one line each: its path
// within the folder, then "-> text" for a link (the folder's own path in it
// written "<folder>"), "folder", "device", or for a
// file "earlier" when it holds `earlier` and "written" otherwise, with its
// hard-link count above 1 and, on POSIX, its owner, group, permission bits,
// extended attributes (access lists among them) and the inode flags its owner
// chooses.
std::string DescribeFolder(const std::string& folder, const Bytes& earlier);

// A file system of `bytes` mounted on a fresh folder while the object lives
// (a tmpfs: only root may mount one), which Fill then fills up.
class SmallFileSystem {
public:
    explicit SmallFileSystem(unsigned bytes);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    // Empty when mounted, else why not (a test skips with it).
    const std::string& Unavailable() const { return unavailable; }
    std::string File(const std::string& name) const { return folder.File(name); }
    // Writes the file "filler" until no byte more fits.
    void Fill() const;

private:
    TempDir folder;
    std::string unavailable;
};

// Runs `work` in a child process that has given up root for the user
// "nobody" (65534) and answers what it returns; empty when this process is
// not root or cannot fork, which `skipped` then explains.
std::string RunAsNobody(const std::function<std::string()>& work, std::string& skipped);
// Makes `link` a symbolic link whose text is `text` (relative to the link's
// folder, '/' between names). Under Wine the link is a Unix one, made by the
// Unix ln, as Wine's own CreateSymbolicLinkA makes none. False where the
// system will not.
bool MakeSymbolicLink(const std::string& text, const std::string& link);
// True when the Windows build runs under Wine.
bool RunningUnderWine();
#if defined(_WIN32)
// Points this program's import of `function` from `library` (as the linker
// named it: "KERNEL32.dll") at `replacement`, so that code linked into the
// program calls the stand-in; answers the function called before, or null
// where the program imports no such function.
void* ReplaceImport(const char* library, const char* function, void* replacement);
#endif

// A program of the build, such as "pictool", in the folder of the running
// test ("pictool.exe" on Windows).
std::string ProgramBesideTest(const std::string& name);

struct ProcessResult {
    int exitCode = -1; // -1 when it could not be run or did not exit
    std::string out;
    std::string err;
};

// Runs `program` with `arguments`, standard input from `inputPath` (empty:
// the test's own), and returns its exit code and what it wrote, captured
// through files in `folder`.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& folder, const std::string& inputPath = "");

// How many threads this process has now.
int ProcessThreadCount();
